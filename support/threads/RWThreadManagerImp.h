// The process-wide registry of running threads. At normal process exit it
// asks each registered thread to cancel, waits for it up to the cancellation
// time-out, and terminates it if it is still running.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <unordered_map>

#include "support/threads/RWHandleBase.h"
#include "support/threads/RWReadersWriterLock.h"
#include "support/threads/RWThreadImp.h"

class RWThreadManagerImp : public RWBodyBase {
  public:
    // The one instance, created on first use and never destroyed: threads may
    // still use it while static objects are being destroyed. Its creation
    // registers the exit handler, so the handler runs before the destructors
    // of static objects that were built before any thread was made.
    static RWThreadManagerImp& instance();

    // Once shutdown() has begun, registration is refused with the exception
    // of a thread the system cannot make (RWTHRResourceLimit).
    void registerThread(pthread_t thread, RWTHandle<RWThreadImp> body);
    void deregisterThread(pthread_t thread);
    bool isRegistered(pthread_t thread);
    // False once shutdown() has begun: a thread started from then on would
    // not be among those it stops.
    bool acceptsThreads() const { return !registrationClosed.load(std::memory_order_acquire); }

    // Cancels and terminates every registered thread except the calling one,
    // one after the other. Runs once; later calls return at once. Closes the
    // registry in the same step as it lists the threads, so that no thread
    // can run on unseen.
    void shutdown();

  private:
    RWThreadManagerImp();

    int32_t cancelTimeOut;  // milliseconds
    bool shuttingDown;      // guarded by monitor()
    // Written under registryLock; read without it only for the early refusal
    // in a thread's launch.
    std::atomic<bool> registrationClosed;
    RWReadersWriterLock registryLock;
    // Never drop a handle under registryLock: that takes a body's monitor,
    // and a starting thread holds its monitor before it registers.
    std::unordered_map<pthread_t, RWTHandle<RWThreadImp>> registry;
};
