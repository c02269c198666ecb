// The public face of the thread support: make a thread from a global function
// (with or without one bound int) and start it.
//
//     threadHandle = RWThreadFunction::make(serveConnection, fd);
//     threadHandle.start();
//
// A handle shares its thread: copies refer to the same thread, and the last
// handle dropped deletes it, but only once its function has returned, since
// the running thread holds a handle of its own. Threads are detached; at
// process exit each one still running is asked to cancel, given 5 s, and then
// terminated.
#pragma once

#include <memory>

#include "support/threads/RWFunctor0.h"
#include "support/threads/RWThreadFunctionImp.h"
#include "support/threads/RWxmsg.h"

class RWThreadFunction {
  public:
    // An empty handle: every operation throws RWTHRInvalidPointer.
    RWThreadFunction() = default;

    static RWThreadFunction make(void (*function)(int), int argument);
    static RWThreadFunction make(void (*function)());
    static RWThreadFunction make(const RWFunctor0& functor);

    // Launches the thread and returns once it is registered and running its
    // function: 0, the completion state of a started thread. Throws
    // RWTHRThreadActive while the thread still runs.
    int start();

    bool isValid() const { return handle.isValid(); }

    // Execution state (RWRunnableImp::kInitial, kRunning, ...) and completion
    // state (0 pending, 1 normal, 2 failed, 3 canceled).
    int executionState() const;
    int completionState() const;
    // The failure recorded by the last run, or null.
    std::unique_ptr<RWTHRxmsg> exception() const;
    // Blocks until the execution state shares a bit with `mask`; the timed
    // form returns 0 when `milliseconds` pass first.
    int waitExecutionState(int mask) const;
    int waitExecutionState(int mask, unsigned long milliseconds) const;
    // See RWRunnableImp::requestCancellation.
    int requestCancellation(unsigned long timeOut) const;
    // On the thread itself: ends its run when a cancellation was requested.
    void serviceCancellation() const;

    RWThreadFunctionImp* body() const;

  private:
    explicit RWThreadFunction(RWTHandle<RWThreadFunctionImp> handle) : handle(std::move(handle)) {}

    RWTHandle<RWThreadFunctionImp> handle;
};
