// A runnable that runs on a POSIX thread of its own: detached, registered with
// the process-wide thread manager while it runs, and cancellable
// asynchronously while its work runs.
#pragma once

#include <sched.h>

#include <atomic>

#include "support/threads/RWHandleBase.h"
#include "support/threads/RWRunnableImp.h"

class RWThreadManagerImp;

// What a new thread is created with. Only the defaults are used: scheduling
// inherited from the creating thread, the system's stack size.
struct RWThreadAttribute {
    int inheritPolicy;

    // The inheritance policy of the system's default attributes.
    static RWThreadAttribute systemDefault();
};

class RWThreadImp : public RWRunnableImp {
  public:
    ~RWThreadImp() override;

    // For the exit path: cancels the thread running the body at once. False
    // when no thread runs it.
    bool terminate();
    // After terminate(): waits at most `milliseconds` until the thread has
    // left the body. True when it has.
    bool waitUntilGone(unsigned long milliseconds);

  protected:
    RWThreadImp();

    void exec() override;
    void beforeRun() override;
    void afterRun() override;

  private:
    static void* entry(void* argument);
    void runOnThisThread();
    int32_t classifyCaught(std::unique_ptr<RWTHRxmsg>& failure);

    RWTHandle<RWThreadManagerImp> manager;
    RWThreadAttribute requestedAttribute;
    RWThreadAttribute activeAttribute;
    // Read without the monitor by the exit path, which must not block on it.
    std::atomic<bool> terminating;
    std::atomic<bool> gone;
    // Written by the creator before the thread exists, read by the thread.
    cpu_set_t creatorAffinity;
    bool startsOnCreatorProcessor = false;
};
