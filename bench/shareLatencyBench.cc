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
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/logoffCookieClient.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Pending {
    std::string text;
    Clock::time_point added;
};

logoffCookieClient_cookie cookieFor(const std::string& text, std::int32_t created) {
    logoffCookieClient_cookie cookie;
    logoffCookieClient_initCookie(&cookie, text.c_str());
    cookie.creationTime = created;
    cookie.lastUseTime = created;
    return cookie;
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    // Nearest rank.
    auto rank = static_cast<std::size_t>(share * static_cast<double>(values.size()) + 0.999999);
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

}  // namespace

int main(int argc, char** argv) {
    const char* from = nullptr;
    const char* to = nullptr;
    int rate = 1000;
    int count = 10000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--from") == 0) {
            from = argv[i + 1];
        } else if (std::strcmp(argv[i], "--to") == 0) {
            to = argv[i + 1];
        } else if (std::strcmp(argv[i], "--rate") == 0) {
            rate = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--count") == 0) {
            count = std::atoi(argv[i + 1]);
        }
    }
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
    int addFailures = 0;
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
                logoffCookieClient_cookie cookie = cookieFor(p.text, created);
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

    auto start = Clock::now();
    auto interval = std::chrono::nanoseconds(1000000000 / rate);
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_until(start + i * interval);
        std::string text = "lat-" + run + "-" + std::to_string(i);
        logoffCookieClient_cookie cookie = cookieFor(text, created);
        if (logoffCookieClient_addToCache(&optionsA, &cookie) != LC_CLIENT_OK) {
            ++addFailures;
            continue;
        }
        std::lock_guard guard(lock);
        pending.push_back({text, Clock::now()});
    }
    double sendSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    {
        std::lock_guard guard(lock);
        sending = false;
    }
    checker.join();

    std::printf("logoffs %d in %.2f s (%.0f/s), add failures %d, refused on B %zu\n", count,
                sendSeconds, count / sendSeconds, addFailures, latencies.size());
    std::printf("latency ms: p50 %.2f  p90 %.2f  p99 %.2f  max %.2f\n", percentile(latencies, 0.50),
                percentile(latencies, 0.90), percentile(latencies, 0.99),
                percentile(latencies, 1.0));
    return 0;
}
