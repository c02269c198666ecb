// What the limits on adding cost. BM_PeerMayAdd: the check that a connection
// asking to add is allowed to, with no list (nothing asked of the system) and
// with one (the peer's credentials read from the socket). BM_FlushHeldRecords:
// how long a flush of N records keeps the cache's write lock (the manual time,
// and `lock_us`), and how long freeing them afterwards takes without it
// (`free_ms`). Each flush needs N records added first, which takes most of the
// run: about 10 s and 1.2 GB for 4,000,000.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "bench/benchMain.h"
#include "cache/cacheCeiling.h"
#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCache.h"
#include "service/addLimits.h"
#include "service/clientConnection.h"

namespace {

using Clock = std::chrono::steady_clock;

void BM_PeerMayAdd(benchmark::State& state) {
    if (state.range(0) == 0) {
        unsetenv("VOKLOGOFFADDUSERS");
    } else {
        setenv("VOKLOGOFFADDUSERS", "daemon,@adm", 1);
    }
    requireAddLimits();
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) {
        state.SkipWithError("socketpair failed");
        return;
    }
    ClientConnection connection(pair[0]);
    ClientConnection peer(pair[1]);
    for (auto _ : state) {
        benchmark::DoNotOptimize(logoffCookieService_peerMayAdd(connection));
    }
    unsetenv("VOKLOGOFFADDUSERS");
}
BENCHMARK(BM_PeerMayAdd)->Arg(0)->Arg(1);

// Distinct 64-character texts, as session tokens fill them.
void addDistinctCookie(std::uint32_t serial, const char* attributes, std::int32_t created) {
    char text[kLogoffCookieTextSize];
    char bytes[kLogoffCookieTextSize];
    std::memset(text, 'a', sizeof text);
    std::memset(bytes, 'b', sizeof bytes);
    std::snprintf(text, sizeof text, "%010u", serial);
    text[10] = 'a';
    logoffCookieAPI_addToCache(text, bytes, created, created, 0, attributes, 0);
}

void BM_FlushHeldRecords(benchmark::State& state) {
    const auto records = static_cast<std::uint32_t>(state.range(0));
    char attributes[kLogoffCookieAttributesSize] = {};
    const std::uint32_t lifetime = 365 * 24 * 60;
    std::memcpy(attributes + kLogoffCookieMaxLifetimeOffset, &lifetime, sizeof lifetime);
    double freeMillis = 0;
    double lockMicros = 0;
    for (auto _ : state) {
        logoffCookieCache_setCeiling(records + 1);
        const std::int32_t created = getCacheStartTime() + 1000;
        for (std::uint32_t serial = 0; serial < records; ++serial) {
            addDistinctCookie(serial, attributes, created);
        }
        logoffCookieCache_setCeiling(records);

        // The add that passes the ceiling: its hold takes every record out.
        const auto acquired = Clock::now();
        addDistinctCookie(records, attributes, created);
        const auto released = Clock::now();
        logoffCookieCache_takeFlushedRecords().reset();
        const auto freed = Clock::now();
        if (logoffCookieCache().cachedCookies() != 1) {
            state.SkipWithError("the flush did not take every record");
            return;
        }
        std::chrono::duration<double> locked = released - acquired;
        state.SetIterationTime(locked.count());
        lockMicros = locked.count() * 1e6;
        freeMillis = std::chrono::duration<double, std::milli>(freed - released).count();
    }
    state.counters["lock_us"] = lockMicros;
    state.counters["free_ms"] = freeMillis;
    logoffCookieCache_setCeiling(kCacheDefaultMaxCookies);
}
BENCHMARK(BM_FlushHeldRecords)
    ->Arg(1'000'000)
    ->Arg(4'000'000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    unsetenv("VOKTRACELEVEL");
    startCacheWithoutCleanupLoop();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
