#include "support/threads/RWCondition.h"

#include <cerrno>

#include "support/threads/exitState.h"
#include "support/threads/posixFailure.h"

namespace {

constexpr long kNanosPerSecond = 1000000000L;

long elapsedMilliseconds(const timespec& since) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    double seconds =
        static_cast<double>(now.tv_sec - since.tv_sec) +
        static_cast<double>(now.tv_nsec - since.tv_nsec) / static_cast<double>(kNanosPerSecond);
    return static_cast<long>(seconds * 1000);
}

}  // namespace

timespec rwDeadlineAfter(const timeval& now, unsigned long milliseconds) {
    long nanos = static_cast<long>(milliseconds % 1000) * 1000000L + now.tv_usec * 1000L;
    timespec deadline{};
    deadline.tv_sec =
        now.tv_sec + static_cast<time_t>(milliseconds / 1000) + nanos / kNanosPerSecond;
    deadline.tv_nsec = nanos % kNanosPerSecond;
    return deadline;
}

RWCondition::RWCondition(RWMutexLock& mutex, Hook hook) : hook(hook), mutex(&mutex) {
    int rc = pthread_cond_init(&cond, nullptr);
    if (rc != 0) {
        throwInitFailure("RWCondition::init - ", "pthread_cond_init() - ", rc);
    }
}

RWCondition::~RWCondition() {
    // Destroying a condition that a terminated thread still waited on blocks
    // for ever; at exit after a termination it is left alone. Other failures
    // are ignored: a destructor must not throw.
    if (!threadTerminatedAtExit()) {
        pthread_cond_destroy(&cond);
    }
}

void RWCondition::wait() {
    if (hook != nullptr) {
        hook();
    }
    for (;;) {
        int rc = pthread_cond_wait(&cond, mutex->posixMutex());
        if (rc == 0) {
            return;
        }
        if (rc != EINTR) {
            throwPosixFailure("RWCondition::wait - ", "pthread_cond_wait() - ", rc);
        }
    }
}

int RWCondition::wait(unsigned long milliseconds) {
    if (hook != nullptr) {
        hook();
    }
    unsigned long remaining = milliseconds;
    for (;;) {
        timeval now{};
        gettimeofday(&now, nullptr);
        timespec deadline = rwDeadlineAfter(now, remaining);
        timespec started{};
        clock_gettime(CLOCK_MONOTONIC, &started);
        int rc = pthread_cond_timedwait(&cond, mutex->posixMutex(), &deadline);
        if (rc == 0) {
            return 1;
        }
        if (rc == ETIMEDOUT) {
            return 0;
        }
        if (rc != EINTR) {
            throwPosixFailure("RWCondition::wait - ", "pthread_cond_timedwait() - ", rc);
        }
        // Interrupted: go on with only the time that is left.
        unsigned long elapsed = static_cast<unsigned long>(elapsedMilliseconds(started));
        if (elapsed >= remaining) {
            return 0;
        }
        remaining -= elapsed;
    }
}

void RWCondition::signal() {
    int rc = pthread_cond_signal(&cond);
    if (rc != 0) {
        throwPosixFailure("RWCondition::signal - ", "pthread_cond_signal() - ", rc);
    }
}

void RWCondition::signalAll() {
    int rc = pthread_cond_broadcast(&cond);
    if (rc != 0) {
        throwPosixFailure("RWCondition::signalAll - ", "pthread_cond_broadcast() - ", rc);
    }
}
