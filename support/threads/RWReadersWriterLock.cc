#include "support/threads/RWReadersWriterLock.h"

#include <exception>

#include "support/threads/RWxmsg.h"
#include "support/threads/rewrapFailure.h"

RWReadersWriterLock::RWReadersWriterLock(Hook hook)
    : hook(hook),
      mutex(),
      readersCondition(mutex),
      writersCondition(mutex),
      waitingReaders(0),
      waitingWriters(0),
      holders(0),
      grantedReaders(0) {}

void RWReadersWriterLock::acquireRead() {
    if (hook != nullptr) {
        hook();
    }
    RWMutexLock::LockGuard guard(mutex);
    while (holders < 0 || waitingWriters > 0) {
        waitingReaders += 1;
        try {
            readersCondition.wait();
        } catch (...) {
            // Also on cancellation: a waiter that is gone must not be counted,
            // nor keep a hold handed to it.
            waitingReaders -= 1;
            if (grantedReaders > waitingReaders) {
                grantedReaders -= 1;
                holders -= 1;
                if (holders == 0) {
                    wakeNextQuietly();
                }
            }
            rethrowAsInternalError("RWReadersWriterLock::acquireRead - ");
        }
        waitingReaders -= 1;
        if (grantedReaders > 0) {
            grantedReaders -= 1;  // counted in holders by the writer's release
            return;
        }
    }
    holders += 1;
}

void RWReadersWriterLock::acquireWrite() {
    if (hook != nullptr) {
        hook();
    }
    RWMutexLock::LockGuard guard(mutex);
    while (holders != 0) {
        waitingWriters += 1;
        try {
            writersCondition.wait();
        } catch (...) {
            // A writer counted after it left would keep every reader out.
            waitingWriters -= 1;
            // Readers queued only behind this writer, or a release's wake-up
            // that this writer took with it, would leave the others asleep.
            wakeNextQuietly();
            rethrowAsInternalError("RWReadersWriterLock::acquireWrite - ");
        }
        waitingWriters -= 1;
    }
    holders = -1;
}

bool RWReadersWriterLock::tryAcquireRead() {
    if (hook != nullptr) {
        hook();
    }
    RWMutexLock::LockGuard guard(mutex);
    if (holders < 0 || waitingWriters > 0) {
        return false;
    }
    holders += 1;
    return true;
}

void RWReadersWriterLock::release() {
    RWMutexLock::LockGuard guard(mutex);
    if (holders > 0) {
        holders -= 1;
        if (holders > 0) {
            return;
        }
    } else if (holders == -1) {
        holders = 0;
        if (waitingWriters == 0 && waitingReaders > 0) {
            // Handed to the readers that waited for this writer: a writer
            // asking again at once would otherwise take it back before they
            // ran, again and again on a busy machine.
            holders = waitingReaders;
            grantedReaders = waitingReaders;
        }
    } else {
        return;
    }
    try {
        wakeNext();
    } catch (...) {
        rethrowAsInternalError("RWReadersWriterLock::release - ");
    }
}

void RWReadersWriterLock::wakeNext() {
    if (waitingWriters > 0) {
        writersCondition.signal();
    } else if (waitingReaders > 0) {
        readersCondition.signalAll();
    }
}

void RWReadersWriterLock::wakeNextQuietly() {
    try {
        wakeNext();
    } catch (...) {
        // The failed wait is the failure to report; a woken waiter re-tests
        // its condition anyway, so a failed wake-up changes no state.
    }
}

RWReadersWriterLock::Snapshot RWReadersWriterLock::snapshot() {
    RWMutexLock::LockGuard guard(mutex);
    return Snapshot{holders, waitingReaders, waitingWriters};
}

HoldGuardBase::HoldGuardBase(RWReadersWriterLock& lock, Hold hold) : guarded(lock) {
    if (hold == Hold::Read) {
        lock.acquireRead();
    } else {
        lock.acquireWrite();
    }
    acquired = true;
}

void HoldGuardBase::releaseOnce() {
    if (acquired) {
        guarded.release();
        acquired = false;
    }
}

void HoldGuardBase::releaseIfSkipped() noexcept {
    if (!acquired) {
        return;
    }
    try {
        guarded.release();
    } catch (const RWxmsg&) {
    } catch (const std::exception&) {
    }
}
