#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/threads/RWReadersWriterLock.h"
#include "support/threads/RWSemaphore.h"
#include "tests/support/waitUntil.h"

namespace {

using lctest::waitUntil;

// Records the order in which threads got the lock.
class Journal {
  public:
    void add(const std::string& entry) {
        std::lock_guard<std::mutex> guard(mutex);
        entries.push_back(entry);
    }
    std::vector<std::string> snapshot() {
        std::lock_guard<std::mutex> guard(mutex);
        return entries;
    }

  private:
    std::mutex mutex;
    std::vector<std::string> entries;
};

bool sameCounters(RWReadersWriterLock& lock, int holders, int readers, int writers) {
    RWReadersWriterLock::Snapshot now = lock.snapshot();
    return now.holders == holders && now.waitingReaders == readers && now.waitingWriters == writers;
}

TEST(ReadersWriterLock, NewReaderWaitsBehindWaitingWriterWhileOnlyReadersHold) {
    RWReadersWriterLock lock;
    lock.acquireRead();
    lock.acquireRead();
    Journal journal;
    std::thread writer([&] {
        lock.acquireWrite();
        journal.add("writer");
        lock.release();
    });
    ASSERT_TRUE(waitUntil([&] { return sameCounters(lock, 2, 0, 1); }));

    EXPECT_FALSE(lock.tryAcquireRead());
    std::thread reader([&] {
        lock.acquireRead();
        journal.add("reader");
        lock.release();
    });
    ASSERT_TRUE(waitUntil([&] { return sameCounters(lock, 2, 1, 1); }));

    lock.release();
    EXPECT_TRUE(sameCounters(lock, 1, 1, 1));
    lock.release();
    writer.join();
    reader.join();
    EXPECT_EQ(journal.snapshot(), (std::vector<std::string>{"writer", "reader"}));
    EXPECT_TRUE(sameCounters(lock, 0, 0, 0));
}

TEST(ReadersWriterLock, LastReaderWakesTheWriterAndTheWriterWakesAllReaders) {
    RWReadersWriterLock lock;
    RWSemaphore writerMayRelease(0);
    RWSemaphore readersMayRelease(0);
    lock.acquireRead();
    std::thread writer([&] {
        lock.acquireWrite();
        writerMayRelease.acquire();
        lock.release();
    });
    ASSERT_TRUE(waitUntil([&] { return sameCounters(lock, 1, 0, 1); }));
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            lock.acquireRead();
            readersMayRelease.acquire();
            lock.release();
        });
    }
    ASSERT_TRUE(waitUntil([&] { return sameCounters(lock, 1, 3, 1); }));

    lock.release();
    ASSERT_TRUE(waitUntil([&] { return sameCounters(lock, -1, 3, 0); }));

    writerMayRelease.release();
    ASSERT_TRUE(waitUntil([&] { return sameCounters(lock, 3, 0, 0); }));
    for (int i = 0; i < 3; ++i) {
        readersMayRelease.release();
    }
    writer.join();
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_TRUE(sameCounters(lock, 0, 0, 0));
}

TEST(ReadersWriterLock, WritersReleaseHandsTheLockToTheReadersWaitingForIt) {
    RWReadersWriterLock lock;
    RWSemaphore readerMayRelease(0);
    lock.acquireWrite();
    std::thread reader([&] {
        lock.acquireRead();
        readerMayRelease.acquire();
        lock.release();
    });
    ASSERT_TRUE(waitUntil([&] { return sameCounters(lock, -1, 1, 0); }));

    lock.release();
    // The reader holds from the release on, whether or not it has run yet.
    EXPECT_EQ(lock.snapshot().holders, 1);
    std::atomic<bool> written{false};
    std::thread writer([&] {
        lock.acquireWrite();
        written.store(true);
        lock.release();
    });
    ASSERT_TRUE(waitUntil([&] { return sameCounters(lock, 1, 0, 1); }));
    EXPECT_FALSE(written.load());
    readerMayRelease.release();
    reader.join();
    writer.join();
    EXPECT_TRUE(written.load());
    EXPECT_TRUE(sameCounters(lock, 0, 0, 0));
}

TEST(ReadersWriterLock, ReaderQueuedBehindACancelledWriterIsLetIn) {
    RWReadersWriterLock lock;
    lock.acquireRead();
    std::thread writer([&] {
        lock.acquireWrite();
        lock.release();  // not reached: cancelled while waiting
    });
    ASSERT_TRUE(waitUntil([&] { return sameCounters(lock, 1, 0, 1); }));
    std::thread reader([&] { lock.acquireRead(); });  // holds on, to be seen
    ASSERT_TRUE(waitUntil([&] { return sameCounters(lock, 1, 1, 1); }));

    pthread_cancel(writer.native_handle());
    writer.join();
    // Only readers hold and no writer waits: the queued reader must not
    // sleep until the last holder happens to release.
    bool readerGotIn = waitUntil([&] { return sameCounters(lock, 2, 0, 0); });
    lock.release();
    reader.join();
    EXPECT_TRUE(readerGotIn);
    EXPECT_TRUE(sameCounters(lock, 1, 0, 0));
}

TEST(ReadersWriterLock, ReleaseOfAFreeLockChangesNothing) {
    RWReadersWriterLock lock;
    lock.release();
    EXPECT_TRUE(sameCounters(lock, 0, 0, 0));
    EXPECT_TRUE(lock.tryAcquireRead());
    lock.release();
    lock.acquireWrite();
    EXPECT_TRUE(sameCounters(lock, -1, 0, 0));
    lock.release();
    EXPECT_TRUE(sameCounters(lock, 0, 0, 0));
}

TEST(ReadersWriterLock, SecondReadHoldOfOneThreadNeedsTwoReleases) {
    RWReadersWriterLock lock;
    lock.acquireRead();
    lock.acquireRead();
    EXPECT_TRUE(sameCounters(lock, 2, 0, 0));
    std::atomic<bool> written{false};
    std::thread writer([&] {
        lock.acquireWrite();
        written = true;
        lock.release();
    });
    ASSERT_TRUE(waitUntil([&] { return sameCounters(lock, 2, 0, 1); }));
    lock.release();
    EXPECT_TRUE(sameCounters(lock, 1, 0, 1));
    EXPECT_FALSE(written);
    lock.release();
    writer.join();
    EXPECT_TRUE(written);
}

TEST(ReadersWriterLock, TryAcquireReadIsRefusedWhileAWriterHolds) {
    RWReadersWriterLock lock;
    lock.acquireWrite();
    EXPECT_FALSE(lock.tryAcquireRead());
    lock.release();
    EXPECT_TRUE(lock.tryAcquireRead());
    EXPECT_TRUE(lock.tryAcquireRead());
    EXPECT_TRUE(sameCounters(lock, 2, 0, 0));
}

TEST(ReadWriteGuards, ExplicitReleaseEndsTheHoldAndTheDestructorDoesNothingMore) {
    RWReadersWriterLock lock;
    {
        ReadGuard first(lock);
        ReadGuard second(lock);
        EXPECT_TRUE(sameCounters(lock, 2, 0, 0));
        first.release();
        first.release();
        EXPECT_TRUE(sameCounters(lock, 1, 0, 0));
        second.release();
    }
    EXPECT_TRUE(sameCounters(lock, 0, 0, 0));
    {
        WriteGuard guard(lock);
        EXPECT_TRUE(sameCounters(lock, -1, 0, 0));
        guard.release();
        EXPECT_TRUE(sameCounters(lock, 0, 0, 0));
        lock.acquireRead();  // would be undone by a second release
    }
    EXPECT_TRUE(sameCounters(lock, 1, 0, 0));
}

TEST(ReadWriteGuards, DestructorReleasesWhenAnExceptionLeavesTheRegion) {
    RWReadersWriterLock lock;
    EXPECT_THROW(
        {
            WriteGuard guard(lock);
            throw std::runtime_error("region failed");
        },
        std::runtime_error);
    EXPECT_TRUE(sameCounters(lock, 0, 0, 0));
    EXPECT_THROW(
        {
            ReadGuard guard(lock);
            throw std::runtime_error("region failed");
        },
        std::runtime_error);
    EXPECT_TRUE(sameCounters(lock, 0, 0, 0));
}

}  // namespace
