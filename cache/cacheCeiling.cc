#include "cache/cacheCeiling.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <utility>

#include "cache/logoffCookieCache.h"
#include "diag/serviceMetrics.h"
#include "diag/traceLog.h"

namespace {

std::atomic<std::uint32_t> maxRecords{kCacheDefaultMaxCookies};

thread_local std::unique_ptr<TakenCacheRecords> keptFlushedRecords;

}  // namespace

void logoffCookieCache_setCeiling(std::uint32_t records) {
    maxRecords.store(records, std::memory_order_relaxed);
}

std::uint32_t logoffCookieCache_ceiling() {
    return maxRecords.load(std::memory_order_relaxed);
}

void logoffCookieCache_reportFlush(const char* function, std::uint64_t held) {
    metrics_count(CountedMetric::CacheFlushes);
    char line[320];
    std::snprintf(line, sizeof line,
                  "%s() -- %" PRIu64
                  " records held reached the ceiling of %u (VOKLOGOFFMAXCOOKIES): all forgotten, "
                  "and every cookie created before now counts as logged off, as after a restart.",
                  function, held, static_cast<unsigned>(logoffCookieCache_ceiling()));
    // Not traceAndSay: its trace line would name operatorLine.cc in place
    // of this file, and it says on standard error first, where the trace
    // line has always come first.
    TRACE_LOG(TRACE_DETAIL, "%s", line);
    std::fprintf(stderr, "%s\n", line);
}

void logoffCookieCache_keepFlushedRecords(std::unique_ptr<TakenCacheRecords> flushed) {
    keptFlushedRecords = std::move(flushed);
}

std::unique_ptr<TakenCacheRecords> logoffCookieCache_takeFlushedRecords() {
    return std::move(keptFlushedRecords);
}
