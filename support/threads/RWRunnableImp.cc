#include "support/threads/RWRunnableImp.h"
#include "support/threads/forcedUnwind.h"


#include <algorithm>
#include <exception>
#include <string>

#include "support/threads/RWSemaphore.h"

struct RWRunnableImp::StateWaiter {
    int32_t mask;
    RWSemaphore semaphore{0};
    int32_t wokenBy = 0;
};

RWCancellation::RWCancellation(RWRunnableImp& runnable) : target(&runnable), live(true) {}

RWCancellation::RWCancellation(const RWCancellation& other) : target(other.target), live(false) {}

RWCancellation::~RWCancellation() {
    if (live) {
        try {
            target->abandonCancellation();
        } catch (const RWxmsg&) {
        } catch (const std::exception&) {
        }
    }
}

RWRunnableImp::RWRunnableImp()
    : state(kInitial),
      interruptCount(0),
      previousState(kInitial),
      threadId(),
      threadIdValid(false),
      completion(kPending),
      cancelRequested(false) {}

RWRunnableImp::~RWRunnableImp() = default;

int32_t RWRunnableImp::start() {
    RWMutexLock::LockGuard guard(monitor());
    if (state != kInitial) {
        throw RWTHRThreadActive("RWRunnableImp::start - The runnable is already started");
    }
    completion = kPending;
    if (cancelRequested) {
        setExecutionState(kCanceling);
        cancelRequested = false;
        completion = kCanceled;
        failure = std::make_unique<RWTHROperationCanceled>("Runnable cancelled");
        setExecutionState(kInitial);
        return completion;
    }
    setExecutionState(kStarting);
    try {
        exec();
    } catch (...) {
        // Nothing was launched: the runnable may be started again.
        if (state == kStarting) {
            setExecutionState(kInitial);
        }
        throw;
    }
    return completion;
}

RW_CATCHES_FORCED_UNWIND
int32_t RWRunnableImp::requestCancellation(unsigned long timeOut) {
    const std::string prefix = "RWRunnableImp::requestCancellation - ";
    try {
        RWMutexLock::LockGuard guard(monitor());
        if (threadIdValid && pthread_equal(threadId, pthread_self())) {
            throw RWTHRIllegalAccess(
                prefix + "Internal thread illegally attempted to call this external function");
        }
        cancelRequested = true;
        if ((state & ~(kInitial | kStarting)) == 0) {
            return 1;
        }
        int32_t wokenBy = waitStateLocked(kInitial | kAbandoned, timeOut);
        if (wokenBy == kInitial) {
            return 1;
        }
        if (wokenBy == kAbandoned) {
            return 2;
        }
        return state == kInitial ? 1 : 0;
    } catch (const RWTHRIllegalAccess&) {
        throw;
    } catch (const RWxmsg& caught) {
        throw RWTHRInternalError(prefix + caught.message());
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        throw RWTHRInternalError(prefix + "Unrecognized exception");
    }
}

void RWRunnableImp::serviceCancellation() {
    RWMutexLock::LockGuard guard(monitor());
    if (!cancelRequested) {
        return;
    }
    setExecutionState(kCanceling);
    throw RWCancellation(*this);
}

void RWRunnableImp::abandonCancellation() {
    RWMutexLock::LockGuard guard(monitor());
    setExecutionState(kAbandoned);
    setExecutionState(kRunning);
}

int32_t RWRunnableImp::executionState() {
    RWMutexLock::LockGuard guard(monitor());
    return state;
}

int32_t RWRunnableImp::completionState() {
    RWMutexLock::LockGuard guard(monitor());
    return completion;
}

std::unique_ptr<RWTHRxmsg> RWRunnableImp::exception() {
    RWMutexLock::LockGuard guard(monitor());
    return std::unique_ptr<RWTHRxmsg>(failure ? failure->copy() : nullptr);
}

bool RWRunnableImp::runningThread(pthread_t* thread) {
    RWMutexLock::LockGuard guard(monitor());
    if (threadIdValid) {
        *thread = threadId;
    }
    return threadIdValid;
}

int32_t RWRunnableImp::waitExecutionState(int32_t mask) {
    RWMutexLock::LockGuard guard(monitor());
    return waitStateLocked(mask);
}

int32_t RWRunnableImp::waitExecutionState(int32_t mask, unsigned long milliseconds) {
    RWMutexLock::LockGuard guard(monitor());
    return waitStateLocked(mask, milliseconds);
}

void RWRunnableImp::setExecutionState(int32_t newState) {
    previousState = state;
    state = newState;
    auto woken = std::stable_partition(waiters.begin(), waiters.end(),
                                       [&](StateWaiter* w) { return (w->mask & newState) == 0; });
    std::vector<StateWaiter*> released(woken, waiters.end());
    waiters.erase(woken, waiters.end());
    for (StateWaiter* waiter : released) {
        // The waiter needs the monitor to return, so it outlives this call.
        waiter->wokenBy = newState;
        waiter->semaphore.release();
    }
}

int32_t RWRunnableImp::waitStateLocked(int32_t mask) {
    // A day at a time, so one wait covers every case without a second path.
    for (;;) {
        int32_t wokenBy = waitStateLocked(mask, 24UL * 3600 * 1000);
        if (wokenBy != 0) {
            return wokenBy;
        }
    }
}

int32_t RWRunnableImp::waitStateLocked(int32_t mask, unsigned long milliseconds) {
    if ((state & mask) != 0) {
        return state;
    }
    StateWaiter waiter;
    waiter.mask = mask;
    waiters.push_back(&waiter);
    auto forget = [&] {
        auto it = std::find(waiters.begin(), waiters.end(), &waiter);
        bool pending = it != waiters.end();
        if (pending) {
            waiters.erase(it);
        }
        return pending;
    };
    bool released = false;
    monitor().release();
    try {
        released = waiter.semaphore.acquire(milliseconds);
    } catch (...) {
        monitor().acquire();
        forget();
        throw;
    }
    monitor().acquire();
    if (!released && forget()) {
        return 0;
    }
    // Released, possibly just as the time ran out.
    return waiter.wokenBy;
}

void RWRunnableImp::finishRun(int32_t outcome, std::unique_ptr<RWTHRxmsg> runFailure) {
    completion = outcome;
    failure = std::move(runFailure);
    cancelRequested = false;
    afterRun();
    threadIdValid = false;
    if (outcome == kFailed) {
        setExecutionState(kException);
    }
    setExecutionState(kInitial);
}
