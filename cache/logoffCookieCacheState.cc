#include "cache/logoffCookieCacheState.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <new>

#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCleanupThread.h"
#include "cache/receivedLogoffs.h"
#include "crypto/secureMemory.h"
#include "diag/serviceMetrics.h"
#include "diag/traceLog.h"
#include "support/collections/RWHashTable.h"

// Defined together, in this order, so that they are built in it. The set
// starts with DEFAULT_CAPACITY buckets and grows with the cookies it holds.
RWReadersWriterLock logoffCookieCacheLock;
RWReadersWriterLock cacheStartTimeLock;
RWReadersWriterLock cookieSaltLock;
static RWHashTable logoffCookieHashTable(DEFAULT_CAPACITY);
RWSlistCollectablesQueue logoffCookieQueue;
RWThreadFunction cleanupThreadHandle;

std::atomic<int> cleanupThreadStarted{0};
RWMutexLock cleanupThreadLaunchLock;
void (*cleanupThreadFunction)() = logoffCookie_CleanupThread;
void (*cleanupThreadLauncher)() = launchCleanupThread;

// Written once by initLogoffCookieCache, zero until then.
static std::int32_t cacheStartTime = 0;
static std::uint8_t cookieSalt[COOKIE_SALT_SIZE] = {};

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

}  // namespace

void initLogoffCookieCache() {
    auto now = static_cast<std::int32_t>(std::time(nullptr));

    WriteGuard startGuard(cacheStartTimeLock);
    cacheStartTime = now;
    startGuard.release();

    // A salt new in every run: nothing of an earlier run can match a digest.
    std::uint8_t salt[COOKIE_SALT_SIZE];
    fillFromKernel(salt, sizeof salt);
    WriteGuard saltGuard(cookieSaltLock);
    std::memcpy(cookieSalt, salt, sizeof salt);
    saltGuard.release();
    secureZero(salt, sizeof salt);
}

void launchCleanupThread() {
    cleanupThreadHandle = RWThreadFunction::make(cleanupThreadFunction);
    cleanupThreadHandle.start();
}

std::int32_t getCacheStartTime() {
    ReadGuard guard(cacheStartTimeLock);
    std::int32_t start = cacheStartTime;
    guard.release();
    return start;
}

void copyCookieSalt(std::uint8_t* destination) {
    ReadGuard guard(cookieSaltLock);
    std::memcpy(destination, cookieSalt, COOKIE_SALT_SIZE);
    guard.release();
}

namespace {

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

// Only the cost depends on the bucket count, never an answer: when memory
// for the new buckets runs short, the set keeps its buckets and works on.
void resizeLogoffCookieTable(std::uint32_t buckets) {
    if (buckets == logoffCookieHashTable.buckets()) {
        return;
    }
    try {
        logoffCookieHashTable.resize(buckets);
    } catch (const std::bad_alloc&) {
        // resize leaves the set as it was.
    }
}

}  // namespace

LogoffCookie* logoffCookieTable_find(const LogoffCookie& probe) {
    return static_cast<LogoffCookie*>(logoffCookieHashTable.find(&probe));
}

void logoffCookieTable_insert(LogoffCookie* cookie) {
    logoffCookieHashTable.insert(cookie);
    std::uint32_t entries = logoffCookieHashTable.entries();
    if (entries > kMostCookiesPerBucket * logoffCookieHashTable.buckets()) {
        resizeLogoffCookieTable(bucketCountFor(entries));
    }
}

void logoffCookieTable_fitToEntries() {
    // Shrinks only when under a quarter of a cookie per bucket is left, and
    // then to room for twice the cookies: inserts do not grow it back at once.
    std::uint64_t entries = logoffCookieHashTable.entries();
    if (4 * entries < logoffCookieHashTable.buckets()) {
        resizeLogoffCookieTable(bucketCountFor(2 * entries));
    }
}

LogoffCookie* logoffCookieTable_removeReference(const LogoffCookie* cookie) {
    return static_cast<LogoffCookie*>(logoffCookieHashTable.removeReference(cookie));
}

std::uint32_t logoffCookieTable_entries() {
    return logoffCookieHashTable.entries();
}

void logoffCookieCache_recordSizes() {
    metrics_set(StoredMetric::CookiesCached, logoffCookieHashTable.entries());
    metrics_set(StoredMetric::CookiesQueued, logoffCookieQueue.entries());
    metrics_set(StoredMetric::FarmEntries, receivedLogoffs_entries());
}

std::uint32_t logoffCookieTable_buckets() {
    return logoffCookieHashTable.buckets();
}

namespace {

// Cookies come bucket by bucket from apply: a chain is a run of one index.
struct ChainRun {
    std::uint32_t buckets;
    std::uint32_t index = 0;
    std::uint32_t length = 0;
    std::uint32_t longest = 0;
};

void countChainRun(RWCollectable* cookie, void* data) {
    auto* run = static_cast<ChainRun*>(data);
    std::uint32_t index = cookie->hash() % run->buckets;
    run->length = run->length != 0 && index == run->index ? run->length + 1 : 1;
    run->index = index;
    run->longest = std::max(run->longest, run->length);
}

}  // namespace

std::uint32_t logoffCookieTable_longestChain() {
    ChainRun run{logoffCookieHashTable.buckets()};
    logoffCookieHashTable.apply(countChainRun, &run);
    return run.longest;
}
