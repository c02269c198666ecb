#include "service/waitingConnectionThreads.h"

#include <time.h>

#include <cstdlib>
#include <vector>

#include "support/threads/RWThreadManagerImp.h"

namespace {

constexpr std::chrono::milliseconds kCloseBoundAtExit{2'000};

// Connection threads run cancellable at any instruction; the bookkeeping
// here must not be cut off halfway with the mutex held. The wait itself stays
// cancellable.
class NoCancellation {
  public:
    NoCancellation() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous); }
    ~NoCancellation() { pthread_setcancelstate(previous, &previous); }
    NoCancellation(const NoCancellation&) = delete;
    NoCancellation& operator=(const NoCancellation&) = delete;

  private:
    int previous = 0;
};

// A thread that has returned from its function leaves the registry within
// microseconds; polled, since nothing signals it.
bool waitUntilDeregistered(pthread_t thread, std::chrono::steady_clock::time_point deadline) {
    RWThreadManagerImp& registry = RWThreadManagerImp::instance();
    const timespec nap{0, 200'000};
    while (registry.isRegistered(thread)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        nanosleep(&nap, nullptr);
    }
    return true;
}

void closeAtExit() {
    try {
        waitingConnectionThreads().close(kCloseBoundAtExit);
    } catch (...) {
        // An exit handler that throws would end the process abnormally.
    }
}

}  // namespace

WaitingConnectionThreads::WaitingConnectionThreads(std::chrono::milliseconds idleWait)
    : idleWait(idleWait) {}

void WaitingConnectionThreads::push(Waiter* waiter) {
    waiter->older = newest;
    waiter->newer = nullptr;
    if (newest != nullptr) {
        newest->newer = waiter;
    }
    newest = waiter;
    waiting.fetch_add(1, std::memory_order_relaxed);
}

void WaitingConnectionThreads::unlink(Waiter* waiter) {
    if (waiter->newer != nullptr) {
        waiter->newer->older = waiter->older;
    } else {
        newest = waiter->older;
    }
    if (waiter->older != nullptr) {
        waiter->older->newer = waiter->newer;
    }
    waiter->older = waiter->newer = nullptr;
    waiting.fetch_sub(1, std::memory_order_relaxed);
}

bool WaitingConnectionThreads::handOver(int fd_client) {
    Waiter* waiter = nullptr;
    {
        NoCancellation noCancellation;
        std::lock_guard<std::mutex> lock(mutex);
        if (closed || newest == nullptr) {
            return false;
        }
        waiter = newest;
        unlink(waiter);
        waiter->fd_client = fd_client;
        waiter->handed = true;
    }
    // Outside the lock: the woken thread does not run into it. The waiter
    // stays alive until it has taken this release.
    waiter->woken.release();
    return true;
}

bool WaitingConnectionThreads::awaitNext(int& fd_client, void (*connectionDone)()) {
    Waiter self;
    self.thread = pthread_self();
    bool joined = false;
    {
        NoCancellation noCancellation;
        std::lock_guard<std::mutex> lock(mutex);
        if (!closed) {
            push(&self);
            joined = true;
        }
    }
    connectionDone();
    if (!joined) {
        return false;
    }
    if (!self.woken.acquire(static_cast<unsigned long>(idleWait.count()))) {
        NoCancellation noCancellation;
        std::unique_lock<std::mutex> lock(mutex);
        if (!self.handed) {
            unlink(&self);
            return false;
        }
        // Handed over just as the wait ran out: its release is on the way.
        lock.unlock();
        self.woken.acquire();
    }
    if (self.dismissed) {
        return false;
    }
    fd_client = self.fd_client;
    return true;
}

int WaitingConnectionThreads::close(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::vector<Waiter*> dismissed;
    std::vector<pthread_t> threads;
    {
        NoCancellation noCancellation;
        std::lock_guard<std::mutex> lock(mutex);
        closed = true;
        dismissed.reserve(static_cast<size_t>(waiting.load(std::memory_order_relaxed)));
        while (newest != nullptr) {
            Waiter* waiter = newest;
            unlink(waiter);
            waiter->handed = true;
            waiter->dismissed = true;
            dismissed.push_back(waiter);
        }
    }
    // Each thread id is read before its release: after it the waiter may be gone.
    threads.reserve(dismissed.size());
    for (Waiter* waiter : dismissed) {
        threads.push_back(waiter->thread);
        waiter->woken.release();
    }
    for (pthread_t thread : threads) {
        if (!waitUntilDeregistered(thread, deadline)) {
            break;
        }
    }
    return static_cast<int>(threads.size());
}

WaitingConnectionThreads& waitingConnectionThreads() {
    static WaitingConnectionThreads* const threads = [] {
        // The registry exists first, so this exit handler, registered after
        // the registry's, runs before it.
        RWThreadManagerImp::instance();
        auto* made = new WaitingConnectionThreads(kConnectionThreadIdleWait);
        std::atexit(closeAtExit);
        return made;
    }();
    return *threads;
}

ConnectionThreadCounts connectionThreadCounts() {
    return waitingConnectionThreads().counts();
}
