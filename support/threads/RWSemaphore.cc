#include "support/threads/RWSemaphore.h"

#include <time.h>

#include "support/threads/rewrapFailure.h"

namespace {

long monotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

RWSemaphore::RWSemaphore(int32_t count, Hook hook)
    : hook(hook), mutex(), condition(mutex), waiting(0), count(count) {}

void RWSemaphore::acquire() {
    if (hook != nullptr) {
        hook();
    }
    RWMutexLock::LockGuard guard(mutex);
    waiting += 1;
    while (count == 0) {
        try {
            condition.wait();
        } catch (...) {
            waiting -= 1;
            rethrowAsInternalError("RWSemaphore::acquire - ");
        }
    }
    count -= 1;
    waiting -= 1;
}

bool RWSemaphore::acquire(unsigned long milliseconds) {
    if (hook != nullptr) {
        hook();
    }
    long deadline = monotonicMilliseconds() + static_cast<long>(milliseconds);
    RWMutexLock::LockGuard guard(mutex);
    waiting += 1;
    while (count == 0) {
        long left = deadline - monotonicMilliseconds();
        try {
            if (left <= 0 || condition.wait(static_cast<unsigned long>(left)) == 0) {
                // A release may have come with the time-out.
                if (count == 0) {
                    waiting -= 1;
                    return false;
                }
            }
        } catch (...) {
            waiting -= 1;
            rethrowAsInternalError("RWSemaphore::acquire - ");
        }
    }
    count -= 1;
    waiting -= 1;
    return true;
}

void RWSemaphore::release() {
    RWMutexLock::LockGuard guard(mutex);
    try {
        if (waiting != 0) {
            condition.signal();
        }
    } catch (...) {
        rethrowAsInternalError("RWSemaphore::release - ");
    }
    count += 1;
}
