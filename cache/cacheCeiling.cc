#include "cache/cacheCeiling.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "cache/receivedLogoffs.h"
#include "diag/serviceMetrics.h"
#include "diag/traceLog.h"

namespace {

std::atomic<std::uint32_t> maxRecords{DEFAULT_MAX_COOKIES};

thread_local std::unique_ptr<TakenCacheRecords> keptFlushedRecords;

}  // namespace

void logoffCookieCache_setCeiling(std::uint32_t records) {
    maxRecords.store(records, std::memory_order_relaxed);
}

std::uint32_t logoffCookieCache_ceiling() {
    return maxRecords.load(std::memory_order_relaxed);
}

std::uint64_t logoffCookieCache_flushIfFull(std::unique_ptr<TakenCacheRecords>& flushed) {
    // The queue holds every local cookie the cache owns, one whose insert
    // into the set failed included.
    std::uint64_t held = std::uint64_t{logoffCookieQueue.entries()} + receivedLogoffs_entries();
    if (held < logoffCookieCache_ceiling()) {
        return 0;
    }
    // Allocates first: should that fail, nothing has changed. The start time
    // moves before anything is forgotten, so a failure between leaves the
    // cache refusing more, never less.
    flushed = std::make_unique<TakenCacheRecords>();
    moveCacheStartTime(static_cast<std::int32_t>(std::time(nullptr)));
    logoffCookieCache_takeAll(*flushed);
    // A query that read the start time before and misses now learns of it.
    cacheFlushes.fetch_add(1, std::memory_order_release);
    return held;
}

void logoffCookieCache_reportFlush(const char* function, std::uint64_t held) {
    metrics_count(CountedMetric::CacheFlushes);
    char line[320];
    std::snprintf(line, sizeof line,
                  "%s() -- %" PRIu64
                  " records held reached the ceiling of %u (VOKLOGOFFMAXCOOKIES): all forgotten, "
                  "and every cookie created before now counts as logged off, as after a restart.",
                  function, held, static_cast<unsigned>(logoffCookieCache_ceiling()));
    TRACE_LOG(TRACE_DETAIL, "%s", line);
    std::fprintf(stderr, "%s\n", line);
}

void logoffCookieCache_keepFlushedRecords(std::unique_ptr<TakenCacheRecords> flushed) {
    keptFlushedRecords = std::move(flushed);
}

void logoffCookieAPI_freeFlushedRecords() {
    keptFlushedRecords.reset();
}
