#include "support/threads/RWThreadImp.h"
#include "support/threads/forcedUnwind.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <cerrno>

#include "support/threads/RWThreadManagerImp.h"
#include "support/threads/exitState.h"
#include "support/threads/posixFailure.h"

namespace {

void disableCancellation() {
    int previous = 0;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);
}

// Only the thread's own work runs cancellable. The library's bookkeeping
// around it (monitor, registry, states) runs with cancellation disabled, so a
// termination never leaves those locks held.
void enableAsynchronousCancellation() {
    int previous = 0;
    pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, &previous);
    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &previous);
}

// Builds the attributes of a new thread; on failure they are destroyed
// before the exception leaves.
void prepareAttributes(pthread_attr_t* attributes, const RWThreadAttribute& wanted) {
    int rc = pthread_attr_init(attributes);
    if (rc != 0) {
        throwThreadCreationFailure("pthread_attr_init() - ", rc);
    }
    const char* failedCall = nullptr;
    rc = pthread_attr_setinheritsched(attributes, wanted.inheritPolicy);
    if (rc != 0) {
        failedCall = "pthread_attr_setinheritsched() - ";
    } else {
        rc = pthread_attr_setdetachstate(attributes, PTHREAD_CREATE_DETACHED);
        if (rc != 0) {
            failedCall = "pthread_attr_setdetachstate() - ";
        }
    }
    if (failedCall != nullptr) {
        pthread_attr_destroy(attributes);
        throwThreadCreationFailure(failedCall, rc);
    }
}

// Arranges for the new thread to start on the processor this thread runs on,
// and keeps this thread's processor set in `creatorAffinity` for the new
// thread to restore. The creator sleeps in the start handshake until the new
// thread has run; started on another processor that is busy, the new thread
// often waited for that processor's next scheduler tick, and the creator (the
// client loop) with it. Here it runs as soon as the creator sleeps. False when
// it cannot be arranged: the thread then starts wherever the system puts it.
bool startOnThisProcessor(pthread_attr_t* attributes, cpu_set_t* creatorAffinity) {
    int cpu = sched_getcpu();
    if (cpu < 0 || cpu >= CPU_SETSIZE ||
        pthread_getaffinity_np(pthread_self(), sizeof *creatorAffinity, creatorAffinity) != 0 ||
        CPU_COUNT(creatorAffinity) < 2) {
        return false;
    }
    cpu_set_t here;
    CPU_ZERO(&here);
    CPU_SET(cpu, &here);
    return pthread_attr_setaffinity_np(attributes, sizeof here, &here) == 0;
}

}  // namespace

RWThreadAttribute RWThreadAttribute::systemDefault() {
    RWThreadAttribute attribute{PTHREAD_INHERIT_SCHED};
    pthread_attr_t defaults;
    if (pthread_attr_init(&defaults) == 0) {
        pthread_attr_getinheritsched(&defaults, &attribute.inheritPolicy);
        pthread_attr_destroy(&defaults);
    }
    return attribute;
}

RWThreadImp::RWThreadImp()
    : manager(&RWThreadManagerImp::instance()),
      requestedAttribute(RWThreadAttribute::systemDefault()),
      activeAttribute(requestedAttribute),
      terminating(false),
      gone(true) {}

RWThreadImp::~RWThreadImp() = default;

void RWThreadImp::exec() {
    // The exit has begun: a thread started now would escape its shutdown.
    if (!manager.body()->acceptsThreads()) {
        throwThreadCreationFailure("pthread_create() - ", EAGAIN);
    }
    activeAttribute = requestedAttribute;
    pthread_attr_t attributes;
    prepareAttributes(&attributes, activeAttribute);
    startsOnCreatorProcessor = startOnThisProcessor(&attributes, &creatorAffinity);
    terminating.store(false);
    gone.store(false);
    pthread_t created;
    int rc = pthread_create(&created, &attributes, &RWThreadImp::entry, this);
    pthread_attr_destroy(&attributes);
    if (rc == EINVAL && startsOnCreatorProcessor) {
        // The processor left this process's set meanwhile: start anywhere.
        startsOnCreatorProcessor = false;
        prepareAttributes(&attributes, activeAttribute);
        rc = pthread_create(&created, &attributes, &RWThreadImp::entry, this);
        pthread_attr_destroy(&attributes);
    }
    if (rc != 0) {
        gone.store(true);
        throwThreadCreationFailure("pthread_create() - ", rc);
    }

    // Handshake: the new thread cannot take the monitor until this thread
    // waits here. It registers itself and stops in state 8 (interrupted) until
    // released below, so the thread is registered when start() returns.
    if (state == kInitial) {
        return;
    }
    interruptCount += 1;
    int32_t wokenBy = waitStateLocked(kInitial | kInterrupted);
    if (wokenBy == kInitial) {
        interruptCount -= 1;
        return;
    }
    previousState = kRunning;
    interruptCount -= 1;
    if (interruptCount == 0) {
        setExecutionState(previousState);
    }
}

void RWThreadImp::beforeRun() {
    // Registration takes a reference, which needs the monitor.
    pthread_t self = threadId;
    releaseMonitor();
    try {
        manager.body()->registerThread(self, RWTHandle<RWThreadImp>(this));
    } catch (...) {
        monitor().acquire();
        throw;
    }
    monitor().acquire();
    if (interruptCount > 0) {
        setExecutionState(kInterrupted);
        waitStateLocked(~kInterrupted);
    }
}

void RWThreadImp::afterRun() {
    pthread_t self = threadId;
    releaseMonitor();
    try {
        manager.body()->deregisterThread(self);
    } catch (...) {
        monitor().acquire();
        throw;
    }
    monitor().acquire();
}

RW_CATCHES_FORCED_UNWIND
void* RWThreadImp::entry(void* argument) {
    disableCancellation();
    try {
        // The thread's own reference: the body lives while the thread runs,
        // even when every application handle is dropped meanwhile.
        RWTHandle<RWThreadImp> self(static_cast<RWThreadImp*>(argument));
        self.body()->runOnThisThread();
    } catch (abi::__forced_unwind&) {
        // Cancellation unwinds the thread; swallowing it would abort.
        throw;
    } catch (...) {
        // A failure of the library's own locks: nobody is left to tell.
    }
    return nullptr;
}

RW_CATCHES_FORCED_UNWIND
void RWThreadImp::runOnThisThread() {
    if (startsOnCreatorProcessor) {
        // Started where the creator runs only to get going at once; the rest
        // runs wherever the scheduler likes. A failure leaves it where it is.
        pthread_setaffinity_np(pthread_self(), sizeof creatorAffinity, &creatorAffinity);
    }
    std::unique_ptr<RWTHRxmsg> failure;
    int32_t outcome = kNormal;
    {
        MonitorGuard guard(*this);
        threadId = pthread_self();
        threadIdValid = true;
        try {
            beforeRun();
            if (state != kRunning) {
                setExecutionState(kRunning);
            }
        } catch (...) {
            // Not registered or not released: the run ends before it began,
            // which also wakes a start() still in its handshake.
            outcome = classifyCaught(failure);
            finishRun(outcome, std::move(failure));
            gone.store(true);
            return;
        }
    }

    try {
        enableAsynchronousCancellation();
        run();
        disableCancellation();
    } catch (abi::__forced_unwind&) {
        if (!terminating.load()) {
            // Cancelled or exited by other means than the exit path: the
            // monitor and registry are still safe to use.
            MonitorGuard guard(*this);
            finishRun(kCanceled, std::make_unique<RWTHROperationCanceled>("Runnable cancelled"));
        }
        gone.store(true);
        throw;
    } catch (...) {
        disableCancellation();
        outcome = classifyCaught(failure);
    }

    MonitorGuard guard(*this);
    finishRun(outcome, std::move(failure));
    gone.store(true);
}

// Inside a catch block: the completion state of what was caught, and the
// failure to record for it. Never throws: when memory is too short even for
// the record, the outcome stands without one, for a classification that
// escaped would leave the run unfinished and its starter waiting for ever.
int32_t RWThreadImp::classifyCaught(std::unique_ptr<RWTHRxmsg>& failure) {
    int32_t outcome = kFailed;
    try {
        try {
            throw;
        } catch (RWCancellation& cancellation) {
            if (cancellation.isFor(this)) {
                cancellation.markDelivered();
                outcome = kCanceled;
                failure = std::make_unique<RWTHROperationCanceled>("Runnable cancelled");
            } else {
                failure = std::make_unique<RWTHRxmsg>("Unrecognized exception");
            }
        } catch (const RWTHRxmsg& caught) {
            failure.reset(caught.copy());
        } catch (const RWxmsg& caught) {
            failure = std::make_unique<RWTHRxmsg>(caught.message());
        } catch (...) {
            failure = std::make_unique<RWTHRxmsg>("Unrecognized exception");
        }
    } catch (const std::exception&) {
        failure.reset();
    }
    return outcome;
}

bool RWThreadImp::terminate() {
    MonitorGuard guard(*this);
    if (!threadIdValid) {
        return false;
    }
    // With the monitor held the thread cannot pass the end of its run, so its
    // identifier still names it.
    terminating.store(true);
    noteThreadTerminatedAtExit();
    pthread_cancel(threadId);
    return true;
}

bool RWThreadImp::waitUntilGone(unsigned long milliseconds) {
    // Polled: the dying thread may hold any lock, so nothing here waits on one.
    const timespec pause{0, 1000000};
    for (unsigned long waited = 0; !gone.load(); ++waited) {
        if (waited >= milliseconds) {
            return false;
        }
        nanosleep(&pause, nullptr);
    }
    return true;
}
