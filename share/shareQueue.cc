#include "share/shareQueue.h"

#include <algorithm>

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

std::size_t ShareQueue::peekBatch(std::vector<FarmLogoff>& out, std::size_t most,
                                  std::chrono::milliseconds wait) const {
    std::unique_lock lock(mutex_);
    ready_.wait_for(lock, wait, [this] { return !logoffs_.empty(); });
    std::size_t taken = std::min(most, logoffs_.size());
    out.insert(out.end(), logoffs_.begin(), logoffs_.begin() + static_cast<std::ptrdiff_t>(taken));
    return taken;
}

void ShareQueue::dropFront(std::size_t count) {
    std::lock_guard lock(mutex_);
    logoffs_.erase(logoffs_.begin(), logoffs_.begin() + static_cast<std::ptrdiff_t>(
                                                            std::min(count, logoffs_.size())));
}

std::size_t ShareQueue::size() const {
    std::lock_guard lock(mutex_);
    return logoffs_.size();
}

std::vector<FarmLogoff> ShareQueue::snapshot() const {
    std::lock_guard lock(mutex_);
    return {logoffs_.begin(), logoffs_.end()};
}

std::size_t ShareQueue::restore(const std::vector<FarmLogoff>& logoffs) {
    std::size_t taken = 0;
    for (const FarmLogoff& logoff : logoffs) {
        if (!push(logoff)) {
            break;
        }
        ++taken;
    }
    return taken;
}
