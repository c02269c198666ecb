#include "cache/logoffCookieCache.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <new>
#include <utility>
#include <vector>

#include "cache/cacheCeiling.h"
#include "cache/cookieTime.h"
#include "cache/receivedLogoffs.h"
#include "crypto/secureMemory.h"
#include "diag/serviceMetrics.h"
#include "diag/traceLog.h"
#include "support/threads/RWFunctor0.h"
#include "support/threads/RWReadersWriterLock.h"
#include "support/threads/RWRunnableImp.h"
#include "support/threads/cancellationScope.h"

namespace {

// The kernel's random bytes: the salt decides which cookies share a bucket,
// so nobody may foresee it, and the start second any local user can read is
// no secret. Ends the worker when the kernel gives none: a guessable salt
// would let a client pile its cookies into one bucket.
void fillFromKernel(std::uint8_t* bytes, std::size_t count) {
    std::size_t filled = 0;
    while (filled < count) {
        ssize_t got = getrandom(bytes + filled, count - filled, 0);
        if (got > 0) {
            filled += static_cast<std::size_t>(got);
        } else if (got < 0 && errno != EINTR) {
            int error = errno;
            TRACE_LOG(TRACE_DETAIL, "initLogoffCookieCache() -- getrandom failed: %s",
                      std::strerror(error));
            std::fprintf(stderr, "initLogoffCookieCache() -- getrandom failed: %s\n",
                         std::strerror(error));
            std::exit(1);
        }
    }
}

// Kinds 1 and 2 are told apart by the cleanup; every other kind counts as 0.
std::int32_t storedCookieKind(std::int32_t cookieKind) {
    return cookieKind == 1 || cookieKind == 2 ? cookieKind : 0;
}

// The bucket counts the set moves through: DEFAULT_CAPACITY, then about
// doubling at each step. The cookies' hash is digest bytes, even at any
// count; primes away from powers of two keep the index from resting on the
// low bits alone all the same.
// clang-format off
constexpr std::uint32_t kBucketCounts[] = {
    DEFAULT_CAPACITY, 97, 193, 389, 769, 1543, 3079, 6151, 12289, 24593, 49157,
    98317, 196613, 393241, 786433, 1572869, 3145739, 6291469, 12582917,
    25165843, 50331653, 100663319, 201326611, 402653189, 805306457, 1610612741};
// clang-format on

// Chains of at most two cookies on average: a query or an insert costs the
// same with a thousand cookies as with millions.
constexpr std::uint64_t kMostCookiesPerBucket = 2;

// The smallest count of the sequence that holds `cookies` within the bound.
std::uint32_t bucketCountFor(std::uint64_t cookies) {
    for (std::uint32_t count : kBucketCounts) {
        if (cookies <= kMostCookiesPerBucket * count) {
            return count;
        }
    }
    return kBucketCounts[std::size(kBucketCounts) - 1];
}

void traceLaunchFailure(const char* reason) {
    TRACE_LOG(TRACE_DETAIL,
              "logoffCookieAPI_addToCache() -- Could not start the cleanup thread: %s", reason);
}

void runCleanupThreadOf(LogoffCookieCache* cache);

}  // namespace

std::int32_t serviceClockNow() {
    return static_cast<std::int32_t>(std::time(nullptr));
}

TakenCacheRecords::~TakenCacheRecords() {
    while (RWCollectable* cookie = cookies.get()) {
        delete cookie;
    }
}

LogoffCookieCache::LogoffCookieCache(const LogoffCookieCacheHooks& hooks) : hooks_(hooks) {
    sem_init(&wake_, 0, 0);
}

// Only the instances of tests and benchmarks end: the process's lives on.
LogoffCookieCache::~LogoffCookieCache() {
    stopCleanup();
    {
        RWMutexLock::LockGuard launchGuard(launchLock_);
        if (cleanupThread_.isValid()) {
            cleanupThread_.waitExecutionState(RWRunnableImp::kInitial);
        }
    }
    WriteGuard hold(lock_);
    RWSlistCollectablesQueue owned;
    owned.appendAllFrom(passPending_);
    owned.appendAllFrom(passKept_);
    owned.appendAllFrom(queue_);
    while (RWCollectable* cookie = owned.get()) {
        set_.removeReference(cookie);
        delete cookie;
    }
    hold.release();
    sem_destroy(&wake_);
}

void LogoffCookieCache::init() {
    auto now = static_cast<std::int32_t>(std::time(nullptr));
    // A salt new in every run: nothing of an earlier run can match a digest.
    std::uint8_t salt[kLogoffCookieSaltSize];
    fillFromKernel(salt, sizeof salt);
    restoreStart(now, salt);
    secureZero(salt, sizeof salt);
}

void LogoffCookieCache::restoreStart(std::int32_t startTime, const std::uint8_t* salt) {
    WriteGuard hold(lock_);
    startTime_ = startTime;
    std::memcpy(salt_, salt, kLogoffCookieSaltSize);
    hold.release();
}

std::int32_t LogoffCookieCache::startTime() {
    return readHeld([this]() REQUIRES_SHARED(lock_) { return startTime_; });
}

void LogoffCookieCache::copySalt(std::uint8_t* destination) {
    ReadGuard hold(lock_);
    std::memcpy(destination, salt_, kLogoffCookieSaltSize);
    hold.release();
}

CacheStart LogoffCookieCache::start() {
    CacheStart start;
    ReadGuard hold(lock_);
    start.startTime = startTime_;
    std::memcpy(start.salt, salt_, kLogoffCookieSaltSize);
    start.flushes = flushes_.load(std::memory_order_relaxed);
    hold.release();
    return start;
}

int LogoffCookieCache::cookieIsCached(const char* cookieText, const char* cookieBytes,
                                      std::int32_t creationTime, std::int32_t timeOffset,
                                      const char* cookieAttributes) {
    return lookUp(cookieText, cookieBytes, creationTime, timeOffset, cookieAttributes, true);
}

int LogoffCookieCache::tryCookieIsCached(const char* cookieText, const char* cookieBytes,
                                         std::int32_t creationTime, std::int32_t timeOffset,
                                         const char* cookieAttributes) {
    return lookUp(cookieText, cookieBytes, creationTime, timeOffset, cookieAttributes, false);
}

int LogoffCookieCache::lookUp(const char* cookieText, const char* cookieBytes,
                              std::int32_t creationTime, std::int32_t timeOffset,
                              const char* cookieAttributes, bool mayWait) {
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_cookieIsCached() -- Entry.");
    // Start time and salt of one moment: a flush between two reads would
    // pair the start of one cache with the digests of another.
    CacheStart begun;
    if (mayWait) {
        begun = start();
    } else if (lock_.tryAcquireRead()) {
        begun.startTime = startTime_;
        std::memcpy(begun.salt, salt_, kLogoffCookieSaltSize);
        begun.flushes = flushes_.load(std::memory_order_relaxed);
        lock_.release();
    } else {
        return -1;
    }

    std::int32_t adjusted = wrappingSubtract(creationTime, timeOffset);
    TRACE_LOG(TRACE_DETAIL, "LogoffCookie -- The adjusted cookie creation time is: %d", adjusted);
    if (adjusted <= begun.startTime) {
        // The cache starts empty: a logoff recorded before its start is lost,
        // so a cookie from before then cannot be cleared and is refused.
        TRACE_LOG(TRACE_DETAIL,
                  "This cookie is older than the logoffCookie Cache process.  Invalidate it!");
        metrics_count(CountedMetric::RequestsBeforeStart);
        return 1;
    }

    // The digest takes the creation time as the cookie carries it.
    LogoffCookie lookup(cookieText, cookieBytes, creationTime, begun.salt, cookieAttributes);
    // With sharing on, the farm identity is made before the lock like the
    // digest: most queries are for cookies no host logged off, and those
    // need both lookups.
    const FarmKey* farmKey = logoffCookieFarm_key();
    FarmIdentity identity;
    if (farmKey != nullptr) {
        computeFarmIdentity(*farmKey, cookieText, cookieBytes, creationTime, identity);
    }

    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_cookieIsCached() -- readlock attempt.");
    if (mayWait) {
        lock_.acquireRead();
    } else if (!lock_.tryAcquireRead()) {
        return -1;
    }
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_cookieIsCached() -- readlock acquired.");
    const bool found = set_.find(&lookup) != nullptr;
    const bool loggedOffElsewhere = !found && farmKey != nullptr && received_.contains(identity);
    // The cache may have forgotten everything since the start time was read.
    const bool flushedMeanwhile = flushes_.load(std::memory_order_relaxed) != begun.flushes;
    const std::int32_t startNow = startTime_;
    lock_.release();
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_cookieIsCached() -- readlock released.");

    int result = 0;
    if (found || loggedOffElsewhere) {
        result = 1;
    } else if (flushedMeanwhile && adjusted <= startNow) {
        TRACE_LOG(TRACE_DETAIL,
                  "This cookie is older than the logoffCookie Cache process.  Invalidate it!");
        metrics_count(CountedMetric::RequestsBeforeStart);
        return 1;
    }
    metrics_count(result == 1 ? CountedMetric::RequestsLoggedOff
                              : CountedMetric::RequestsNotLoggedOff);
    return result;
}

std::uint64_t LogoffCookieCache::heldRecords() const {
    // The queues hold every local cookie the cache owns, one whose insert
    // into the set failed included.
    return std::uint64_t{queue_.entries()} + passPending_.entries() + passKept_.entries() +
           received_.size();
}

std::uint64_t LogoffCookieCache::flushIfFull(std::unique_ptr<TakenCacheRecords>& flushed) {
    std::uint64_t held = heldRecords();
    if (held < logoffCookieCache_ceiling()) {
        return 0;
    }
    // Allocates first: should that fail, nothing has changed. The start time
    // moves before anything is forgotten.
    flushed = std::make_unique<TakenCacheRecords>();
    startTime_ = std::max(startTime_, static_cast<std::int32_t>(std::time(nullptr)));
    takeAll(*flushed);
    // A query that read the start time before and misses now learns of it.
    flushes_.fetch_add(1, std::memory_order_release);
    return held;
}

std::unique_ptr<RWHashTable> LogoffCookieCache::insertIntoSet(LogoffCookie* cookie) {
    set_.insert(cookie);
    // A resize under way moves on a few buckets with every insert, so it
    // ends long before the set could outgrow the new table.
    return resizeStep(hooks_.resizeBucketsPerInsert);
}

std::unique_ptr<RWHashTable> LogoffCookieCache::resizeStep(std::uint32_t buckets) {
    return set_.step(buckets);
}

void LogoffCookieCache::beginResize(std::uint32_t buckets) {
    if (growthPreparing_.exchange(true, std::memory_order_acquire)) {
        return;  // another thread prepares one
    }
    // Allocated and touched here, with no hold: at millions of cookies the
    // new array is a hundred megabytes and more.
    std::unique_ptr<RWHashTable> fresh;
    try {
        fresh = std::make_unique<RWHashTable>(buckets);
    } catch (const std::bad_alloc&) {
        // The bucket count changes what a lookup costs, never what it
        // answers: the set works on with the buckets it has.
    }
    if (fresh) {
        WriteGuard hold(lock_);
        if (!set_.resizing() && set_.buckets() != buckets) {
            set_.beginResize(std::move(fresh));
        }
        hold.release();
    }
    growthPreparing_.store(false, std::memory_order_release);
    // `fresh`, if another resize came first, goes here with no hold.
}

void LogoffCookieCache::shrinkIfSparse() {
    // A set that has lost most of its cookies gives back buckets: under a
    // quarter of a cookie per bucket, it moves to room for twice the cookies,
    // so inserts do not grow it back at once.
    ReadGuard hold(lock_);
    const std::uint64_t entries = set_.entries();
    const bool shrink =
        !set_.resizing() && 4 * entries < set_.buckets() && set_.buckets() > DEFAULT_CAPACITY;
    hold.release();
    if (shrink) {
        beginResize(bucketCountFor(2 * entries));
        finishResize();
    }
}

void LogoffCookieCache::finishResize() {
    for (bool resizing = true; resizing && !stopping_.load(std::memory_order_acquire);) {
        WriteGuard hold(lock_);
        holdTaken();
        std::unique_ptr<RWHashTable> drained = set_.step(hooks_.sliceSize);
        resizing = set_.resizing();
        holdEnding();
        hold.release();
        // `drained` goes here, with no hold.
    }
}

void LogoffCookieCache::recordSizes() {
    metrics_set(StoredMetric::CookiesCached, set_.entries());
    metrics_set(StoredMetric::CookiesQueued,
                queue_.entries() + passPending_.entries() + passKept_.entries());
    metrics_set(StoredMetric::FarmEntries, received_.size());
}

void LogoffCookieCache::addToCache(const char* cookieText, const char* cookieBytes,
                                   std::int32_t lastUseTime, std::int32_t creationTime,
                                   std::int32_t timeOffset, const char* cookieAttributes,
                                   std::int32_t cookieKind) {
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_addToCache() -- Entry.");
    std::int32_t kind = storedCookieKind(cookieKind);

    std::uint8_t salt[kLogoffCookieSaltSize];
    copySalt(salt);
    // Built before the lock is taken. Owned by the cache once queued, and
    // then freed by the cleanup or a flush alone; freed here when an equal
    // cookie is cached already and takes its values instead.
    auto cookie = std::make_unique<LogoffCookie>(cookieText, cookieBytes, creationTime, salt,
                                                 cookieAttributes);
    cookie->setLastUseTime(lastUseTime);
    cookie->setCookieKind(kind);
    cookie->setTimeOffset(timeOffset);
    // Read now: once the lock is released the cleanup may free the cookie.
    std::uint32_t idleTimeoutMinutes = cookie->idleTimeoutMinutes();
    std::uint32_t maxLifetimeMinutes = cookie->maxLifetimeMinutes();

    // Declared before the hold, so that what a flush took is never freed
    // under the lock, not even on the way out of an exception.
    std::unique_ptr<TakenCacheRecords> flushed;
    std::uint64_t flushedCount = 0;
    // An emptied table of a resize takes a while to release: not under the
    // hold either.
    std::unique_ptr<RWHashTable> drained;
    // When the set has outgrown its buckets: how many the next table is for.
    std::uint64_t growFor = 0;
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_addToCache() -- writelock attempt.");
    WriteGuard hold(lock_);
    holdTaken();
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_addToCache() -- writelock acquired.");
    auto* existing = static_cast<LogoffCookie*>(set_.find(cookie.get()));
    if (existing != nullptr) {
        // Nothing is removed, whatever the line says: the cached record, which
        // is in a queue too, takes the newer values, so there stays one record
        // per digest, and the cleanup judges it by them. The update allocates
        // nothing, so it cannot fail halfway. The line keeps its words, as
        // does the "added to both cache and queue" line below: they are the
        // trace's fixed marks of a repeated add, which readers of the trace
        // search for.
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieAPI_addToCache() -- Adding a logoffCookie which already exists in "
                  "the cache.  First, remove the current.");
        existing->adoptTimesOf(*cookie);
    } else {
        flushedCount = flushIfFull(flushed);
        // The queue takes the cookie first: from then on the cache frees
        // it, so an insert into the set that runs out of memory leaks nothing
        // and leaves no freed cookie in the set.
        queue_.append(cookie.get());
        drained = insertIntoSet(cookie.release());
        if (!set_.resizing() && set_.entries() > kMostCookiesPerBucket * set_.buckets()) {
            growFor = set_.entries();
        }
    }
    TRACE_LOG(TRACE_DETAIL,
              "logoffCookieAPI_addToCache() -- Logoff cookie added to both cache and queue.");
    recordSizes();
    holdEnding();
    hold.release();
    metrics_count(CountedMetric::RequestsAdded);
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_addToCache() -- writelock released.");
    cookie.reset();
    drained.reset();
    if (flushed) {
        logoffCookieCache_reportFlush("logoffCookieAPI_addToCache", flushedCount);
        logoffCookieCache_keepFlushedRecords(std::move(flushed));
    } else if (growFor != 0) {
        // The next table is allocated here, with no hold.
        beginResize(bucketCountFor(growFor));
    }

    launchCleanupThreadOnce();

    // Told once the logoff is recorded here: the reply never waits for the farm.
    if (const FarmKey* farmKey = logoffCookieFarm_key()) {
        FarmLogoff logoff;
        computeFarmIdentity(*farmKey, cookieText, cookieBytes, creationTime, logoff.identity);
        logoff.times = {creationTime,       lastUseTime,        timeOffset,
                        idleTimeoutMinutes, maxLifetimeMinutes, kind};
        logoffCookieFarm_hook()(logoff);
    }
}

void LogoffCookieCache::freeFlushedRecords() {
    std::unique_ptr<TakenCacheRecords> flushed = logoffCookieCache_takeFlushedRecords();
    if (flushed == nullptr) {
        return;  // no flush: most requests
    }
    if (hooks_.freeingFlushed != nullptr) {
        hooks_.freeingFlushed();
    }
    const std::uint32_t flushedBuckets = flushed->set.buckets();
    flushed.reset();
    keepBucketsAfterFlush(flushedBuckets);
}

void LogoffCookieCache::keepBucketsAfterFlush(std::uint32_t flushedBuckets) {
    // A cache that reached its ceiling fills again at the same pace: the set
    // gets back the buckets it had at once, allocated here after the old ones
    // are freed, instead of growing there again from the smallest table in
    // a dozen steps.
    if (flushedBuckets == 0) {
        return;  // no flush: most adds
    }
    ReadGuard hold(lock_);
    const bool smaller = !set_.resizing() && set_.buckets() < flushedBuckets;
    hold.release();
    if (smaller) {
        beginResize(flushedBuckets);
    }
}

std::unique_ptr<ReceivedLogoffTable::Map> LogoffCookieCache::receivedInsert(
    const FarmLogoff& logoff) {
    return received_.insert(logoff, hooks_.resizeBucketsPerInsert);
}

void LogoffCookieCache::beginReceivedGrowth(std::size_t entries) {
    if (receivedGrowthPreparing_.exchange(true, std::memory_order_acquire)) {
        return;  // another thread prepares one
    }
    std::unique_ptr<ReceivedLogoffTable::Map> fresh;
    try {
        fresh = ReceivedLogoffTable::makeTable(entries);
    } catch (const std::bad_alloc&) {
        // As for the set: the buckets change what a lookup costs, never
        // what it answers.
    }
    if (fresh) {
        WriteGuard hold(lock_);
        if (received_.growthWanted() != 0) {
            received_.beginGrowth(std::move(fresh));
        }
        hold.release();
    }
    receivedGrowthPreparing_.store(false, std::memory_order_release);
}

void LogoffCookieCache::finishReceivedGrowth() {
    for (bool growing = true; growing && !stopping_.load(std::memory_order_acquire);) {
        WriteGuard hold(lock_);
        holdTaken();
        std::unique_ptr<ReceivedLogoffTable::Map> drained = received_.step(hooks_.sliceSize);
        growing = received_.growing();
        holdEnding();
        hold.release();
        // `drained` goes here, with no hold.
    }
}

void LogoffCookieCache::addReceivedLogoffs(std::span<const FarmLogoff> logoffs) {
    if (logoffs.empty()) {
        return;
    }
    // Not cut off at the exit between the set and the lock's release.
    NoCancellation wholeBatch;
    // What each flush of the batch took, with how many records it forgot:
    // freed, and each flush said, only once the lock is released.
    std::vector<std::pair<std::unique_ptr<TakenCacheRecords>, std::uint64_t>> flushes;
    flushes.reserve(logoffs.size());
    // Emptied older tables of a growth: at most one per batch, as a growth
    // begins only between batches; released after the hold.
    std::vector<std::unique_ptr<ReceivedLogoffTable::Map>> drained;
    drained.reserve(logoffs.size());
    std::size_t growFor = 0;
    {
        WriteGuard hold(lock_);
        for (const FarmLogoff& logoff : logoffs) {
            if (!received_.contains(logoff.identity)) {
                std::unique_ptr<TakenCacheRecords> flushed;
                std::uint64_t held = flushIfFull(flushed);
                if (flushed) {
                    flushes.emplace_back(std::move(flushed), held);
                }
            }
            if (auto emptied = receivedInsert(logoff)) {
                drained.push_back(std::move(emptied));
            }
        }
        growFor = received_.growthWanted();
        recordSizes();
        hold.release();
    }
    drained.clear();
    std::uint32_t flushedBuckets = 0;
    for (auto& [records, held] : flushes) {
        flushedBuckets = std::max(flushedBuckets, records->set.buckets());
        records.reset();
        logoffCookieCache_reportFlush("logoffCookieCache_addReceivedLogoff", held);
    }
    if (growFor != 0) {
        beginReceivedGrowth(growFor);
    }
    keepBucketsAfterFlush(flushedBuckets);
    launchCleanupThreadOnce();
}

void LogoffCookieCache::exportTo(LogoffCookieCacheVisitor& visitor) {
    ReadGuard hold(lock_);
    visitor.start(startTime_, salt_);
    // The set, not the queue: the queue may still hold a cookie whose insert
    // into the set ran out of memory, which no query finds either.
    visitor.cookies(set_.entries());
    set_.apply(
        [](RWCollectable* collectable, void* data) {
            const auto* cookie = static_cast<const LogoffCookie*>(collectable);
            static_cast<LogoffCookieCacheVisitor*>(data)->cookie(cookie->digest(), cookie->times());
        },
        &visitor);
    visitor.farmLogoffs(static_cast<std::uint32_t>(received_.size()));
    received_.forEach([&visitor](const FarmIdentity& identity, const CookieTimes& times) {
        FarmLogoff logoff;
        logoff.identity = identity;
        logoff.times = times;
        visitor.farmLogoff(logoff);
    });
    hold.release();
}

void LogoffCookieCache::reserve(std::uint32_t cookies) {
    ReadGuard hold(lock_);
    const std::uint64_t entries = std::uint64_t{set_.entries()} + cookies;
    const bool wanted = !set_.resizing() && entries > kMostCookiesPerBucket * set_.buckets();
    hold.release();
    if (wanted) {
        beginResize(bucketCountFor(entries));
        // Before any request: the move may as well be done at once.
        WriteGuard drain(lock_);
        std::unique_ptr<RWHashTable> drained = set_.step(UINT32_MAX);
        drain.release();
    }
}

void LogoffCookieCache::restoreCookie(const LogoffCookieDigest& digest, const CookieTimes& times) {
    auto restored = std::make_unique<LogoffCookie>(digest, times);
    WriteGuard hold(lock_);
    if (auto* existing = static_cast<LogoffCookie*>(set_.find(restored.get()))) {
        existing->adoptTimesOf(*restored);
        hold.release();
        return;
    }
    // The queue first, as an add does: from then on the cache frees it.
    queue_.append(restored.get());
    set_.insert(restored.release());
    recordSizes();
    hold.release();
}

void LogoffCookieCache::restoreFarmLogoff(const FarmLogoff& logoff) {
    std::unique_ptr<ReceivedLogoffTable::Map> drained;
    WriteGuard hold(lock_);
    drained = receivedInsert(logoff);
    const std::size_t growFor = received_.growthWanted();
    recordSizes();
    hold.release();
    drained.reset();
    if (growFor != 0) {
        // Before any request: the move may as well be done at once.
        beginReceivedGrowth(growFor);
        WriteGuard drain(lock_);
        drained = received_.step(SIZE_MAX);
        drain.release();
    }
}

// The test and the launch are one step: with several first inserts at once,
// exactly one launches the thread. The flag is set only after a successful
// start, so an insert after a failed launch tries again. A failed launch
// does not fail the insert: its cookie is recorded already, and the client
// is owed its reply.
void LogoffCookieCache::launchCleanupThreadOnce() {
    if (cleanupStarted_.load(std::memory_order_acquire)) {
        return;
    }
    RWMutexLock::LockGuard launchGuard(launchLock_);
    if (cleanupStarted_.load(std::memory_order_relaxed) ||
        stopping_.load(std::memory_order_acquire)) {
        return;
    }
    try {
        if (hooks_.beforeLaunch != nullptr) {
            hooks_.beforeLaunch();
        }
        cleanupThread_ = RWThreadFunction::make(
            RWFunctor0(new RWTFunctor0GA1Imp<void, LogoffCookieCache*>(runCleanupThreadOf, this)));
        cleanupThread_.start();
    } catch (const RWxmsg& failure) {
        traceLaunchFailure(failure.message());
        return;
    } catch (const std::exception& failure) {
        traceLaunchFailure(failure.what());
        return;
    }
    cleanupStarted_.store(true, std::memory_order_release);
    TRACE_LOG(TRACE_DETAIL, "Logoff Cookie cleanup thread started");
}

namespace {

void runCleanupThreadOf(LogoffCookieCache* cache) {
    cache->runCleanupThread();
}

}  // namespace

std::uint32_t LogoffCookieCache::cachedCookies() {
    return readHeld([this]() REQUIRES_SHARED(lock_) { return set_.entries(); });
}

std::uint32_t LogoffCookieCache::queuedCookies() {
    return readHeld([this]() REQUIRES_SHARED(lock_) {
        return queue_.entries() + passPending_.entries() + passKept_.entries();
    });
}

std::uint32_t LogoffCookieCache::receivedLogoffs() {
    return readHeld(
        [this]() REQUIRES_SHARED(lock_) { return static_cast<std::uint32_t>(received_.size()); });
}

std::uint32_t LogoffCookieCache::buckets() {
    return readHeld([this]() REQUIRES_SHARED(lock_) { return set_.buckets(); });
}

bool LogoffCookieCache::resizing() {
    return readHeld([this]() REQUIRES_SHARED(lock_) { return set_.resizing(); });
}

std::uint32_t LogoffCookieCache::longestChain() {
    return readHeld([this]() REQUIRES_SHARED(lock_) { return set_.longestChain(); });
}

bool LogoffCookieCache::containsReceived(const FarmIdentity& identity) {
    return readHeld([this, &identity]()
                        REQUIRES_SHARED(lock_) { return received_.contains(identity); });
}

std::vector<LogoffCookie*> LogoffCookieCache::queuedRecords() {
    std::vector<LogoffCookie*> records;
    ReadGuard hold(lock_);
    for (const RWSlistCollectablesQueue* queue : {&passKept_, &passPending_, &queue_}) {
        queue->apply(
            [](RWCollectable* cookie, void* data) {
                static_cast<std::vector<LogoffCookie*>*>(data)->push_back(
                    static_cast<LogoffCookie*>(cookie));
            },
            &records);
    }
    hold.release();
    return records;
}

void LogoffCookieCache::takeAll(TakenCacheRecords& taken) {
    received_.swap(taken.received);
    set_.swap(taken.set);
    // A pass under way finds nothing left to visit.
    taken.cookies.appendAllFrom(passKept_);
    taken.cookies.appendAllFrom(passPending_);
    taken.cookies.appendAllFrom(queue_);
}

void LogoffCookieCache::forgetAll() {
    auto taken = std::make_unique<TakenCacheRecords>();
    WriteGuard hold(lock_);
    takeAll(*taken);
    recordSizes();
    hold.release();
}

void LogoffCookieCache::forgetCleanupLaunch() {
    awaitCleanupThreadEnd();
    RWMutexLock::LockGuard launchGuard(launchLock_);
    cleanupThread_ = RWThreadFunction();
    cleanupStarted_.store(false, std::memory_order_release);
}

void LogoffCookieCache::awaitCleanupThreadEnd() {
    RWMutexLock::LockGuard launchGuard(launchLock_);
    if (cleanupThread_.isValid()) {
        cleanupThread_.waitExecutionState(RWRunnableImp::kInitial);
    }
}

const LogoffCookie* LogoffCookieCache::find(const LogoffCookie& probe) {
    return readHeld([this, &probe]() REQUIRES_SHARED(lock_) {
        return static_cast<const LogoffCookie*>(set_.find(&probe));
    });
}

std::uint32_t LogoffCookieCache::expireReceived(std::int32_t serviceNow) {
    WriteGuard hold(lock_);
    auto removed = static_cast<std::uint32_t>(received_.eraseExpired(serviceNow));
    recordSizes();
    hold.release();
    return removed;
}

namespace {

LogoffCookieCacheHooks& processHooks() {
    static LogoffCookieCacheHooks hooks;
    return hooks;
}

LogoffCookieCache* processCache = nullptr;

void stopProcessCleanupAtExit() {
    processCache->stopCleanup();
}

}  // namespace

void logoffCookieCache_useHooks(const LogoffCookieCacheHooks& hooks) {
    processHooks() = hooks;
}

LogoffCookieCache& logoffCookieCache() {
    static LogoffCookieCache* cache = [] {
        processCache = new LogoffCookieCache(processHooks());
        std::atexit(stopProcessCleanupAtExit);
        return processCache;
    }();
    return *cache;
}
