// The body of something that runs: its execution state (a bit value that
// others can wait for), its completion state and the failure of its last run.
// Every field is guarded by the body's monitor mutex.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <memory>

#include "support/threads/RWHandleBase.h"
#include "support/threads/RWxmsg.h"

class RWRunnableImp;

// Raised by serviceCancellation() on the runnable's own thread. When it does
// not reach the end of the run (the function caught and dropped it), the
// runnable reports the cancellation as abandoned.
class RWCancellation {
  public:
    explicit RWCancellation(RWRunnableImp& runnable);
    // A copy is inert: only the object that was thrown reports abandonment.
    RWCancellation(const RWCancellation& other);
    RWCancellation& operator=(const RWCancellation&) = delete;
    ~RWCancellation();

    bool isFor(const RWRunnableImp* runnable) const { return target == runnable; }
    // Called by the runnable that ends its run because of this cancellation.
    void markDelivered() { live = false; }

  private:
    RWRunnableImp* target;
    bool live;
};

class RWRunnableImp : public RWBodyBase {
  public:
    // Execution states; a wait mask may combine several.
    static constexpr int32_t kInitial = 1;
    static constexpr int32_t kStarting = 2;
    static constexpr int32_t kRunning = 4;
    static constexpr int32_t kInterrupted = 8;
    static constexpr int32_t kCanceling = 128;
    static constexpr int32_t kAbandoned = 256;
    static constexpr int32_t kException = 1024;

    // Completion states.
    static constexpr int32_t kPending = 0;
    static constexpr int32_t kNormal = 1;
    static constexpr int32_t kFailed = 2;
    static constexpr int32_t kCanceled = 3;

    ~RWRunnableImp() override;

    // Launches the run; returns the completion state (0 once launched). Throws
    // when the thread cannot be made or ends before its function could run
    // (its registration failed): the function then never runs.
    int32_t start();

    // Asks the run to end and waits up to `timeOut` ms: 1 the run has ended
    // (or had not begun), 2 the run abandoned the cancellation, 0 still
    // running. Must not be called from the runnable's own thread.
    int32_t requestCancellation(unsigned long timeOut);

    // On the runnable's own thread: raises RWCancellation when a cancellation
    // was requested, so that the run ends with completion state 3.
    void serviceCancellation();

    int32_t executionState();
    int32_t completionState();
    // A copy of the failure recorded by the last run, or null.
    std::unique_ptr<RWTHRxmsg> exception();
    // The thread running the body; false when none runs it.
    bool runningThread(pthread_t* thread);

    // Blocks until the execution state shares a bit with `mask`; returns that
    // state. The timed form returns 0 when `milliseconds` pass first.
    int32_t waitExecutionState(int32_t mask);
    int32_t waitExecutionState(int32_t mask, unsigned long milliseconds);

  protected:
    RWRunnableImp();

    // The launch, called by start() with the monitor held in state 2.
    virtual void exec() = 0;
    // The work itself, called without the monitor held.
    virtual void run() {}
    // Around the run, on the thread that runs it, with the monitor held.
    virtual void beforeRun() {}
    virtual void afterRun() {}

    // Holds the monitor for a scope; on the way out lets it go through
    // releaseMonitor().
    class MonitorGuard {
      public:
        explicit MonitorGuard(RWRunnableImp& runnable) : runnable(runnable) {
            runnable.monitor().acquire();
        }
        ~MonitorGuard();
        MonitorGuard(const MonitorGuard&) = delete;
        MonitorGuard& operator=(const MonitorGuard&) = delete;

      private:
        RWRunnableImp& runnable;
    };

    // Lets the monitor go, then wakes the waiters that state changes released
    // while it was held. Every release of the monitor goes through here.
    void releaseMonitor();

    // The rest is called with the monitor held.
    // A waiter that the change releases is woken once the monitor is let go:
    // woken at once, it would only find the monitor still held and sleep again.
    void setExecutionState(int32_t state);
    int32_t waitStateLocked(int32_t mask);
    // 0 when the time ran out.
    int32_t waitStateLocked(int32_t mask, unsigned long milliseconds);
    // Ends a run: records its outcome and returns the state to initial.
    void finishRun(int32_t outcome, std::unique_ptr<RWTHRxmsg> failure);

    int32_t state;
    int32_t interruptCount;
    int32_t previousState;
    pthread_t threadId;
    bool threadIdValid;

  private:
    friend class RWCancellation;
    struct StateWaiter;

    void abandonCancellation();

    int32_t completion;
    std::unique_ptr<RWTHRxmsg> failure;
    bool cancelRequested;
    // Lists linked through the waiters themselves, which live on the waiting
    // threads' stacks: waiting and waking allocate nothing, so running out of
    // memory cannot strand a thread in the start handshake.
    StateWaiter* waiters;
    StateWaiter* wakeups;  // released, to be woken by releaseMonitor()
};
