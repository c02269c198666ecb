// The cache lock's holds for a scope, in the form the thread-safety analysis
// follows. As with ReadGuard and WriteGuard, a protected region ends with an
// explicit release(); the destructor releases only when an exception left
// the region first.
#pragma once

#include "support/threads/RWReadersWriterLock.h"
#include "support/threads/threadSafety.h"

class SCOPED_CAPABILITY SharedHold {
  public:
    explicit SharedHold(RWReadersWriterLock& lock) ACQUIRE_SHARED(lock) : lock_(lock) {
        lock_.acquireRead();
        held_ = true;
    }
    ~SharedHold() RELEASE() {
        if (held_) {
            releaseQuietly();
        }
    }
    SharedHold(const SharedHold&) = delete;
    SharedHold& operator=(const SharedHold&) = delete;

    void release() RELEASE() {
        held_ = false;
        lock_.release();
    }

  private:
    // Only while an exception unwinds: a failed release must not replace it.
    void releaseQuietly() noexcept NO_THREAD_SAFETY_ANALYSIS {
        try {
            lock_.release();
        } catch (...) {
        }
    }

    RWReadersWriterLock& lock_;
    bool held_ = false;
};

class SCOPED_CAPABILITY ExclusiveHold {
  public:
    explicit ExclusiveHold(RWReadersWriterLock& lock) ACQUIRE(lock) : lock_(lock) {
        lock_.acquireWrite();
        held_ = true;
    }
    ~ExclusiveHold() RELEASE() {
        if (held_) {
            releaseQuietly();
        }
    }
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;

    void release() RELEASE() {
        held_ = false;
        lock_.release();
    }

  private:
    // Only while an exception unwinds: a failed release must not replace it.
    void releaseQuietly() noexcept NO_THREAD_SAFETY_ANALYSIS {
        try {
            lock_.release();
        } catch (...) {
        }
    }

    RWReadersWriterLock& lock_;
    bool held_ = false;
};
