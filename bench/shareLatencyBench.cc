// Logoff-to-refusal latency across a farm: adds cookies on one host at a
// steady rate and asks another host about each until it refuses it.
//
//   share_latency_bench --from A_SOCKET --to B_SOCKET [--rate N] [--count N]
//
// The latency of a cookie runs from the end of its add on A (the logoff is
// recorded there) to the first answer 1 from B. B is asked about every
// pending cookie in turn, so the figures include up to one round of queries.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/steadyLogoffs.h"
#include "client/logoffCookieClient.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Pending {
    std::string text;
    Clock::time_point added;
};

}  // namespace

int main(int argc, char** argv) {
    const BenchArguments arguments(argc, argv);
    const char* from = arguments.text("--from");
    const char* to = arguments.text("--to");
    const int rate = arguments.number("--rate", 1000);
    const int count = arguments.number("--count", 10000);
    if (from == nullptr || to == nullptr || rate <= 0 || count <= 0) {
        std::fprintf(stderr, "usage: %s --from SOCKET --to SOCKET [--rate N] [--count N]\n",
                     argv[0]);
        return 2;
    }
    logoffCookieClient_options optionsA;
    logoffCookieClient_initOptions(&optionsA);
    optionsA.socketPath = from;
    logoffCookieClient_options optionsB = optionsA;
    optionsB.socketPath = to;
    auto created = static_cast<std::int32_t>(std::time(nullptr)) + 1000;
    std::string run = std::to_string(std::time(nullptr));

    std::mutex lock;
    std::vector<Pending> pending;  // guarded by lock
    std::vector<double> latencies;
    bool sending = true;  // guarded by lock

    std::thread checker([&] {
        std::vector<Pending> round;
        for (;;) {
            {
                std::lock_guard guard(lock);
                if (!sending && pending.empty()) {
                    return;
                }
                round = pending;
            }
            for (const Pending& p : round) {
                logoffCookieClient_cookie cookie = benchCookie(p.text, created);
                int cached = 0;
                if (logoffCookieClient_cookieIsCached(&optionsB, &cookie, &cached) ==
                        LC_CLIENT_OK &&
                    cached == 1) {
                    auto seen = Clock::now();
                    std::lock_guard guard(lock);
                    latencies.push_back(
                        std::chrono::duration<double, std::milli>(seen - p.added).count());
                    std::erase_if(pending, [&](const Pending& q) { return q.text == p.text; });
                }
            }
            if (round.empty()) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
    });

    const SteadyLogoffs sent = addAtSteadyRate(optionsA, "lat-" + run + "-", created, rate, count,
                                               [&](int, const std::string& text) {
                                                   std::lock_guard guard(lock);
                                                   pending.push_back({text, Clock::now()});
                                               });
    {
        std::lock_guard guard(lock);
        sending = false;
    }
    checker.join();

    std::printf("logoffs %d in %.2f s (%.0f/s), add failures %d, refused on B %zu\n", count,
                sent.seconds, count / sent.seconds, sent.failures, latencies.size());
    std::printf("latency ms: p50 %.2f  p90 %.2f  p99 %.2f  max %.2f\n",
                nearestRankPercentile(latencies, 0.50), nearestRankPercentile(latencies, 0.90),
                nearestRankPercentile(latencies, 0.99), nearestRankPercentile(latencies, 1.0));
    return 0;
}
