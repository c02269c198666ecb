// A condition variable bound to one RWMutexLock, which the caller holds
// around every wait and usually around signals.
#pragma once

#include <pthread.h>
#include <sys/time.h>
#include <time.h>

#include "support/threads/RWMutexLock.h"
#include "support/threads/uncopyable.h"

class RWCondition : private Uncopyable {
  public:
    using Hook = void (*)();

    explicit RWCondition(RWMutexLock& mutex, Hook hook = nullptr);
    ~RWCondition();

    // Waits until signalled; interruptions by signals are waited through.
    void wait();
    // Returns 1 when signalled, 0 when the time ran out.
    int wait(unsigned long milliseconds);
    void signal();
    void signalAll();

  private:
    Hook hook;
    pthread_cond_t cond;
    RWMutexLock* mutex;
};

// The absolute time `milliseconds` after `now`, as the timed wait computes it:
// the nanosecond part carries into the seconds when it reaches one second.
timespec rwDeadlineAfter(const timeval& now, unsigned long milliseconds);
