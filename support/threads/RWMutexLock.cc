#include "support/threads/RWMutexLock.h"

#include <sched.h>

#include <atomic>
#include <cerrno>
#include <exception>

#include "support/threads/RWxmsg.h"
#include "support/threads/exitState.h"
#include "support/threads/posixFailure.h"

namespace {

constexpr int32_t kReady = 1000;

}  // namespace

RWMutexLock::RWMutexLock(Hook hook) : hook(hook), initState(0) {
    ensureInitialised();
}

RWMutexLock::~RWMutexLock() {
    if (std::atomic_ref<int32_t>(initState).load(std::memory_order_acquire) == 0) {
        return;
    }
    if (threadTerminatedAtExit()) {
        return;
    }
    // A failure here (a thread still holds it) cannot be reported from a
    // destructor without ending the process; the mutex is simply left.
    pthread_mutex_destroy(&mutex);
}

void RWMutexLock::ensureInitialised() {
    std::atomic_ref<int32_t> state(initState);
    for (;;) {
        int32_t seen = state.load(std::memory_order_acquire);
        if (seen >= kReady) {
            return;
        }
        if (seen == 0 && state.fetch_add(1, std::memory_order_acq_rel) == 0) {
            int rc = pthread_mutex_init(&mutex, nullptr);
            if (rc != 0) {
                // Back to "never initialised": whoever spins meanwhile tries again.
                state.store(0, std::memory_order_release);
                throwInitFailure("RWMutexLock::init - ", "pthread_mutex_init() - ", rc);
            }
            state.fetch_add(kReady, std::memory_order_release);
            return;
        }
        // Another thread is initialising it.
        sched_yield();
    }
}

void RWMutexLock::acquire() {
    if (hook != nullptr) {
        hook();
    }
    ensureInitialised();
    int rc = pthread_mutex_lock(&mutex);
    if (rc != 0) {
        throwPosixFailure("RWMutexLock::acquire - ", "pthread_mutex_lock() - ", rc);
    }
}

bool RWMutexLock::tryAcquire() {
    if (hook != nullptr) {
        hook();
    }
    ensureInitialised();
    int rc = pthread_mutex_trylock(&mutex);
    if (rc == 0) {
        return true;
    }
    if (rc == EBUSY) {
        return false;
    }
    throwPosixFailure("RWMutexLock::tryAcquire - ", "pthread_mutex_trylock() - ", rc);
}

void RWMutexLock::release() {
    int rc = pthread_mutex_unlock(&mutex);
    if (rc != 0) {
        throwPosixFailure("RWMutexLock::release - ", "pthread_mutex_unlock() - ", rc);
    }
}

RWMutexLock::LockGuard::~LockGuard() {
    try {
        lock.release();
    } catch (const RWxmsg&) {
    } catch (const std::exception&) {
    }
}
