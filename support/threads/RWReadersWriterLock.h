// A readers-writer lock that prefers writers: a new reader waits while any
// writer waits, even when only readers hold the lock. A writer's release
// with no other writer waiting hands the lock to the readers waiting then, so
// a writer that asks again at once waits for them. It records no owners,
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
    // Waiting readers whose hold a writer's release already counted in
    // `holders`; never more than waitingReaders.
    int32_t grantedReaders;
};

// What ReadGuard and WriteGuard share: the hold is taken by the base, and
// given up once, by an explicit release() at the end of the protected
// region, or by the destructor only when that was skipped, i.e. when an
// exception left the region. Each guard states its own acquire, so the
// thread-safety analysis follows both kinds of hold.
class HoldGuardBase {
  public:
    HoldGuardBase(const HoldGuardBase&) = delete;
    HoldGuardBase& operator=(const HoldGuardBase&) = delete;

  protected:
    enum class Hold { Read, Write };

    HoldGuardBase(RWReadersWriterLock& lock, Hold hold) NO_THREAD_SAFETY_ANALYSIS;
    ~HoldGuardBase() = default;

    void releaseOnce() NO_THREAD_SAFETY_ANALYSIS;
    // Guards end scopes, so this must not throw; a failed release leaves the
    // lock as the failure left it.
    void releaseIfSkipped() noexcept NO_THREAD_SAFETY_ANALYSIS;

    RWReadersWriterLock& guarded;
    bool acquired = false;
};

struct SCOPED_CAPABILITY ReadGuard : HoldGuardBase {
    explicit ReadGuard(RWReadersWriterLock& lock) ACQUIRE_SHARED(lock)
        : HoldGuardBase(lock, Hold::Read) {}
    ~ReadGuard() RELEASE() { releaseIfSkipped(); }
    void release() RELEASE() { releaseOnce(); }
};

struct SCOPED_CAPABILITY WriteGuard : HoldGuardBase {
    explicit WriteGuard(RWReadersWriterLock& lock) ACQUIRE(lock)
        : HoldGuardBase(lock, Hold::Write) {}
    ~WriteGuard() RELEASE() { releaseIfSkipped(); }
    void release() RELEASE() { releaseOnce(); }
};
