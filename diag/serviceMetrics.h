// The service's metrics: a fixed set of named numbers, counted where things
// happen and written out by the service's periodic writer. Like tracing, they
// are off unless switched on (VOKLOGOFFMETRICS); while off every call below
// costs one test of a flag.
#pragma once

#include <atomic>
#include <cstdint>

// Events counted on the request path. Each thread counts into the shard of
// the processor it runs on, so concurrent connections rarely share a line.
enum class CountedMetric : unsigned {
    RequestsLoggedOff,        // query answered 1: the cookie was logged off
    RequestsNotLoggedOff,     // query answered 0
    RequestsBeforeStart,      // query answered 1: created before the cache started
    RequestsAdded,            // add
    RequestsInvalidFunction,  // unknown function code
    RequestsTooShort,         // fewer bytes than the function needs
    RequestsUndecryptable,    // the envelope did not open
    RequestsClientGone,       // unanswered: the client went away first
    ConnectionsAccepted,
    ConnectionsTimedOut,  // dropped by the receive time-out
    ConnectionsRefused,   // no thread could be had for it
    CleanupPasses,
    AddsRefusedNotListed,      // the peer is not allowed to add (VOKLOGOFFADDUSERS)
    AddsRefusedNoCredentials,  // the peer's credentials could not be read
    CacheFlushes,              // the ceiling was passed and every record forgotten
    LoopAcceptFailures,        // the client loop's accept failed: nobody served meanwhile
    LoopSelectFailures,        // the client loop's select failed, a signal aside
    Count
};

// Levels and totals kept elsewhere, stored here as they change or when the
// writer samples them. One atomic each: they are set, not summed.
enum class StoredMetric : unsigned {
    ConnectionThreadsLive,
    ConnectionThreadsWaiting,
    CookiesCached,
    CookiesQueued,
    FarmEntries,
    CleanupLastPassMicros,
    CleanupLastLockMicros,
    ProcessStartTime,
    Count
};

// A stored value that is not known (a read that never succeeded): written
// out as NaN, the format's own word for it.
inline constexpr std::int64_t kMetricUnknown = INT64_MIN;

inline constexpr unsigned kCountedMetrics = static_cast<unsigned>(CountedMetric::Count);
inline constexpr unsigned kStoredMetrics = static_cast<unsigned>(StoredMetric::Count);
// A power of two, so a processor number maps to a shard with a mask.
inline constexpr unsigned kMetricShards = 16;

struct alignas(64) MetricShard {
    std::atomic<std::uint64_t> counts[kCountedMetrics];
};

extern MetricShard metricShards[kMetricShards];
extern std::atomic<std::int64_t> storedMetrics[kStoredMetrics];
extern std::atomic<bool> metricsOn;

unsigned metrics_currentShard();

// Switches counting on for the rest of the process; it is never switched off.
void metrics_enable();
bool metrics_enabled();

inline void metrics_count(CountedMetric metric, std::uint64_t amount = 1) {
    if (!metricsOn.load(std::memory_order_relaxed)) {
        return;
    }
    metricShards[metrics_currentShard()].counts[static_cast<unsigned>(metric)].fetch_add(
        amount, std::memory_order_relaxed);
}

inline void metrics_set(StoredMetric metric, std::int64_t value) {
    if (!metricsOn.load(std::memory_order_relaxed)) {
        return;
    }
    storedMetrics[static_cast<unsigned>(metric)].store(value, std::memory_order_relaxed);
}

inline void metrics_add(StoredMetric metric, std::int64_t amount) {
    if (!metricsOn.load(std::memory_order_relaxed)) {
        return;
    }
    storedMetrics[static_cast<unsigned>(metric)].fetch_add(amount, std::memory_order_relaxed);
}

// The sum over all shards. Counting goes on meanwhile, so two counters read
// one after the other need not belong to the same instant.
std::uint64_t metrics_value(CountedMetric metric);
std::int64_t metrics_value(StoredMetric metric);
