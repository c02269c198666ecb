// A readers-writer lock that prefers writers: a new reader waits while any
// writer waits, even when only readers hold the lock. It records no owners,
// so release() trusts its caller; there is no recursion and no upgrade.
#pragma once

#include <cstdint>

#include "support/threads/RWCondition.h"
#include "support/threads/RWMutexLock.h"
#include "support/threads/threadSafety.h"
#include "support/threads/uncopyable.h"

class CAPABILITY("readers-writer lock") RWReadersWriterLock : private Uncopyable {
  public:
    using Hook = void (*)();

    // The counters at one moment; for diagnostics and tests.
    struct Snapshot {
        int32_t holders;  // -1 one writer, 0 free, n > 0 readers
        int32_t waitingReaders;
        int32_t waitingWriters;
    };

    explicit RWReadersWriterLock(Hook hook = nullptr);
    ~RWReadersWriterLock() = default;

    void acquireRead() ACQUIRE_SHARED();
    void acquireWrite() ACQUIRE();
    // False instead of waiting; never granted while a writer holds or waits.
    bool tryAcquireRead() TRY_ACQUIRE_SHARED(true);
    // Gives up one read hold or the write hold; on a free lock it does nothing.
    void release() RELEASE_GENERIC();

    Snapshot snapshot();

  private:
    // With `mutex` held: one waiting writer if there is one, else every
    // waiting reader.
    void wakeNext();
    // The same for a waiter that is leaving on a failure or a cancellation,
    // where a failed wake-up must not replace what is unwinding.
    void wakeNextQuietly();

    Hook hook;
    RWMutexLock mutex;  // guards everything below
    RWCondition readersCondition;
    RWCondition writersCondition;
    int32_t waitingReaders;
    int32_t waitingWriters;
    int32_t holders;
};

// Holds a read hold (ReadGuard) or the write hold (WriteGuard) for a scope.
// The protected region ends with an explicit release(); the destructor
// releases only when that was skipped, i.e. when an exception left the region.
template <void (RWReadersWriterLock::*acquire)()>
class HoldGuard {
  public:
    explicit HoldGuard(RWReadersWriterLock& lock);
    ~HoldGuard();
    HoldGuard(const HoldGuard&) = delete;
    HoldGuard& operator=(const HoldGuard&) = delete;

    // Holds through a member pointer, which the analysis cannot follow.
    void release() NO_THREAD_SAFETY_ANALYSIS;

  private:
    RWReadersWriterLock& lock;
    bool acquired;
};

using ReadGuard = HoldGuard<&RWReadersWriterLock::acquireRead>;
using WriteGuard = HoldGuard<&RWReadersWriterLock::acquireWrite>;

// Both are built once, in RWReadersWriterLock.cc.
extern template class HoldGuard<&RWReadersWriterLock::acquireRead>;
extern template class HoldGuard<&RWReadersWriterLock::acquireWrite>;
