#include "bench/benchMain.h"

#include <benchmark/benchmark.h>

#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCache.h"

void startCacheWithoutCleanupLoop() {
    LogoffCookieCacheHooks hooks;
    hooks.cleanupThread = [](LogoffCookieCache&) {};
    logoffCookieCache_useHooks(hooks);
    initLogoffCookieCache();
}

int runBenchmarks(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
