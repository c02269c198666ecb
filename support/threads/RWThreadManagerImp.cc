#include "support/threads/RWThreadManagerImp.h"

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <vector>

#include "support/threads/RWCondition.h"
#include "support/threads/forcedUnwind.h"
#include "support/threads/posixFailure.h"

namespace {

constexpr unsigned long kPauseAfterEndedThread = 100;  // ms
constexpr unsigned long kWaitForTerminated = 1000;     // ms

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

    RWMutexLock pauseMutex;
    RWCondition pause(pauseMutex);
    for (const RWTHandle<RWThreadImp>& thread : threads) {
        try {
            if (thread.body()->requestCancellation(static_cast<unsigned long>(cancelTimeOut)) ==
                1) {
                RWMutexLock::LockGuard guard(pauseMutex);
                pause.wait(kPauseAfterEndedThread);
            } else if (thread.body()->terminate()) {
                // Let it finish unwinding before static objects go away.
                thread.body()->waitUntilGone(kWaitForTerminated);
            }
        } catch (abi::__forced_unwind&) {
            throw;
        } catch (...) {
            // One thread's failure does not keep the others running.
        }
    }
}
