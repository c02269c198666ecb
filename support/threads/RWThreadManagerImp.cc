#include "support/threads/RWThreadManagerImp.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <vector>

#include "support/threads/forcedUnwind.h"
#include "support/threads/posixFailure.h"

namespace {

// ms, for all threads together; a terminated thread's unwinding is slow on a
// loaded host, and static objects must outlive it.
constexpr long kWaitForTerminated = 3000;

unsigned long millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<unsigned long>(left.count()) : 0;
}

// True when the thread has ended (or never began). One thread's failure
// here does not keep the others running.
RW_CATCHES_FORCED_UNWIND
bool askToCancel(const RWTHandle<RWThreadImp>& thread, unsigned long timeOut) {
    try {
        return thread.body()->requestCancellation(timeOut) == 1;
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        return false;
    }
}

RW_CATCHES_FORCED_UNWIND
void terminate(const RWTHandle<RWThreadImp>& thread) {
    try {
        thread.body()->terminate();
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
    }
}

void shutdownAtExit() {
    try {
        RWThreadManagerImp::instance().shutdown();
    } catch (...) {
        // An exit handler that throws would end the process abnormally.
    }
}

}  // namespace

RWThreadManagerImp& RWThreadManagerImp::instance() {
    static RWThreadManagerImp* const manager = [] {
        auto* created = new RWThreadManagerImp();
        created->incrementRefs();  // the process's own reference, never dropped
        std::atexit(shutdownAtExit);
        return created;
    }();
    return *manager;
}

RWThreadManagerImp::RWThreadManagerImp()
    : cancelTimeOut(5000),
      shuttingDown(false),
      registrationClosed(false),
      registryLock(),
      registry(64) {}

void RWThreadManagerImp::registerThread(pthread_t thread, RWTHandle<RWThreadImp> body) {
    WriteGuard guard(registryLock);
    if (registrationClosed.load(std::memory_order_relaxed)) {
        guard.release();
        throwThreadCreationFailure("pthread_create() - ", EAGAIN);
    }
    // An entry left by a thread that was terminated goes out after the lock.
    auto stale = registry.extract(thread);
    registry.emplace(thread, std::move(body));
    guard.release();
}

void RWThreadManagerImp::deregisterThread(pthread_t thread) {
    WriteGuard guard(registryLock);
    auto removed = registry.extract(thread);
    guard.release();
}

bool RWThreadManagerImp::isRegistered(pthread_t thread) {
    ReadGuard guard(registryLock);
    bool found = registry.count(thread) != 0;
    guard.release();
    return found;
}

RW_CATCHES_FORCED_UNWIND
void RWThreadManagerImp::shutdown() {
    {
        RWMutexLock::LockGuard guard(monitor());
        if (shuttingDown) {
            return;
        }
        shuttingDown = true;
    }
    // A thread that exits the process is not asked to wait for itself.
    deregisterThread(pthread_self());

    std::vector<RWTHandle<RWThreadImp>> threads;
    {
        WriteGuard guard(registryLock);
        registrationClosed.store(true, std::memory_order_release);
        threads.reserve(registry.size());
        for (const auto& entry : registry) {
            threads.push_back(entry.second);
        }
        guard.release();
    }

    // Every thread is asked first and then waited for under one bound for
    // all: waited for in turn, their time-outs would add up with the number
    // of connections in flight, past any stop a service manager allows.
    using Clock = std::chrono::steady_clock;
    std::vector<bool> ended(threads.size(), false);
    for (size_t i = 0; i < threads.size(); ++i) {
        ended[i] = askToCancel(threads[i], 0);
    }
    const Clock::time_point cancelDeadline =
        Clock::now() + std::chrono::milliseconds(cancelTimeOut);
    for (size_t i = 0; i < threads.size(); ++i) {
        if (!ended[i]) {
            ended[i] = askToCancel(threads[i], millisecondsUntil(cancelDeadline));
        }
    }
    for (size_t i = 0; i < threads.size(); ++i) {
        if (!ended[i]) {
            terminate(threads[i]);
        }
    }
    // Ended or terminated, a thread may still be on its last steps (its
    // unwinding, its release of the body): let it finish them before static
    // objects go away. One that is gone already costs nothing here.
    const Clock::time_point goneDeadline =
        Clock::now() + std::chrono::milliseconds(kWaitForTerminated);
    for (const RWTHandle<RWThreadImp>& thread : threads) {
        try {
            thread.body()->waitUntilGone(millisecondsUntil(goneDeadline));
        } catch (abi::__forced_unwind&) {
            throw;
        } catch (...) {
        }
    }
}
