#include "share/shareQueue.h"

bool ShareQueue::push(const FarmLogoff& logoff) {
    std::unique_lock lock(mutex_);
    if (logoffs_.size() >= capacity_) {
        return false;
    }
    logoffs_.push_back(logoff);
    bool wasEmpty = logoffs_.size() == 1;
    lock.unlock();
    // Only the publisher waits, and only on an empty queue.
    if (wasEmpty) {
        ready_.notify_one();
    }
    return true;
}

std::size_t ShareQueue::popBatch(std::vector<FarmLogoff>& out, std::size_t most,
                                 std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    ready_.wait_for(lock, wait, [this] { return !logoffs_.empty(); });
    std::size_t taken = 0;
    while (taken < most && !logoffs_.empty()) {
        out.push_back(logoffs_.front());
        logoffs_.pop_front();
        ++taken;
    }
    return taken;
}

std::size_t ShareQueue::size() const {
    std::lock_guard lock(mutex_);
    return logoffs_.size();
}
