// What the service's metrics cost: a query through the cache's entry point
// (hit and miss, 10,000 cookies held) and one count on its own, with metrics
// off and then on, on one thread and on several at once. Counting is
// switched on for good, so every "Off" benchmark is registered, and runs,
// before the first "On" one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "bench/benchMain.h"
#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCache.h"
#include "diag/serviceMetrics.h"

namespace {

constexpr std::uint32_t kHeldCookies = 10'000;
constexpr std::uint32_t kLifetimeMinutes = 365 * 24 * 60;

struct Cookie {
    char text[kLogoffCookieTextSize] = {};
    char bytes[kLogoffCookieTextSize] = {};
    explicit Cookie(std::uint32_t serial) {
        std::snprintf(text, sizeof text, "metrics-bench-cookie-%u", serial);
        std::snprintf(bytes, sizeof bytes, "second-field-%u", serial);
    }
};

char attributes[kLogoffCookieAttributesSize] = {};

std::int32_t creationTime() {
    return getCacheStartTime() + 1000;
}

void fillCache() {
    std::memcpy(attributes + kLogoffCookieMaxLifetimeOffset, &kLifetimeMinutes,
                sizeof kLifetimeMinutes);
    for (std::uint32_t serial = 0; serial < kHeldCookies; ++serial) {
        Cookie cookie(serial);
        logoffCookieAPI_addToCache(cookie.text, cookie.bytes, creationTime(), creationTime(), 0,
                                   attributes, 0);
    }
}

// Hits query the held cookies; misses query serials above them.
void queryLoop(benchmark::State& state, bool hit) {
    std::uint32_t serial = static_cast<std::uint32_t>(state.thread_index()) * 7919;
    int found = 0;
    for (auto _ : state) {
        serial = (serial + 1) % kHeldCookies;
        Cookie cookie(hit ? serial : serial + kHeldCookies);
        found += logoffCookieAPI_cookieIsCached(cookie.text, cookie.bytes, creationTime(), 0,
                                                attributes);
    }
    benchmark::DoNotOptimize(found);
}

void countLoop(benchmark::State& state) {
    for (auto _ : state) {
        metrics_count(CountedMetric::RequestsNotLoggedOff);
    }
}

void BM_QueryHitOff(benchmark::State& state) {
    queryLoop(state, true);
}
void BM_QueryMissOff(benchmark::State& state) {
    queryLoop(state, false);
}
void BM_CountOff(benchmark::State& state) {
    countLoop(state);
}
void BM_QueryHitOn(benchmark::State& state) {
    metrics_enable();
    queryLoop(state, true);
}
void BM_QueryMissOn(benchmark::State& state) {
    metrics_enable();
    queryLoop(state, false);
}
void BM_CountOn(benchmark::State& state) {
    metrics_enable();
    countLoop(state);
}

BENCHMARK(BM_QueryHitOff)->ThreadRange(1, 2)->UseRealTime();
BENCHMARK(BM_QueryMissOff)->ThreadRange(1, 2)->UseRealTime();
BENCHMARK(BM_CountOff)->ThreadRange(1, 2)->UseRealTime();
BENCHMARK(BM_QueryHitOn)->ThreadRange(1, 2)->UseRealTime();
BENCHMARK(BM_QueryMissOn)->ThreadRange(1, 2)->UseRealTime();
BENCHMARK(BM_CountOn)->ThreadRange(1, 2)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    startCacheWithoutCleanupLoop();
    fillCache();
    return runBenchmarks(argc, argv);
}
