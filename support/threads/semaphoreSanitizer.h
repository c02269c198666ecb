// ThreadSanitizer sees sem_post as a release on the semaphore but has no
// interceptor for sem_clockwait: without this mark, everything a releasing
// thread wrote before its post would look unordered with what the waiter
// does after a timed wait. Call it after each successful sem_clockwait.
#pragma once

#include <semaphore.h>

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
#endif

inline void markSemaphoreAcquired([[maybe_unused]] sem_t* semaphore) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(semaphore);
#endif
}
