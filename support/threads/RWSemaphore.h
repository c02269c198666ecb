// A counting semaphore. A release before anyone acquires is kept in the count.
//
// Built on a POSIX semaphore rather than a mutex and a condition: a release
// takes no lock, so the thread it wakes never runs straight into a lock that
// the releasing thread still holds. That wake-up and block again used to cost
// the client loop a second sleep for nearly every connection thread it
// started. A semaphore may be destroyed as soon as an acquire has returned,
// even while the release that satisfied it is finishing.
#pragma once

#include <semaphore.h>

#include <cstdint>

#include "support/threads/uncopyable.h"

class RWSemaphore : private Uncopyable {
  public:
    using Hook = void (*)();

    explicit RWSemaphore(int32_t count = 0, Hook hook = nullptr);
    ~RWSemaphore();

    void acquire();
    // As acquire(), but gives up after `milliseconds`: true when acquired.
    bool acquire(unsigned long milliseconds);
    void release();

  private:
    Hook hook;
    sem_t semaphore;
};
