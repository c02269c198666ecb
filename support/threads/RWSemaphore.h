// A counting semaphore. A release before anyone acquires is kept in the count.
#pragma once

#include <cstdint>

#include "support/threads/RWCondition.h"
#include "support/threads/RWMutexLock.h"

class RWSemaphore {
  public:
    using Hook = void (*)();

    explicit RWSemaphore(int32_t count = 0, Hook hook = nullptr);
    RWSemaphore(const RWSemaphore&) = delete;
    RWSemaphore& operator=(const RWSemaphore&) = delete;

    void acquire();
    // As acquire(), but gives up after `milliseconds`: true when acquired.
    bool acquire(unsigned long milliseconds);
    void release();

  private:
    Hook hook;
    RWMutexLock mutex;  // guards the counters
    RWCondition condition;
    int32_t waiting;
    int32_t count;
};
