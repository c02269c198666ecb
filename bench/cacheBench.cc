// Costs of the logoff cookie cache through its own entry points: queries
// (hit and miss) and inserts with 1,000, 100,000 and 1,000,000 cookies held,
// the same with 50,000 cookies that all share one text, cleanup passes over
// 1,000,000 cookies, the memory one cached cookie takes, and the memory one
// cookie added 200,000 times takes. One cache per process, so the
// benchmarks share it: each brings it to the size it needs, and they run in an order that fills a
// million once (BM_FillFromEmpty) and then uses that million before anything empties it.
//
// The cleanup thread's 240-second loop never runs here: the first insert
// launches a thread that returns at once, and the passes are driven by hand
// with a clock of the benchmark's choosing.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
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
#include "cache/logoffCookieCleanupThread.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kMillion = 1'000'000;
constexpr std::uint32_t kSameTextCookies = 50'000;
constexpr std::uint32_t kLongLifetimeMinutes = 365 * 24 * 60;
constexpr std::uint32_t kShortLifetimeMinutes = 1;

// Serial ranges that never meet: held cookies count up from 0, probes that
// must miss and cookies added by the insert benchmark live far above them.
constexpr std::uint64_t kMissSerials = 1ull << 40;
constexpr std::uint64_t kExtraSerials = 1ull << 41;

std::uint64_t splitMix64(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// The fields of cookie number `serial`: a text and a second field of 64
// base64 characters each, as the front of a long session token fills them
// (no NUL, so the cached text takes its full size).
struct CookieFields {
    char text[kLogoffCookieTextSize];
    char bytes[kLogoffCookieTextSize];

    // Cookies of one session text told apart only by their second field:
    // what a client sends that logs off one text again and again.
    // The text is that of serial 0.
    void make(std::uint64_t serial, bool sameText) {
        make(serial);
        if (sameText) {
            static const CookieFields first = [] {
                CookieFields fields;
                fields.make(0);
                return fields;
            }();
            std::memcpy(text, first.text, sizeof text);
        }
    }

    void make(std::uint64_t serial) {
        static constexpr char kAlphabet[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        char* out = text;
        // 10 characters of 6 bits from each 64-bit draw.
        for (std::uint64_t draw = 0; out < text + 2 * kLogoffCookieTextSize; ++draw) {
            std::uint64_t bits = splitMix64(serial * 16 + draw);
            for (int i = 0; i < 10 && out < text + 2 * kLogoffCookieTextSize; ++i, bits >>= 6) {
                *out++ = kAlphabet[bits & 63];
            }
        }
    }
};
static_assert(sizeof(CookieFields) == 2 * kLogoffCookieTextSize);

struct Attributes {
    char bytes[kLogoffCookieAttributesSize] = {};
    explicit Attributes(std::uint32_t maxLifetimeMinutes) {
        std::memcpy(bytes + kLogoffCookieMaxLifetimeOffset, &maxLifetimeMinutes, 4);
    }
};
const Attributes longLived(kLongLifetimeMinutes);
const Attributes shortLived(kShortLifetimeMinutes);

// All cookies are created a while after the cache start, so no query is
// answered by the age test alone.
std::int32_t creationTime() {
    return getCacheStartTime() + 1000;
}

// Which cookies the held serials stand for: distinct texts, or one text.
bool heldSameText = false;

void addCookie(std::uint64_t serial, const Attributes& attributes) {
    CookieFields fields;
    fields.make(serial, heldSameText);
    std::int32_t created = creationTime();
    logoffCookieAPI_addToCache(fields.text, fields.bytes, created, created, 0, attributes.bytes, 0);
}

int queryCookie(std::uint64_t serial) {
    CookieFields fields;
    fields.make(serial, heldSameText);
    return logoffCookieAPI_cookieIsCached(fields.text, fields.bytes, creationTime(), 0,
                                          longLived.bytes);
}

// The service clock the passes read.
std::int32_t passNow = 0;
std::int32_t passClock() {
    return passNow;
}

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// CPU seconds of the passes timed since the last reset: on a shared machine
// the elapsed time also counts what other programs took.
double passCpuSeconds = 0;

// Times one cleanup pass with the service clock at `now`; returns elapsed
// seconds. The pass holds the write lock from its start to its end: its time
// bounds the time every query and insert waits behind it.
double timedPass(std::int32_t now) {
    passNow = now;
    double cpuStart = threadCpuSeconds();
    auto start = Clock::now();
    logoffCookieCache().cleanupPass(passClock);
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    passCpuSeconds += threadCpuSeconds() - cpuStart;
    return elapsed;
}

// Reports the mean CPU time of the benchmark's timed passes.
void reportPassCpu(benchmark::State& state) {
    state.counters["pass_cpu_ms"] = passCpuSeconds * 1e3 / static_cast<double>(state.iterations());
}

// Short-lived cookies are gone, long-lived ones stay.
void expireShortLived() {
    timedPass(creationTime() + 30);
}

// Serials 0 to heldCount - 1, all long-lived, are cached and nothing else.
std::uint32_t heldCount = 0;

void emptyCache() {
    timedPass(creationTime() + static_cast<std::int32_t>(kLongLifetimeMinutes * 60));
    heldCount = 0;
}

// Brings the cache to serials 0 to `count` - 1, of distinct texts or of one
// text; returns the longest single insert on the way, in seconds (a growth
// of the table shows there).
double holdCookies(std::uint32_t count, bool sameText = false) {
    if (heldCount > count || heldSameText != sameText) {
        emptyCache();
        heldSameText = sameText;
    }
    double longest = 0;
    for (; heldCount < count; ++heldCount) {
        auto start = Clock::now();
        addCookie(heldCount, longLived);
        longest = std::max(longest, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return longest;
}

std::uint32_t cachedCount() {
    return logoffCookieCache().cachedCookies();
}

// Visits serials 0 to count - 1 in a scattered order, so that a run over a
// large cache does not walk memory in the order the cookies were made.
struct ScatteredSerials {
    std::uint64_t count;
    std::uint64_t next = 0;
    std::uint64_t take() {
        std::uint64_t serial = (next * 2654435761ull) % count;  // stride prime to 10^k
        next = next + 1 == count ? 0 : next + 1;
        return serial;
    }
};

void BM_MakeFields(benchmark::State& state) {
    CookieFields fields;
    std::uint64_t serial = 0;
    for (auto _ : state) {
        fields.make(serial++);
        benchmark::DoNotOptimize(fields);
    }
}

void BM_QueryHit(benchmark::State& state, bool sameText) {
    auto count = static_cast<std::uint32_t>(state.range(0));
    holdCookies(count, sameText);
    ScatteredSerials serials{count};
    int wrong = 0;
    for (auto _ : state) {
        wrong += queryCookie(serials.take()) != 1;
    }
    if (wrong != 0) {
        state.SkipWithError("a cached cookie was not found");
    }
    state.counters["buckets"] = logoffCookieCache().buckets();
}

void BM_QueryMiss(benchmark::State& state, bool sameText) {
    auto count = static_cast<std::uint32_t>(state.range(0));
    holdCookies(count, sameText);
    std::uint64_t serial = kMissSerials;
    int wrong = 0;
    for (auto _ : state) {
        wrong += queryCookie(serial++) != 0;
    }
    if (wrong != 0) {
        state.SkipWithError("a cookie never added was found");
    }
}

// New cookies on top of the held ones, removed every 1% of growth by a pass
// that only they expire in (not timed), so the size stays within 1%.
void BM_Insert(benchmark::State& state, bool sameText) {
    auto count = static_cast<std::uint32_t>(state.range(0));
    holdCookies(count, sameText);
    const std::uint32_t batch = std::max(count / 100, 10u);
    std::uint64_t serial = kExtraSerials;
    std::uint32_t added = 0;
    for (auto _ : state) {
        if (added == batch) {
            state.PauseTiming();
            expireShortLived();
            added = 0;
            state.ResumeTiming();
        }
        addCookie(serial++, shortLived);
        ++added;
    }
    expireShortLived();
    if (cachedCount() != count) {
        state.SkipWithError("the added cookies did not all expire");
    }
}

void BM_PassNoneExpire(benchmark::State& state) {
    auto count = static_cast<std::uint32_t>(state.range(0));
    holdCookies(count);
    passCpuSeconds = 0;
    for (auto _ : state) {
        state.SetIterationTime(timedPass(creationTime()));
    }
    reportPassCpu(state);
    if (cachedCount() != count) {
        state.SkipWithError("a cookie expired");
    }
}

void BM_PassAllExpire(benchmark::State& state) {
    auto count = static_cast<std::uint32_t>(state.range(0));
    double timed = 0;
    for (auto _ : state) {
        holdCookies(count);
        passCpuSeconds = timed;
        state.SetIterationTime(
            timedPass(creationTime() + static_cast<std::int32_t>(kLongLifetimeMinutes * 60)));
        timed = passCpuSeconds;
        heldCount = 0;
    }
    reportPassCpu(state);
    if (cachedCount() != 0) {
        state.SkipWithError("a cookie survived");
    }
}

// Every other cookie expires: each removal has to pass the survivors that
// share its bucket and came before it.
void BM_PassHalfExpire(benchmark::State& state) {
    auto count = static_cast<std::uint32_t>(state.range(0));
    double timed = 0;
    for (auto _ : state) {
        emptyCache();
        for (std::uint32_t serial = 0; serial < count; ++serial) {
            addCookie(serial, serial % 2 == 0 ? longLived : shortLived);
        }
        passCpuSeconds = timed;
        state.SetIterationTime(timedPass(creationTime() + 30));
        timed = passCpuSeconds;
        emptyCache();
    }
    passCpuSeconds = timed;
    reportPassCpu(state);
}

// Resident size from /proc/self/statm.
double residentBytes() {
    unsigned long pages = 0;
    unsigned long resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%lu %lu", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// Bytes the allocator has handed out and not had back.
double heapBytesInUse() {
    struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

// Inserts 1,000,000 cookies into an empty cache: the mean insert includes
// every growth of the table, the longest insert shows the longest growth,
// and the resident size and the heap in use before and after give the
// memory per cookie. Run first, or alone, so the resident size starts from
// a fresh process.
void BM_FillFromEmpty(benchmark::State& state) {
    auto count = static_cast<std::uint32_t>(state.range(0));
    for (auto _ : state) {
        emptyCache();
        malloc_trim(0);
        double residentBefore = residentBytes();
        double heapBefore = heapBytesInUse();
        auto start = Clock::now();
        double longest = holdCookies(count);
        double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(elapsed);
        state.counters["mean_insert_us"] = elapsed * 1e6 / count;
        state.counters["longest_insert_ms"] = longest * 1e3;
        state.counters["rss_bytes_per_cookie"] = (residentBytes() - residentBefore) / count;
        state.counters["heap_bytes_per_cookie"] = (heapBytesInUse() - heapBefore) / count;
        state.counters["buckets"] = logoffCookieCache().buckets();
    }
}

// One cookie logged off again and again: every add after the first finds
// it cached. Reports the heap it grew by over all the adds.
void BM_AddOneCookieAgain(benchmark::State& state) {
    holdCookies(0);
    malloc_trim(0);
    double heapBefore = heapBytesInUse();
    for (auto _ : state) {
        addCookie(0, longLived);
    }
    state.counters["heap_growth_bytes"] = heapBytesInUse() - heapBefore;
    if (cachedCount() != 1) {
        state.SkipWithError("one cookie was cached more than once");
    }
    heldCount = 1;
}

// Passes over a million cookies take a fill each (but the first), which the
// fixed table makes very slow: LC_CACHE_BENCH_PASSES sets how many (default 3).
int passRuns() {
    const char* value = std::getenv("LC_CACHE_BENCH_PASSES");
    int runs = value == nullptr ? 3 : std::atoi(value);
    return runs > 0 ? runs : 1;
}

void registerBenchmarks() {
    using benchmark::RegisterBenchmark;
    RegisterBenchmark("BM_FillFromEmpty", BM_FillFromEmpty)
        ->Arg(kMillion)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    for (std::uint32_t count : {kMillion, 100'000u, 1'000u}) {
        RegisterBenchmark("BM_QueryHit", BM_QueryHit, false)->Arg(count);
        RegisterBenchmark("BM_QueryMiss", BM_QueryMiss, false)->Arg(count);
        RegisterBenchmark("BM_Insert", BM_Insert, false)->Arg(count);
        if (count != kMillion) {
            continue;
        }
        // While the million from the fill are still held.
        for (auto* pass : {RegisterBenchmark("BM_PassNoneExpire", BM_PassNoneExpire),
                           RegisterBenchmark("BM_PassAllExpire", BM_PassAllExpire)}) {
            pass->Arg(count)
                ->Iterations(passRuns())
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        }
    }
    RegisterBenchmark("BM_PassHalfExpire", BM_PassHalfExpire)
        ->Arg(kMillion)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    // One text or many, the same costs: placed by digest, cookies of one
    // text do not share a chain. Distinct first, then the same count of one text.
    for (bool sameText : {false, true}) {
        const char* suffix = sameText ? "SameText" : "Distinct";
        RegisterBenchmark((std::string("BM_QueryHit") + suffix).c_str(), BM_QueryHit, sameText)
            ->Arg(kSameTextCookies);
        RegisterBenchmark((std::string("BM_QueryMiss") + suffix).c_str(), BM_QueryMiss, sameText)
            ->Arg(kSameTextCookies);
        RegisterBenchmark((std::string("BM_Insert") + suffix).c_str(), BM_Insert, sameText)
            ->Arg(kSameTextCookies);
    }
    RegisterBenchmark("BM_AddOneCookieAgain", BM_AddOneCookieAgain)->Iterations(200'000);
    RegisterBenchmark("BM_MakeFields", BM_MakeFields);
}

}  // namespace

int main(int argc, char** argv) {
    startCacheWithoutCleanupLoop();
    registerBenchmarks();
    return runBenchmarks(argc, argv);
}
