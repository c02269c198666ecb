// The warm restart's costs with 1,000,000 cookies held: saving them to a
// state file (written, flushed to disk, renamed) and loading them back into
// an empty cache (read, verified, restored), and the file's size per cookie.
//
// The file goes to STATE_BENCH_DIR, or the working directory: put it on the
// disk the service would use, since the save waits for the flush to disk.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "bench/benchMain.h"
#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCache.h"
#include "diag/traceLog.h"
#include "state/warmRestart.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kMillion = 1'000'000;
constexpr std::uint32_t kLifetimeMinutes = 365 * 24 * 60;
const std::uint8_t kKeyBytes[kStateKeySize] = {42};

std::string statePath() {
    const char* directory = std::getenv("STATE_BENCH_DIR");
    return std::string(directory != nullptr ? directory : ".") + "/state-bench.state";
}

// A million distinct cookies of 64-character texts, as session tokens fill them.
void fillCache() {
    char attributes[kLogoffCookieAttributesSize] = {};
    std::memcpy(attributes + kLogoffCookieMaxLifetimeOffset, &kLifetimeMinutes, 4);
    std::int32_t created = getCacheStartTime() + 1000;
    char text[kLogoffCookieTextSize];
    char bytes[kLogoffCookieTextSize];
    for (std::uint32_t i = 0; i < kMillion; ++i) {
        std::snprintf(text, sizeof text, "%063u", i * 2654435761u);
        std::snprintf(bytes, sizeof bytes, "%063u", i);
        logoffCookieAPI_addToCache(text, bytes, created, created, 0, attributes, 0);
    }
}

void emptyCache() {
    logoffCookieCache().forgetAll();
}

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void BM_SaveMillion(benchmark::State& state) {
    StateKey key(kKeyBytes);
    StateConfig config;
    config.path = statePath();
    for (auto _ : state) {
        auto start = Clock::now();
        bool saved =
            logoffCookieState_save(config, key, static_cast<std::int32_t>(time(nullptr)), {}, {});
        state.SetIterationTime(seconds(start));
        if (!saved) {
            state.SkipWithError("the state was not saved");
            return;
        }
    }
    struct stat info {};
    stat(config.path.c_str(), &info);
    state.counters["file_MB"] = static_cast<double>(info.st_size) / 1e6;
    state.counters["bytes_per_cookie"] = static_cast<double>(info.st_size) / kMillion;
}

void BM_LoadMillion(benchmark::State& state) {
    StateKey key(kKeyBytes);
    StateConfig config;
    config.path = statePath();
    std::uint32_t restored = 0;
    for (auto _ : state) {
        state.PauseTiming();
        emptyCache();
        // Each load sets the file aside: put it back.
        std::rename((config.path + ".old").c_str(), config.path.c_str());
        state.ResumeTiming();
        auto start = Clock::now();
        StateLoad load =
            logoffCookieState_load(config, key, static_cast<std::int32_t>(time(nullptr)));
        state.SetIterationTime(seconds(start));
        restored = load.cookies;
        if (!load.warm) {
            state.SkipWithError("the state was not loaded");
            return;
        }
    }
    state.counters["cookies"] = restored;
    std::remove((config.path + ".old").c_str());
    std::remove(config.path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    // Each save and load says one line: on standard error, not in a trace.
    setenv("VOKTRACELEVEL", "0", 1);
    startCacheWithoutCleanupLoop();
    fillCache();
    benchmark::RegisterBenchmark("BM_SaveMillion", BM_SaveMillion)
        ->Iterations(3)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_LoadMillion", BM_LoadMillion)
        ->Iterations(3)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    return runBenchmarks(argc, argv);
}
