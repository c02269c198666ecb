// The highest rate at which one host publishes logoffs: the real publishing
// thread against a real Redis, fed as fast as its queue takes them.
//
//   VOKLOGOFFSHARE=unix:/path/redis.sock VOKLOGOFFSHAREKEY=/path/key
//   share_publish_bench [COUNT]
//
// Prints the logoffs published per second, from the first queued to the last
// one Redis acknowledged.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "cache/logoffCookieAPI.h"
#include "diag/shareMetrics.h"
#include "share/farmSharing.h"
#include "share/shareLink.h"
#include "share/sharePublisher.h"
#include "share/shareThreads.h"

int main(int argc, char** argv) {
    std::uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 500000;
    ShareConfig config;
    std::string error;
    if (readShareConfig(config, error) != ShareConfigResult::On) {
        std::fprintf(stderr, "set VOKLOGOFFSHARE and VOKLOGOFFSHAREKEY: %s\n", error.c_str());
        return 2;
    }
    initLogoffCookieCache();
    ShareRunId run;
    if (!drawShareRunId(run, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    startFarmSharing(config, run);
    // Connected once the first logoff went through.
    FarmLogoff logoff;
    logoff.times.maxLifetimeMinutes = 60;
    shareQueueLogoff(logoff);
    while (metrics_value(ShareMetric::Published) < 1) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    auto start = std::chrono::steady_clock::now();
    for (std::uint64_t i = 0; i < count; ++i) {
        logoff.identity[0] = static_cast<std::uint8_t>(i);
        logoff.identity[1] = static_cast<std::uint8_t>(i >> 8);
        logoff.identity[2] = static_cast<std::uint8_t>(i >> 16);
        // A full queue is waited out here, not dropped: the rate measured
        // is what the publisher sustains.
        while (shareCommon().queue.size() >= kShareQueueCapacity / 2) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        shareQueueLogoff(logoff);
    }
    while (metrics_value(ShareMetric::Published) < count + 1) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("published %llu logoffs in %.2f s: %.0f per second (dropped %llu)\n",
                static_cast<unsigned long long>(count), seconds,
                static_cast<double>(count) / seconds,
                static_cast<unsigned long long>(metrics_value(ShareMetric::DroppedQueueFull)));
    std::fflush(stdout);
    std::_Exit(0);
}
