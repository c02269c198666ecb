// A plain (non-recursive, non-checking) mutex over POSIX threads. It
// initialises itself on first use, so a mutex in zero-filled static storage
// works even before its constructor has run.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "support/threads/uncopyable.h"

class RWMutexLock : private Uncopyable {
  public:
    // Called at the start of acquire and tryAcquire when set.
    using Hook = void (*)();

    explicit RWMutexLock(Hook hook = nullptr);
    ~RWMutexLock();

    void acquire();
    // False when another holder has it (EBUSY); never blocks.
    bool tryAcquire();
    void release();

    // For the condition bound to this mutex.
    pthread_mutex_t* posixMutex() { return &mutex; }

    // Holds the mutex for a scope; releasing on the way out never throws.
    class LockGuard {
      public:
        explicit LockGuard(RWMutexLock& lock) : lock(lock) { lock.acquire(); }
        ~LockGuard();
        LockGuard(const LockGuard&) = delete;
        LockGuard& operator=(const LockGuard&) = delete;

      private:
        RWMutexLock& lock;
    };

  private:
    void ensureInitialised();

    Hook hook;
    pthread_mutex_t mutex;
    // 0 never initialised, 1..999 initialisation under way, 1000+ ready.
    int32_t initState;
};
