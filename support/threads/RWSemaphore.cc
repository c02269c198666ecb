#include "support/threads/RWSemaphore.h"

#include <sched.h>
#include <time.h>

#include <cerrno>

#include "support/threads/posixFailure.h"
#include "support/threads/semaphoreSanitizer.h"

namespace {

constexpr long kNanosPerSecond = 1000000000L;

// The monotonic clock, so that a change of the time of day neither shortens
// nor stretches the wait.
timespec monotonicDeadline(unsigned long milliseconds) {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    long nanos = deadline.tv_nsec + static_cast<long>(milliseconds % 1000) * 1000000L;
    deadline.tv_sec += static_cast<time_t>(milliseconds / 1000) + nanos / kNanosPerSecond;
    deadline.tv_nsec = nanos % kNanosPerSecond;
    return deadline;
}

// Most waits in this system are short: in the start handshake each side waits
// for the other, which usually runs on the same processor and needs only a
// few microseconds. Letting it run a few times before going to sleep spares
// both the sleep and the wake-up (a system call and, across processors, an
// interrupt) for most of them.
constexpr int kYieldsBeforeSleeping = 4;

// True when a release came while this thread let others run a few times.
bool acquiredAfterYielding(sem_t* semaphore) {
    for (int i = 0; i < kYieldsBeforeSleeping; ++i) {
        if (sem_trywait(semaphore) == 0) {
            return true;
        }
        sched_yield();
    }
    return sem_trywait(semaphore) == 0;
}

}  // namespace

RWSemaphore::RWSemaphore(int32_t count, Hook hook) : hook(hook) {
    if (sem_init(&semaphore, 0, static_cast<unsigned>(count)) != 0) {
        throwInitFailure("RWSemaphore::init - ", "sem_init() - ", errno);
    }
}

RWSemaphore::~RWSemaphore() {
    sem_destroy(&semaphore);
}

void RWSemaphore::acquire() {
    if (hook != nullptr) {
        hook();
    }
    if (acquiredAfterYielding(&semaphore)) {
        return;
    }
    // Interruptions by signals are waited through.
    while (sem_wait(&semaphore) != 0) {
        if (errno != EINTR) {
            throwPosixFailure("RWSemaphore::acquire - ", "sem_wait() - ", errno);
        }
    }
}

bool RWSemaphore::acquire(unsigned long milliseconds) {
    if (hook != nullptr) {
        hook();
    }
    if (acquiredAfterYielding(&semaphore)) {
        return true;
    }
    const timespec deadline = monotonicDeadline(milliseconds);
    while (sem_clockwait(&semaphore, CLOCK_MONOTONIC, &deadline) != 0) {
        if (errno == ETIMEDOUT) {
            return false;
        }
        if (errno != EINTR) {
            throwPosixFailure("RWSemaphore::acquire - ", "sem_clockwait() - ", errno);
        }
    }
    markSemaphoreAcquired(&semaphore);
    return true;
}

void RWSemaphore::release() {
    if (sem_post(&semaphore) != 0) {
        throwPosixFailure("RWSemaphore::release - ", "sem_post() - ", errno);
    }
}
