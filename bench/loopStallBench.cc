// How long the client loop stops taking connections, and queries wait, while
// the cache fills (growing its set) and while a cleanup pass runs over it. The service's client
// loop and dispatcher run in this process on a socket of their own; C clients send complete
// queries, one connection each, back to back; a probe client sends, back to back, a request that
// needs no cache (a function code alone, answered 1), timing each from connect to the end of its
// connection. Cleanup passes over N cookies (all of them expiring, or none) run on this thread
// while that goes on. The longest probe in flight during a pass is what the pass cost the loop; the
// longest probe between passes is the same figure without one; the longest query during the pass is
// what it cost the clients.
// What the cache itself costs a query is timed apart from the sockets: a direct querier thread asks
// the cache in-process every 100 µs and keeps its longest wait per phase. Each write hold of a
// pass or of an add of the fill is timed by wall clock and by the holder's processor time
// (CLOCK_THREAD_CPUTIME_ID): a long hold that used little processor time waited for one. The
// direct querier's own wait for a processor during its longest query is the run_delay of
// /proc/thread-self/schedstat.
//
//   loop_stall_bench [--cookies N] [--clients C] [--passes P] [--expire all|none]
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cache/LogoffCookie.h"
#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCache.h"
#include "cache/logoffCookieCleanupThread.h"
#include "crypto/logoffCookiePipe_crypt.h"
#include "diag/serviceMetrics.h"
#include "service/clientLoop.h"
#include "service/listenSocket.h"
#include "tests/support/rawRequests.h"
#include "tests/support/serviceProcess.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    long cookies = 1'000'000;
    int clients = 16;
    int passes = 3;
    bool expireAll = true;
};

// One probe: when it connected and when its connection ended.
struct Probe {
    Clock::time_point start;
    Clock::time_point end;
};

std::atomic<bool> stopping{false};
std::atomic<long> queriesAnswered{0};
std::mutex probesMutex;
std::vector<Probe> probes;   // guarded by probesMutex
std::vector<Probe> queries;  // guarded by probesMutex

// Connects, writes `text` in one write and reads until the service closes.
bool exchange(const std::string& socket, const std::string& text) {
    int fd = lctest::connectTo(socket);
    if (fd < 0) {
        return false;
    }
    bool sent =
        send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
    char buffer[256];
    size_t received = 0;
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        received += static_cast<size_t>(n);
    }
    close(fd);
    return sent && received > 0;
}

// The cookies a pass walks: created after the cache's start, living one minute.
void fillCache(long count, long first) {
    char attributes[kLogoffCookieAttributesSize] = {};
    const std::uint32_t lifetimeMinutes = 1;
    std::memcpy(attributes + kLogoffCookieMaxLifetimeOffset, &lifetimeMinutes,
                sizeof lifetimeMinutes);
    const std::int32_t created = getCacheStartTime() + 1000;
    for (long i = 0; i < count; ++i) {
        char text[kLogoffCookieTextSize] = {};
        char bytes[kLogoffCookieTextSize] = {};
        std::snprintf(text, sizeof text, "stall-%ld", first + i);
        std::snprintf(bytes, sizeof bytes, "bytes-%ld", first + i);
        logoffCookieAPI_addToCache(text, bytes, created, created, 0, attributes, 0);
    }
}

std::int32_t passNow = 0;
std::int32_t passClock() {
    return passNow;
}

// Nanoseconds of a thread clock.
std::int64_t threadCpuNanos() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// Nanoseconds this thread has waited, ready, for a processor since it began.
std::int64_t threadRunDelayNanos() {
    FILE* file = std::fopen("/proc/thread-self/schedstat", "r");
    if (file == nullptr) {
        return 0;
    }
    long long running = 0;
    long long waiting = 0;
    int read = std::fscanf(file, "%lld %lld", &running, &waiting);
    std::fclose(file);
    return read == 2 ? waiting : 0;
}

std::int64_t steadyNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// The holds of a pass, on the passing thread only: the longest by wall time
// with its processor time and run delay, and the most processor time of any.
// For each, the times the holder was switched out of its processor against its
// will, and the page faults it took.
struct HoldTimes {
    long holds = 0;
    std::int64_t longestWall = 0;
    std::int64_t longestCpu = 0;
    std::int64_t longestDelay = 0;
    long longestSwitches = 0;
    std::int64_t mostCpu = 0;
    long mostCpuFaults = 0;
    long holdsSwitched = 0;
};
HoldTimes holdTimes;
std::int64_t holdWallStart = 0;
std::int64_t holdCpuStart = 0;

// A hold waits for nothing but a processor (it takes no other lock and does
// no input or output), so what of its wall time it did not run, it waited
// for one.
rusage holdUsageStart{};

void holdTaken() {
    getrusage(RUSAGE_THREAD, &holdUsageStart);
    holdWallStart = steadyNanos();
    holdCpuStart = threadCpuNanos();
}

void holdEnding() {
    const std::int64_t cpu = threadCpuNanos() - holdCpuStart;
    const std::int64_t wall = steadyNanos() - holdWallStart;
    const std::int64_t delay = wall - cpu;
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    const long switches = usage.ru_nivcsw - holdUsageStart.ru_nivcsw;
    const long faults =
        usage.ru_minflt - holdUsageStart.ru_minflt + usage.ru_majflt - holdUsageStart.ru_majflt;
    ++holdTimes.holds;
    holdTimes.holdsSwitched += switches != 0 ? 1 : 0;
    if (cpu > holdTimes.mostCpu) {
        holdTimes.mostCpu = cpu;
        holdTimes.mostCpuFaults = faults;
    }
    if (wall > holdTimes.longestWall) {
        holdTimes.longestWall = wall;
        holdTimes.longestCpu = cpu;
        holdTimes.longestDelay = delay;
        holdTimes.longestSwitches = switches;
    }
}

void printHolds(const char* what, int number) {
    std::printf(
        "%s %d: %ld write holds, %ld of them switched out; the longest %.2f ms wall, %.2f ms "
        "processor, %.2f ms waiting for a processor, switched out %ld times; most processor time "
        "of a hold %.2f ms, with %ld page faults\n",
        what, number, holdTimes.holds, holdTimes.holdsSwitched,
        static_cast<double>(holdTimes.longestWall) / 1e6,
        static_cast<double>(holdTimes.longestCpu) / 1e6,
        static_cast<double>(holdTimes.longestDelay) / 1e6, holdTimes.longestSwitches,
        static_cast<double>(holdTimes.mostCpu) / 1e6, holdTimes.mostCpuFaults);
}

// The direct querier's longest wait per phase (fills and passes numbered
// apart, the time between them in phase 0).
constexpr int kPhases = 64;
std::atomic<int> phase{0};
std::atomic<std::int64_t> longestDirect[kPhases];
std::atomic<long> directQueries[kPhases];
std::atomic<long> directOver5ms[kPhases];
// Of the longest direct query of each phase: how long its thread itself waited for a processor.
std::atomic<std::int64_t> longestDirectDelay[kPhases];

void queryDirectly(std::int32_t created) {
    char attributes[kLogoffCookieAttributesSize] = {};
    char text[kLogoffCookieTextSize] = "never-logged-off";
    char bytes[kLogoffCookieTextSize] = "direct";
    while (!stopping.load()) {
        const std::int64_t delayBefore = threadRunDelayNanos();
        const std::int64_t start = steadyNanos();
        logoffCookieCache().cookieIsCached(text, bytes, created, 0, attributes);
        const std::int64_t took = steadyNanos() - start;
        const std::int64_t delay = threadRunDelayNanos() - delayBefore;
        const int now = phase.load();
        std::int64_t longest = longestDirect[now].load();
        if (took > longest) {
            longestDirect[now].store(took);
            longestDirectDelay[now].store(delay);
        }
        directQueries[now].fetch_add(1);
        directOver5ms[now].fetch_add(took > 5'000'000 ? 1 : 0);
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Of the exchanges in `timed` in flight at some moment in [from, to]: the
// longest time one took within the window, and how many ended in it.
std::pair<double, int> longestIn(const std::vector<Probe>& timed, Clock::time_point from,
                                 Clock::time_point to) {
    std::lock_guard<std::mutex> lock(probesMutex);
    double longest = 0;
    int ended = 0;
    for (const Probe& probe : timed) {
        if (probe.end < from || probe.start > to) {
            continue;
        }
        longest = std::max(
            longest, millisecondsBetween(std::max(probe.start, from), std::min(probe.end, to)));
        ended += probe.end <= to ? 1 : 0;
    }
    return {longest, ended};
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        std::string value = argv[i + 1];
        if (name == "--cookies") {
            options.cookies = std::stol(value);
        } else if (name == "--clients") {
            options.clients = std::stoi(value);
        } else if (name == "--passes") {
            options.passes = std::min(std::stoi(value), (kPhases - 1) / 2);
        } else if (name == "--expire") {
            options.expireAll = value == "all";
        } else {
            std::fprintf(stderr, "loop_stall_bench: unknown option %s\n", name.c_str());
            std::exit(2);
        }
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    Options options = parse(argc, argv);
    char pattern[] = "/tmp/loop-stall-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return 1;
    }
    const std::string directory = pattern;
    const std::string socket = directory + "/logoffCookieSocket";
    unsetenv("VOKTRACELEVEL");
    // For the pass's longest single hold of the cache.
    metrics_enable();
    // The passes run here, at chosen moments, with a chosen clock.
    LogoffCookieCacheHooks hooks;
    hooks.cleanupThread = [](LogoffCookieCache&) {};
    hooks.holdTaken = holdTaken;
    hooks.holdEnding = holdEnding;
    logoffCookieCache_useHooks(hooks);
    initLogoffCookieCache();
    setHashKeySeed();
    int fd_socket = createListeningSocket(socket.c_str());
    if (fd_socket < 0) {
        return 1;
    }
    std::thread([fd_socket] { logoffCookieService_clientLoop(fd_socket); }).detach();

    lctest::CookieFields asked;
    asked.text = "never-logged-off";
    asked.creationTime = static_cast<std::int32_t>(time(nullptr)) + 1000;
    const std::string query = lctest::encryptRequest(lctest::queryPayload(asked));
    const std::string probe = lctest::encryptRequest(lctest::codePayload(1, 4));

    std::vector<std::thread> threads;
    for (int i = 0; i < options.clients; ++i) {
        threads.emplace_back([&] {
            while (!stopping.load()) {
                Probe timed{Clock::now(), {}};
                if (exchange(socket, query)) {
                    ++queriesAnswered;
                }
                timed.end = Clock::now();
                std::lock_guard<std::mutex> lock(probesMutex);
                queries.push_back(timed);
            }
        });
    }
    threads.emplace_back([&] {
        while (!stopping.load()) {
            Probe timed{Clock::now(), {}};
            exchange(socket, probe);
            timed.end = Clock::now();
            std::lock_guard<std::mutex> lock(probesMutex);
            probes.push_back(timed);
        }
    });
    threads.emplace_back([created = asked.creationTime] { queryDirectly(created); });

    std::printf("loop_stall_bench: %ld cookies, %s expiring, %d query clients\n", options.cookies,
                options.expireAll ? "all" : "none", options.clients);
    long filled = 0;
    for (int pass = 1; pass <= options.passes; ++pass) {
        if (options.expireAll || filled == 0) {
            // The fill grows the set: what it costs the queries is measured too.
            const Clock::time_point fillStart = Clock::now();
            holdTimes = HoldTimes{};
            phase.store(2 * pass - 1);
            fillCache(options.cookies, filled);
            phase.store(0);
            filled += options.cookies;
            const Clock::time_point fillEnd = Clock::now();
            std::printf(
                "fill %d: %.0f ms; during it: longest query %.1f ms, longest probe %.1f ms, "
                "longest direct query %.2f ms (its own wait for a processor %.2f ms), %ld of %ld "
                "over 5 ms\n",
                pass, millisecondsBetween(fillStart, fillEnd),
                longestIn(queries, fillStart, fillEnd).first,
                longestIn(probes, fillStart, fillEnd).first,
                static_cast<double>(longestDirect[2 * pass - 1].load()) / 1e6,
                static_cast<double>(longestDirectDelay[2 * pass - 1].load()) / 1e6,
                directOver5ms[2 * pass - 1].load(), directQueries[2 * pass - 1].load());
            printHolds("fill", pass);
        }
        const Clock::time_point quietFrom = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        const Clock::time_point passStart = Clock::now();
        const long queriesBefore = queriesAnswered.load();
        passNow = options.expireAll ? getCacheStartTime() + 1'000'000 : getCacheStartTime();
        holdTimes = HoldTimes{};
        phase.store(2 * pass);
        logoffCookieCache().cleanupPass(passClock);
        phase.store(0);
        const Clock::time_point passEnd = Clock::now();
        const long queriesDuring = queriesAnswered.load() - queriesBefore;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        auto [quietLongest, quietProbes] = longestIn(probes, quietFrom, passStart);
        auto [passLongest, passProbes] = longestIn(probes, passStart, passEnd);
        const double queryLongest = longestIn(queries, passStart, passEnd).first;
        std::printf(
            "pass %d: %.1f ms; during it: longest probe %.1f ms, %d probes ended, "
            "longest query %.1f ms, %ld queries answered; in the %.0f ms before it: longest probe "
            "%.1f ms, %d probes\n",
            pass, millisecondsBetween(passStart, passEnd), passLongest, passProbes, queryLongest,
            queriesDuring, millisecondsBetween(quietFrom, passStart), quietLongest, quietProbes);
        std::printf("pass %d: longest single write hold %.2f ms\n", pass,
                    static_cast<double>(metrics_value(StoredMetric::CleanupLastLockMicros)) / 1000);
        printHolds("pass", pass);
        std::printf(
            "pass %d: longest direct query %.2f ms (its own wait for a processor %.2f ms), "
            "%ld of %ld over 5 ms\n",
            pass, static_cast<double>(longestDirect[2 * pass].load()) / 1e6,
            static_cast<double>(longestDirectDelay[2 * pass].load()) / 1e6,
            directOver5ms[2 * pass].load(), directQueries[2 * pass].load());
        std::fflush(stdout);
    }
    stopping.store(true);
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::filesystem::remove_all(directory);
    // The loop never returns and the cache's cookies stay: leave at once.
    std::_Exit(0);
}
