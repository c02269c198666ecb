// How long a logoff takes to reach every host of a farm: adds cookies on
// one host at a steady rate and, for some of them (the probes), asks every
// other host until each refuses it.
//
//   farm_fanout_bench --from SOCKET --to SOCKET [--to SOCKET...]
//                     [--rate N] [--count N] [--probes N] [--checkers N]
//
// A probe's time runs from the end of its add on the first host to the
// first answer 1 from the last of the other hosts to give one. Each
// checking thread asks its share of the hosts in turn, so the figures
// include up to one round of queries over that share. A probe that some
// host has not refused 10 s after its add is counted as missed.
#include <unistd.h>

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

constexpr auto kGiveUpAfter = std::chrono::seconds(10);

struct Probe {
    std::string text;
    Clock::time_point added;
    std::vector<Clock::time_point> answered;  // per host; zero until it answers 1
    std::size_t left = 0;                     // hosts that have not answered
};

}  // namespace

int main(int argc, char** argv) {
    const BenchArguments arguments(argc, argv);
    const char* from = arguments.text("--from");
    const std::vector<std::string> to = arguments.all("--to");
    const int rate = arguments.number("--rate", 500);
    const int count = arguments.number("--count", 10000);
    const int probes = arguments.number("--probes", 50);
    int checkers = arguments.number("--checkers", 4);
    if (from == nullptr || to.empty() || rate <= 0 || count <= 0 || probes <= 0 || probes > count ||
        checkers <= 0) {
        std::fprintf(stderr,
                     "usage: %s --from SOCKET --to SOCKET [--to SOCKET...] [--rate N] [--count N] "
                     "[--probes N] [--checkers N]\n",
                     argv[0]);
        return 2;
    }
    checkers = std::min<int>(checkers, static_cast<int>(to.size()));
    logoffCookieClient_options sender;
    logoffCookieClient_initOptions(&sender);
    sender.socketPath = from;
    std::vector<logoffCookieClient_options> hosts(to.size(), sender);
    for (std::size_t h = 0; h < to.size(); ++h) {
        hosts[h].socketPath = to[h].c_str();
    }
    auto created = static_cast<std::int32_t>(std::time(nullptr)) + 1000;
    std::string run = std::to_string(std::time(nullptr)) + "-" + std::to_string(getpid());

    std::mutex lock;
    std::vector<Probe> pending;  // guarded by lock
    std::vector<double> reachedAll;
    int missed = 0;
    bool sending = true;  // guarded by lock

    // Thread `c` asks hosts c, c + checkers, ...
    auto check = [&](int c) {
        std::vector<std::pair<std::string, Clock::time_point>> round;
        for (;;) {
            round.clear();
            {
                std::lock_guard guard(lock);
                if (!sending && pending.empty()) {
                    return;
                }
                for (const Probe& p : pending) {
                    round.emplace_back(p.text, p.added);
                }
            }
            for (const auto& [text, added] : round) {
                logoffCookieClient_cookie cookie = benchCookie(text, created);
                for (std::size_t h = static_cast<std::size_t>(c); h < hosts.size();
                     h += static_cast<std::size_t>(checkers)) {
                    {
                        std::lock_guard guard(lock);
                        auto it = std::find_if(pending.begin(), pending.end(),
                                               [&](const Probe& p) { return p.text == text; });
                        if (it == pending.end() || it->answered[h] != Clock::time_point{}) {
                            continue;
                        }
                    }
                    int cached = 0;
                    if (logoffCookieClient_cookieIsCached(&hosts[h], &cookie, &cached) !=
                            LC_CLIENT_OK ||
                        cached != 1) {
                        continue;
                    }
                    auto seen = Clock::now();
                    std::lock_guard guard(lock);
                    auto it = std::find_if(pending.begin(), pending.end(),
                                           [&](const Probe& p) { return p.text == text; });
                    if (it != pending.end() && it->answered[h] == Clock::time_point{}) {
                        it->answered[h] = seen;
                        if (--it->left == 0) {
                            reachedAll.push_back(
                                std::chrono::duration<double, std::milli>(seen - it->added)
                                    .count());
                            pending.erase(it);
                        }
                    }
                }
            }
            {
                std::lock_guard guard(lock);
                auto now = Clock::now();
                std::erase_if(pending, [&](const Probe& p) {
                    bool late = now - p.added > kGiveUpAfter;
                    missed += late ? 1 : 0;
                    return late;
                });
            }
            if (round.empty()) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
    };
    std::vector<std::thread> threads;
    for (int c = 0; c < checkers; ++c) {
        threads.emplace_back(check, c);
    }

    const int probeEvery = count / probes;
    const SteadyLogoffs sent = addAtSteadyRate(
        sender, "fan-" + run + "-", created, rate, count, [&](int i, const std::string& text) {
            // The last logoff is always a probe.
            if ((count - 1 - i) % probeEvery == 0) {
                Probe probe{text, Clock::now(), {}, hosts.size()};
                probe.answered.assign(hosts.size(), Clock::time_point{});
                std::lock_guard guard(lock);
                pending.push_back(std::move(probe));
            }
        });
    {
        std::lock_guard guard(lock);
        sending = false;
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    std::printf("logoffs %d in %.2f s (%.0f/s), add failures %d, hosts asked %zu\n", count,
                sent.seconds, count / sent.seconds, sent.failures, hosts.size());
    std::printf("reached every host, ms: p50 %.2f  p99 %.2f  max %.2f  (probes %zu, missed %d)\n",
                nearestRankPercentile(reachedAll, 0.50), nearestRankPercentile(reachedAll, 0.99),
                nearestRankPercentile(reachedAll, 1.0), reachedAll.size(), missed);
    return missed == 0 && sent.failures == 0 ? 0 : 1;
}
