#include "cache/logoffCookieAPI.h"

#include <exception>
#include <memory>
#include <utility>
#include <vector>

#include "cache/LogoffCookie.h"
#include "cache/cacheCeiling.h"
#include "cache/cookieTime.h"
#include "cache/logoffCookieCacheState.h"
#include "cache/receivedLogoffs.h"
#include "diag/serviceMetrics.h"
#include "diag/traceLog.h"
#include "support/threads/cancellationScope.h"

namespace {

// Kinds 1 and 2 are told apart by the cleanup; every other kind counts as 0.
std::int32_t storedCookieKind(std::int32_t cookieKind) {
    return cookieKind == 1 || cookieKind == 2 ? cookieKind : 0;
}

void traceLaunchFailure(const char* reason) {
    TRACE_LOG(TRACE_DETAIL,
              "logoffCookieAPI_addToCache() -- Could not start the cleanup thread: %s", reason);
}

// What the flushes of one batch of received logoffs took, with how many
// records each forgot. Declared before the lock's guard, so that the records
// are freed, and each flush said, only once the lock is released, on the way
// out of an exception too.
class BatchFlushes {
  public:
    explicit BatchFlushes(std::size_t most) { taken_.reserve(most); }
    BatchFlushes(const BatchFlushes&) = delete;
    BatchFlushes& operator=(const BatchFlushes&) = delete;
    ~BatchFlushes() {
        for (auto& [records, held] : taken_) {
            records.reset();
            logoffCookieCache_reportFlush("logoffCookieAPI_addReceivedLogoff", held);
        }
    }

    // Requires the write hold: makes room for one record more. Never
    // allocates for its own list, which holds a place for each logoff.
    void makeRoom() {
        std::unique_ptr<TakenCacheRecords> flushed;
        std::uint64_t held = logoffCookieCache_flushIfFull(flushed);
        if (flushed) {
            taken_.emplace_back(std::move(flushed), held);
        }
    }

  private:
    std::vector<std::pair<std::unique_ptr<TakenCacheRecords>, std::uint64_t>> taken_;
};

}  // namespace

// The test and the launch are one step: with several first inserts at once,
// exactly one launches the thread. The flag is set only after a successful
// start, so an insert after a failed launch tries again. A failed launch
// does not fail the insert: its cookie is recorded already, and the client
// is owed its reply.
void logoffCookieAPI_launchCleanupThreadOnce() {
    if (cleanupThreadStarted.load(std::memory_order_acquire) == 1) {
        return;
    }
    RWMutexLock::LockGuard launchGuard(cleanupThreadLaunchLock);
    if (cleanupThreadStarted.load(std::memory_order_relaxed) == 1) {
        return;
    }
    try {
        cleanupThreadLauncher();
    } catch (const RWxmsg& failure) {
        traceLaunchFailure(failure.message());
        return;
    } catch (const std::exception& failure) {
        traceLaunchFailure(failure.what());
        return;
    }
    cleanupThreadStarted.store(1, std::memory_order_release);
    TRACE_LOG(TRACE_DETAIL, "Logoff Cookie cleanup thread started");
}

int logoffCookieAPI_cookieIsCached(const char* cookieText, const char* cookieBytes,
                                   int32_t creationTime, int32_t timeOffset,
                                   const char* cookieAttributes) {
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_cookieIsCached() -- Entry.");
    int result = 0;
    const std::uint32_t flushesSeen = cacheFlushes.load(std::memory_order_acquire);
    std::int32_t start = getCacheStartTime();

    std::int32_t adjusted = wrappingSubtract(creationTime, timeOffset);
    TRACE_LOG(TRACE_DETAIL, "LogoffCookie -- The adjusted cookie creation time is: %d", adjusted);
    if (adjusted <= start) {
        // The cache starts empty: a logoff recorded before its start is lost,
        // so a cookie from before then cannot be cleared and is refused.
        TRACE_LOG(TRACE_DETAIL,
                  "This cookie is older than the logoffCookie Cache process.  Invalidate it!");
        metrics_count(CountedMetric::RequestsBeforeStart);
        return 1;
    }

    std::uint8_t salt[COOKIE_SALT_SIZE];
    copyCookieSalt(salt);
    // The digest takes the creation time as the cookie carries it.
    LogoffCookie lookup(cookieText, cookieBytes, creationTime, salt, cookieAttributes);
    // With sharing on, the farm identity is made before the lock like the
    // digest: most queries are for cookies no host logged off, and those
    // need both lookups.
    const FarmKey* farmKey = logoffCookieFarm_key();
    FarmIdentity identity;
    if (farmKey != nullptr) {
        computeFarmIdentity(*farmKey, cookieText, cookieBytes, creationTime, identity);
    }

    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_cookieIsCached() -- readlock attempt.");
    ReadGuard guard(logoffCookieCacheLock);
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_cookieIsCached() -- readlock acquired.");
    const LogoffCookie* found = logoffCookieTable_find(lookup);
    bool loggedOffElsewhere =
        found == nullptr && farmKey != nullptr && receivedLogoffs_contains(identity);
    // The cache may have forgotten everything since the start time was read.
    bool flushedMeanwhile = cacheFlushes.load(std::memory_order_acquire) != flushesSeen;
    guard.release();
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_cookieIsCached() -- readlock released.");

    if (found != nullptr || loggedOffElsewhere) {
        result = 1;
    } else if (flushedMeanwhile && adjusted <= getCacheStartTime()) {
        TRACE_LOG(TRACE_DETAIL,
                  "This cookie is older than the logoffCookie Cache process.  Invalidate it!");
        metrics_count(CountedMetric::RequestsBeforeStart);
        return 1;
    }
    metrics_count(result == 1 ? CountedMetric::RequestsLoggedOff
                              : CountedMetric::RequestsNotLoggedOff);
    return result;
}

void logoffCookieAPI_addToCache(const char* cookieText, const char* cookieBytes,
                                int32_t lastUseTime, int32_t creationTime, int32_t timeOffset,
                                const char* cookieAttributes, int32_t cookieKind) {
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_addToCache() -- Entry.");
    std::int32_t kind = storedCookieKind(cookieKind);

    std::uint8_t salt[COOKIE_SALT_SIZE];
    copyCookieSalt(salt);
    // Built before the lock is taken. Owned by the cache once queued, and
    // then freed by the cleanup thread alone; freed here when an equal cookie
    // is cached already and takes its values instead.
    auto cookie = std::make_unique<LogoffCookie>(cookieText, cookieBytes, creationTime, salt,
                                                 cookieAttributes);
    cookie->setLastUseTime(lastUseTime);
    cookie->setCookieKind(kind);
    cookie->setTimeOffset(timeOffset);
    // Read now: once the lock is released the cleanup may free the cookie.
    std::uint32_t idleTimeoutMinutes = cookie->idleTimeoutMinutes();
    std::uint32_t maxLifetimeMinutes = cookie->maxLifetimeMinutes();

    // Declared before the guard, so that what a flush took is never freed
    // under the lock, not even on the way out of an exception.
    std::unique_ptr<TakenCacheRecords> flushed;
    std::uint64_t flushedCount = 0;
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_addToCache() -- writelock attempt.");
    WriteGuard guard(logoffCookieCacheLock);
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_addToCache() -- writelock acquired.");
    LogoffCookie* existing = logoffCookieTable_find(*cookie);
    if (existing != nullptr) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieAPI_addToCache() -- Adding a logoffCookie which already exists in "
                  "the cache.  First, remove the current.");
        // One record per digest: the cached one, which is in the queue too,
        // takes the newer values, and the cleanup judges it by them. A cookie
        // logged off again and again costs no memory, and the update
        // allocates nothing, so it cannot fail halfway.
        existing->adoptTimesOf(*cookie);
    } else {
        flushedCount = logoffCookieCache_flushIfFull(flushed);
        // The queue takes the cookie first: from then on the cleanup frees
        // it, so an insert into the set that runs out of memory leaks nothing
        // and leaves no freed cookie in the set.
        logoffCookieQueue.append(cookie.get());
        logoffCookieTable_insert(cookie.release());
    }
    TRACE_LOG(TRACE_DETAIL,
              "logoffCookieAPI_addToCache() -- Logoff cookie added to both cache and queue.");
    logoffCookieCache_recordSizes();
    guard.release();
    metrics_count(CountedMetric::RequestsAdded);
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_addToCache() -- writelock released.");
    cookie.reset();
    if (flushed) {
        logoffCookieCache_reportFlush("logoffCookieAPI_addToCache", flushedCount);
        logoffCookieCache_keepFlushedRecords(std::move(flushed));
    }

    logoffCookieAPI_launchCleanupThreadOnce();

    // Told once the logoff is recorded here: the reply never waits for the farm.
    if (const FarmKey* farmKey = logoffCookieFarm_key()) {
        FarmLogoff logoff;
        computeFarmIdentity(*farmKey, cookieText, cookieBytes, creationTime, logoff.identity);
        logoff.times = {creationTime,       lastUseTime,        timeOffset,
                        idleTimeoutMinutes, maxLifetimeMinutes, kind};
        logoffCookieFarm_hook()(logoff);
    }
}

void logoffCookieAPI_addReceivedLogoff(std::span<const FarmLogoff> logoffs) {
    if (logoffs.empty()) {
        return;
    }
    // Not cut off at the exit between the set and the lock's release.
    NoCancellation wholeBatch;
    {
        BatchFlushes flushes(logoffs.size());
        WriteGuard guard(logoffCookieCacheLock);
        for (const FarmLogoff& logoff : logoffs) {
            if (!receivedLogoffs_contains(logoff.identity)) {
                flushes.makeRoom();
            }
            receivedLogoffs_insert(logoff);
        }
        logoffCookieCache_recordSizes();
    }
    logoffCookieAPI_launchCleanupThreadOnce();
}
