// The logoff cookie cache as one object: its lock and everything the lock
// guards (the set of cached cookies, the queue that owns them, the logoffs
// received from the farm, the start time, the salt and the flush count).
// Every hold is short: the cleanup pass works in slices and frees outside
// the hold, and the set grows a few buckets at a time. The request handlers
// reach the one process instance through the entry points of
// cache/logoffCookieAPI.h, and through freeFlushedRecords once a connection
// is closed; tests make instances of their own.
#pragma once

#include <semaphore.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "cache/LogoffCookie.h"
#include "cache/farmLogoff.h"
#include "cache/logoffCookieCacheExport.h"
#include "cache/receivedLogoffTable.h"
#include "support/collections/RWGrowingHashTable.h"
#include "support/collections/RWSlistCollectablesQueue.h"
#include "support/threads/RWMutexLock.h"
#include "support/threads/RWReadersWriterLock.h"
#include "support/threads/RWThreadFunction.h"
#include "support/threads/threadSafety.h"

class LogoffCookieCache;

// Seconds since the epoch on the service's clock.
using ServiceClock = std::int32_t (*)();
std::int32_t serviceClockNow();

// What a test changes about a cache; the process instance takes the defaults.
struct LogoffCookieCacheHooks {
    // The cleanup thread's body; nullptr: the pass and pause loop.
    void (*cleanupThread)(LogoffCookieCache& cache) = nullptr;
    // Called just before the cleanup thread is made: throwing from it stands
    // in for a launch the system refuses.
    void (*beforeLaunch)() = nullptr;
    ServiceClock clock = serviceClockNow;
    // Cookies (and received logoffs) one slice of a pass visits under the hold.
    std::uint32_t sliceSize = 1000;
    // And at most this long: a slice ends at whichever bound comes first.
    std::chrono::microseconds sliceTime{1000};
    // Buckets of the older table moved by each insert while the set resizes;
    // a slice of the pass moves sliceSize of them.
    std::uint32_t resizeBucketsPerInsert = 8;
    // Called by a pass after each slice, with the hold released.
    void (*afterSlice)(LogoffCookieCache& cache) = nullptr;
    // Called by a pass and by an add just after it takes each write hold
    // and just before it gives it up: for benchmarks that time what runs
    // inside a hold.
    void (*holdTaken)() = nullptr;
    void (*holdEnding)() = nullptr;
    // Called on the thread that flushed, just before it frees what the flush
    // took.
    void (*freeingFlushed)() = nullptr;
};

// The start time with its salt, and the flush count, read under one hold.
struct CacheStart {
    std::int32_t startTime = 0;
    std::uint8_t salt[kLogoffCookieSaltSize] = {};
    std::uint32_t flushes = 0;
};

// Every record a flush took out at once. Freed when it goes, which its owner
// lets happen after the hold is released.
struct TakenCacheRecords {
    TakenCacheRecords() = default;
    ~TakenCacheRecords();
    TakenCacheRecords(const TakenCacheRecords&) = delete;
    TakenCacheRecords& operator=(const TakenCacheRecords&) = delete;

    RWGrowingHashTable set;            // the links of the set
    RWSlistCollectablesQueue cookies;  // the cookies, owned
    ReceivedLogoffTable received;      // the logoffs received from the farm
};

using SteadyDuration = std::chrono::steady_clock::duration;

// How a cleanup pass ended.
enum class CleanupPassEnd { Completed, Stopped };

class LogoffCookieCache {
  public:
    explicit LogoffCookieCache(const LogoffCookieCacheHooks& hooks = {});
    // Stops the cleanup thread, waits for it to end, and frees every record.
    ~LogoffCookieCache();
    LogoffCookieCache(const LogoffCookieCache&) = delete;
    LogoffCookieCache& operator=(const LogoffCookieCache&) = delete;

    // Takes the start time from the clock and draws a salt.
    void init() EXCLUDES(lock_);
    // Those of the run that held the cookies about to be restored.
    void restoreStart(std::int32_t startTime, const std::uint8_t* salt) EXCLUDES(lock_);
    std::int32_t startTime() EXCLUDES(lock_);
    void copySalt(std::uint8_t* destination) EXCLUDES(lock_);
    CacheStart start() EXCLUDES(lock_);

    // 1 when the cookie counts as logged off, 0 otherwise.
    int cookieIsCached(const char* cookieText, const char* cookieBytes, std::int32_t creationTime,
                       std::int32_t timeOffset, const char* cookieAttributes) EXCLUDES(lock_);
    // The same, or -1 at once when the read hold cannot be had without
    // waiting: for the client loop, which must never wait for the cache.
    int tryCookieIsCached(const char* cookieText, const char* cookieBytes,
                          std::int32_t creationTime, std::int32_t timeOffset,
                          const char* cookieAttributes) EXCLUDES(lock_);
    // Records a logged-off cookie. What a flush at the ceiling took stays
    // with the calling thread until freeFlushedRecords (see cacheCeiling.h).
    void addToCache(const char* cookieText, const char* cookieBytes, std::int32_t lastUseTime,
                    std::int32_t creationTime, std::int32_t timeOffset,
                    const char* cookieAttributes, std::int32_t cookieKind) EXCLUDES(lock_);
    void addReceivedLogoffs(std::span<const FarmLogoff> logoffs) EXCLUDES(lock_);
    // Frees what a flush on this thread left behind, then gives the set back
    // the buckets the flushed one had.
    void freeFlushedRecords();

    // The whole content under one read hold; the visitor hears the start
    // time and salt of that same moment first.
    void exportTo(LogoffCookieCacheVisitor& visitor) EXCLUDES(lock_);
    // Restores without a hold: only before any request or cache thread.
    void restoreCookie(const LogoffCookieDigest& digest, const CookieTimes& times) EXCLUDES(lock_);
    void restoreFarmLogoff(const FarmLogoff& logoff) EXCLUDES(lock_);
    // Gives the set room for `cookies` more at once, before a restore.
    void reserve(std::uint32_t cookies) EXCLUDES(lock_);

    // Forgets every record, as a flush does, but keeps the start time.
    void forgetAll() EXCLUDES(lock_);

    // The cleanup thread: launched once, by the first insert.
    void launchCleanupThreadOnce();
    bool cleanupThreadStarted() const { return cleanupStarted_.load(std::memory_order_acquire); }
    // One pass over every cookie held when it begins, in slices; reads
    // `clock` (the hooks' when nullptr) once per cookie.
    CleanupPassEnd cleanupPass(ServiceClock clock = nullptr) EXCLUDES(lock_);
    // For tests whose cleanup thread has ended: the next insert launches one
    // again.
    void forgetCleanupLaunch();
    // Waits until a launched cleanup thread has ended; for tests, whose
    // threads end by themselves.
    void awaitCleanupThreadEnd();
    // Passes and pauses until stopCleanup.
    void runCleanupThread();
    // A pass under way gives up at its next slice; a pause ends at once; the
    // thread then ends. At exit the state is saved already.
    void stopCleanup();
    bool stopRequested() const { return stopping_.load(std::memory_order_acquire); }

    // For tests and benchmarks: sizes and shape, each under a read hold.
    std::uint32_t cachedCookies() EXCLUDES(lock_);
    std::uint32_t queuedCookies() EXCLUDES(lock_);
    std::uint32_t receivedLogoffs() EXCLUDES(lock_);
    std::uint32_t buckets() EXCLUDES(lock_);
    bool resizing() EXCLUDES(lock_);
    std::uint32_t longestChain() EXCLUDES(lock_);
    bool containsReceived(const FarmIdentity& identity) EXCLUDES(lock_);
    // The cookies the cache owns, in queue order.
    std::vector<LogoffCookie*> queuedRecords() EXCLUDES(lock_);
    // The stored cookie equal to `probe`, or nullptr.
    const LogoffCookie* find(const LogoffCookie& probe) EXCLUDES(lock_);
    // Forgets every received logoff expired at `serviceNow`.
    std::uint32_t expireReceived(std::int32_t serviceNow) EXCLUDES(lock_);
    RWReadersWriterLock& lock() RETURN_CAPABILITY(lock_) { return lock_; }

  private:
    // What `read` gives under a read hold of its own: the one way the
    // accessors above look.
    template <typename Read>
    auto readHeld(Read read) EXCLUDES(lock_) {
        ReadGuard hold(lock_);
        auto value = read();
        hold.release();
        return value;
    }
    int lookUp(const char* cookieText, const char* cookieBytes, std::int32_t creationTime,
               std::int32_t timeOffset, const char* cookieAttributes, bool mayWait) EXCLUDES(lock_);
    std::uint64_t heldRecords() const REQUIRES_SHARED(lock_);
    // When one record more would pass the ceiling: moves the start time to
    // now and takes every record into `flushed`; returns how many were held.
    std::uint64_t flushIfFull(std::unique_ptr<TakenCacheRecords>& flushed) REQUIRES(lock_);
    // Leaves the set, the queues and the received logoffs empty, with what
    // they held in `taken`, whose empty ones they take. Allocates nothing.
    void takeAll(TakenCacheRecords& taken) REQUIRES(lock_);
    // Returns the older table of a resize once it is empty, to be released
    // after the hold.
    std::unique_ptr<RWHashTable> insertIntoSet(LogoffCookie* cookie) REQUIRES(lock_);
    // Allocates a table of `buckets` here, with no hold, and hands it to the
    // set to move into a step at a time; one thread at a time.
    void beginResize(std::uint32_t buckets) EXCLUDES(lock_);
    // Moves what is left of a resize a slice of buckets at a time, each
    // under its own hold; the cleanup pass does it, so that a resize never
    // waits long for inserts to finish it.
    void finishResize() EXCLUDES(lock_);
    void shrinkIfSparse() EXCLUDES(lock_);
    // After a flush: gives the set back the buckets the flushed one had.
    void keepBucketsAfterFlush(std::uint32_t flushedBuckets) EXCLUDES(lock_);
    std::unique_ptr<RWHashTable> resizeStep(std::uint32_t buckets) REQUIRES(lock_);
    void recordSizes() REQUIRES_SHARED(lock_);
    void holdTaken() const {
        if (hooks_.holdTaken != nullptr) {
            hooks_.holdTaken();
        }
    }
    void holdEnding() const {
        if (hooks_.holdEnding != nullptr) {
            hooks_.holdEnding();
        }
    }
    // Returns an emptied older table of a growth, to be released after the
    // hold.
    std::unique_ptr<ReceivedLogoffTable::Map> receivedInsert(const FarmLogoff& logoff)
        REQUIRES(lock_);
    // Makes the received logoffs' next table here, with no hold, for
    // `entries`, and hands it over; one thread at a time.
    void beginReceivedGrowth(std::size_t entries) EXCLUDES(lock_);
    // Moves what is left of a growth over, a slice at a time.
    void finishReceivedGrowth() EXCLUDES(lock_);
    // The walk of a pass over the received logoffs; returns false when the
    // exit stopped it.
    bool expireReceivedInSlices(std::int32_t (*clock)(), SteadyDuration& longestHold)
        EXCLUDES(lock_);
    void pause();

    const LogoffCookieCacheHooks hooks_;
    mutable RWReadersWriterLock lock_;
    RWGrowingHashTable set_ GUARDED_BY(lock_);
    // Every cookie the cache owns and the pass under way has not reached,
    // in order of first insertion.
    RWSlistCollectablesQueue queue_ GUARDED_BY(lock_);
    // During a pass: the cookies it has yet to visit, and those it kept.
    RWSlistCollectablesQueue passPending_ GUARDED_BY(lock_);
    RWSlistCollectablesQueue passKept_ GUARDED_BY(lock_);
    ReceivedLogoffTable received_ GUARDED_BY(lock_);
    std::int32_t startTime_ GUARDED_BY(lock_) = 0;
    std::uint8_t salt_[kLogoffCookieSaltSize] GUARDED_BY(lock_) = {};
    // Read without the hold by a query that missed, to learn of a flush
    // since it read the start time; changed only with the write hold.
    std::atomic<std::uint32_t> flushes_{0};
    // One thread at a time allocates the next table of the set.
    std::atomic<bool> growthPreparing_{false};
    std::atomic<bool> receivedGrowthPreparing_{false};

    RWMutexLock launchLock_;
    std::atomic<bool> cleanupStarted_{false};
    RWThreadFunction cleanupThread_;  // guarded by launchLock_
    std::atomic<bool> stopping_{false};
    sem_t wake_;
};

// The process's cache, built on first use and never destroyed: threads may
// still use it while the process exits. Its first use arranges for
// stopCleanup to run at exit.
LogoffCookieCache& logoffCookieCache();
// Before the first use of logoffCookieCache() only: the hooks it is built with.
void logoffCookieCache_useHooks(const LogoffCookieCacheHooks& hooks);
