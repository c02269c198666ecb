#include "support/threads/RWRunnableImp.h"
#include "support/threads/forcedUnwind.h"

#include <exception>
#include <string>

#include "support/threads/RWSemaphore.h"

// A thread blocked until the execution state shares a bit with `mask`. A
// state change moves it from `waiters` to `wakeups`, and releaseMonitor()
// releases its semaphore once the monitor is free.
struct RWRunnableImp::StateWaiter {
    int32_t mask;
    RWSemaphore semaphore{0};
    int32_t wokenBy = 0;
    StateWaiter* next = nullptr;
};

namespace {

// Unlinks `waiter` from the list at `head`; false when it is not there.
template <class Waiter>
bool unlink(Waiter*& head, Waiter* waiter) {
    for (Waiter** link = &head; *link != nullptr; link = &(*link)->next) {
        if (*link == waiter) {
            *link = waiter->next;
            waiter->next = nullptr;
            return true;
        }
    }
    return false;
}

}  // namespace

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
      cancelRequested(false),
      waiters(nullptr),
      wakeups(nullptr) {}

RWRunnableImp::~RWRunnableImp() = default;

int32_t RWRunnableImp::start() {
    MonitorGuard guard(*this);
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
    if (completion == kFailed) {
        // The monitor was held since the launch, so the run cannot have
        // reached its end: the thread failed before its function began, and
        // the caller must learn that the work will not be done.
        if (failure) {
            failure->rethrow();
        }
        throw RWTHRInternalError("RWRunnableImp::start - Unrecognized exception");
    }
    return completion;
}

RW_CATCHES_FORCED_UNWIND
int32_t RWRunnableImp::requestCancellation(unsigned long timeOut) {
    const std::string prefix = "RWRunnableImp::requestCancellation - ";
    try {
        MonitorGuard guard(*this);
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
    MonitorGuard guard(*this);
    if (!cancelRequested) {
        return;
    }
    setExecutionState(kCanceling);
    throw RWCancellation(*this);
}

void RWRunnableImp::abandonCancellation() {
    MonitorGuard guard(*this);
    setExecutionState(kAbandoned);
    setExecutionState(kRunning);
}

int32_t RWRunnableImp::executionState() {
    MonitorGuard guard(*this);
    return state;
}

int32_t RWRunnableImp::completionState() {
    MonitorGuard guard(*this);
    return completion;
}

std::unique_ptr<RWTHRxmsg> RWRunnableImp::exception() {
    MonitorGuard guard(*this);
    return std::unique_ptr<RWTHRxmsg>(failure ? failure->copy() : nullptr);
}

bool RWRunnableImp::runningThread(pthread_t* thread) {
    MonitorGuard guard(*this);
    if (threadIdValid) {
        *thread = threadId;
    }
    return threadIdValid;
}

int32_t RWRunnableImp::waitExecutionState(int32_t mask) {
    MonitorGuard guard(*this);
    return waitStateLocked(mask);
}

int32_t RWRunnableImp::waitExecutionState(int32_t mask, unsigned long milliseconds) {
    MonitorGuard guard(*this);
    return waitStateLocked(mask, milliseconds);
}

RWRunnableImp::MonitorGuard::~MonitorGuard() {
    try {
        runnable.releaseMonitor();
    } catch (const RWxmsg&) {
    } catch (const std::exception&) {
    }
}

void RWRunnableImp::releaseMonitor() {
    StateWaiter* woken = wakeups;
    wakeups = nullptr;
    monitor().release();
    // A waiter taken out of the list here stays until its semaphore is
    // released: waitStateLocked() waits for that before it returns. So its
    // link is read before the release, never after.
    while (woken != nullptr) {
        StateWaiter* next = woken->next;
        woken->semaphore.release();
        woken = next;
    }
}

void RWRunnableImp::setExecutionState(int32_t newState) {
    previousState = state;
    state = newState;
    for (StateWaiter** link = &waiters; *link != nullptr;) {
        StateWaiter* waiter = *link;
        if ((waiter->mask & newState) == 0) {
            link = &waiter->next;
            continue;
        }
        *link = waiter->next;
        waiter->wokenBy = newState;
        waiter->next = wakeups;
        wakeups = waiter;
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
    waiter.next = waiters;
    waiters = &waiter;
    // With the monitor held, after the semaphore wait failed or timed out:
    // true when no state change had released the waiter yet.
    auto forget = [&] {
        if (unlink(waiters, &waiter)) {
            return true;
        }
        if (unlink(wakeups, &waiter)) {
            return false;
        }
        // Another thread is releasing the semaphore right now; it must not
        // outlive this wait.
        releaseMonitor();
        waiter.semaphore.acquire();
        monitor().acquire();
        return false;
    };
    bool released = false;
    releaseMonitor();
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
