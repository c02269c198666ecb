// What farm sharing costs a query, and what a received logoff costs in
// memory. A query the local cache answers 0 (the common case: the cookie is
// not logged off) is measured with sharing off and on, with 1,000 local
// cookies and 100,000 received logoffs held.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cache/farmLogoff.h"
#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCache.h"
#include "cache/receivedLogoffs.h"

namespace {

const std::string kSecret(48, 's');
const FarmKey farmKey(reinterpret_cast<const std::uint8_t*>(kSecret.data()), kSecret.size());

void ignoreAdd(const FarmLogoff&) {}

struct Fields {
    char text[kLogoffCookieTextSize] = {};
    char bytes[kLogoffCookieTextSize] = {};
    char attributes[kLogoffCookieAttributesSize] = {};
    explicit Fields(std::uint64_t serial) {
        // Session-token sized texts: 48 characters each.
        std::string t = "text-" + std::to_string(serial) + std::string(40, 'T');
        std::string b = "bytes-" + std::to_string(serial) + std::string(40, 'B');
        std::memcpy(text, t.data(), std::min(t.size(), sizeof text));
        std::memcpy(bytes, b.data(), std::min(b.size(), sizeof bytes));
        std::uint32_t lifetime = 600;
        std::memcpy(attributes + kLogoffCookieMaxLifetimeOffset, &lifetime, 4);
    }
};

FarmLogoff receivedLogoff(std::uint64_t serial, std::int32_t created) {
    FarmLogoff logoff;
    std::memcpy(logoff.identity.data(), &serial, sizeof serial);
    logoff.identity[19] = 0x5a;
    logoff.times.creationTime = created;
    logoff.times.maxLifetimeMinutes = 600;
    return logoff;
}

void fillOnce() {
    static const bool filled = [] {
        initLogoffCookieCache();
        std::int32_t created = getCacheStartTime() + 1000;
        for (std::uint64_t i = 0; i < 1000; ++i) {
            Fields f(i);
            logoffCookieAPI_addToCache(f.text, f.bytes, created, created, 0, f.attributes, 0);
        }
        for (std::uint64_t i = 0; i < 100'000; ++i) {
            logoffCookieCache_addReceivedLogoff(
                std::vector<FarmLogoff>{receivedLogoff(i, created)});
        }
        return true;
    }();
    (void)filled;
}

void queryMisses(benchmark::State& state, bool sharing) {
    fillOnce();
    logoffCookieFarm_enable(sharing ? &farmKey : nullptr, sharing ? ignoreAdd : nullptr);
    std::int32_t created = getCacheStartTime() + 1000;
    std::vector<Fields> probes;
    for (std::uint64_t i = 0; i < 64; ++i) {
        probes.emplace_back(1'000'000 + i);
    }
    std::uint64_t n = 0;
    for (auto _ : state) {
        const Fields& f = probes[n++ % 64];
        benchmark::DoNotOptimize(
            logoffCookieAPI_cookieIsCached(f.text, f.bytes, created, 0, f.attributes));
    }
    logoffCookieFarm_enable(nullptr, nullptr);
}

void BM_QueryMissSharingOff(benchmark::State& state) {
    queryMisses(state, false);
}
void BM_QueryMissSharingOn(benchmark::State& state) {
    queryMisses(state, true);
}
BENCHMARK(BM_QueryMissSharingOff);
BENCHMARK(BM_QueryMissSharingOn);

// The farm identity alone: the part of the extra cost that is hashing.
void BM_FarmIdentity(benchmark::State& state) {
    Fields f(7);
    FarmIdentity identity;
    for (auto _ : state) {
        computeFarmIdentity(farmKey, f.text, f.bytes, 1'800'000'000, identity);
        benchmark::DoNotOptimize(identity);
    }
}
BENCHMARK(BM_FarmIdentity);

// Bytes the allocator has handed out, the bucket array (mapped once it is
// large) included.
std::size_t heapInUse() {
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Heap bytes per received logoff, with a million more held.
void BM_ReceivedLogoffMemory(benchmark::State& state) {
    fillOnce();
    constexpr std::uint64_t kCount = 1'000'000;
    // New identities in every run: the same ones again would cost nothing.
    static std::uint64_t base = 1ull << 40;
    for (auto _ : state) {
        // One batch through the entry point; the batch itself is not counted.
        std::vector<FarmLogoff> batch;
        batch.reserve(kCount);
        for (std::uint64_t i = 0; i < kCount; ++i) {
            batch.push_back(receivedLogoff(base + i, getCacheStartTime() + 1000));
        }
        std::size_t before = heapInUse();
        logoffCookieCache_addReceivedLogoff(batch);
        std::size_t after = heapInUse();
        state.counters["bytes_per_received_logoff"] =
            static_cast<double>(after - before) / static_cast<double>(kCount);
        base += kCount;
    }
}
BENCHMARK(BM_ReceivedLogoffMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
