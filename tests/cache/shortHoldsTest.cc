// Every hold of the cache is short: a cleanup pass works in slices with the
// lock released between them, the set resizes a few buckets at a time, an
// exit stops a pass between two slices, and an export hands out the start
// time and salt of its own moment.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "cache/cacheCeiling.h"
#include "cache/logoffCookieCache.h"
#include "cache/logoffCookieCleanupThread.h"
#include "tests/cache/cacheTestSupport.h"
#include "tests/support/waitUntil.h"

namespace {

using cachetest::CookieFields;

constexpr int kCookies = 100;
constexpr std::uint32_t kSlice = 10;
constexpr std::int32_t kCreated = 2'000'000'000;

std::int32_t passNow = 0;
std::int32_t passClock() {
    return passNow;
}

// Each slice's end, with what a lookup saw then.
std::atomic<int> slicesEnded{0};
std::vector<std::uint32_t> cachedAfterSlice;
LogoffCookieCache* stoppedAfterFirstSlice = nullptr;

void noteSlice(LogoffCookieCache& cache) {
    slicesEnded.fetch_add(1);
    // The hold is released here: a reader gets in before the pass ends.
    cachedAfterSlice.push_back(cache.cachedCookies());
    if (&cache == stoppedAfterFirstSlice) {
        cache.stopCleanup();
    }
}

LogoffCookieCacheHooks slicedHooks() {
    LogoffCookieCacheHooks hooks = cachetest::testHooks();
    hooks.sliceSize = kSlice;
    hooks.afterSlice = noteSlice;
    hooks.clock = passClock;
    return hooks;
}

void add(LogoffCookieCache& cache, const std::string& text, std::int32_t created = kCreated) {
    CookieFields fields(text, "bytes", 1);
    cache.addToCache(fields.text, fields.bytes, created, created, 0, fields.attributes, 0);
}

int isCached(LogoffCookieCache& cache, const std::string& text, std::int32_t created = kCreated) {
    CookieFields fields(text, "bytes");
    return cache.cookieIsCached(fields.text, fields.bytes, created, 0, fields.attributes);
}

class ShortHolds : public cachetest::CacheTest {
  protected:
    ShortHolds() {
        resetCache(slicedHooks());
        slicesEnded.store(0);
        cachedAfterSlice.clear();
        stoppedAfterFirstSlice = nullptr;
        // Well after the cache start: nothing is refused for its age alone.
        passNow = kCreated - 3600;
    }
    ~ShortHolds() override { logoffCookieCache_setCeiling(kCacheDefaultMaxCookies); }

    void fill() {
        cachetest::QuietTrace quiet;
        for (int i = 0; i < kCookies; ++i) {
            add(cache(), "cookie-" + std::to_string(i));
        }
    }
    static LogoffCookieCache& cache() { return cachetest::cache(); }
};

TEST_F(ShortHolds, PassReleasesTheLockBetweenSlicesAndEndsAsOnePassWould) {
    fill();
    passNow = kCreated + 3600;  // every cookie expired
    EXPECT_EQ(cache().cleanupPass(), CleanupPassEnd::Completed);

    // A lookup between every two slices, each seeing the pass further on.
    ASSERT_EQ(slicesEnded.load(), kCookies / static_cast<int>(kSlice));
    for (std::size_t slice = 0; slice < cachedAfterSlice.size(); ++slice) {
        EXPECT_EQ(cachedAfterSlice[slice], kCookies - kSlice * (slice + 1)) << slice;
    }
    EXPECT_EQ(cache().cachedCookies(), 0u);
    EXPECT_TRUE(cachetest::queuedCookies(cache()).empty());
    // The lines of one pass, whatever its slices.
    EXPECT_EQ(trace.count("logoffCookie_CleanupThread() -- writelock attempt."), 1);
    EXPECT_EQ(trace.count("logoffCookie_CleanupThread() -- writelock released."), 1);
    EXPECT_EQ(trace.count("Logoff cookie time has expired.  Will remove it."), kCookies);
    EXPECT_EQ(trace.count("logoffCookie_CleanupThread() copyLogoffCookieQueue Entries, after "
                          "removal of entry from queue: 0"),
              1);
}

TEST_F(ShortHolds, CookiesAddedDuringAPassStandBehindItsSurvivors) {
    // Survivors all; one added between two slices waits for the next pass.
    struct AddOnce {
        static void afterSlice(LogoffCookieCache& cache) {
            if (slicesEnded.fetch_add(1) == 0) {
                add(cache, "added-meanwhile");
            }
        }
    };
    LogoffCookieCacheHooks hooks = slicedHooks();
    hooks.afterSlice = AddOnce::afterSlice;
    resetCache(hooks);
    fill();
    EXPECT_EQ(cache().cleanupPass(), CleanupPassEnd::Completed);

    std::vector<LogoffCookie*> queued = cachetest::queuedCookies(cache());
    ASSERT_EQ(queued.size(), static_cast<std::size_t>(kCookies + 1));
    EXPECT_EQ(queued.front()->cookieText(), std::string("cookie-0"));
    EXPECT_EQ(queued.back()->cookieText(), std::string("added-meanwhile"));
    EXPECT_EQ(isCached(cache(), "added-meanwhile"), 1);
}

TEST_F(ShortHolds, StopBetweenSlicesEndsThePassWithEveryCookieKept) {
    fill();
    stoppedAfterFirstSlice = &cache();
    passNow = kCreated + 3600;
    EXPECT_EQ(cache().cleanupPass(), CleanupPassEnd::Stopped);

    EXPECT_EQ(slicesEnded.load(), 1);
    // The first slice's cookies are gone; the rest are all still there, in
    // their order, for the exit's save.
    std::vector<LogoffCookie*> queued = cachetest::queuedCookies(cache());
    ASSERT_EQ(queued.size(), static_cast<std::size_t>(kCookies) - kSlice);
    EXPECT_EQ(queued.front()->cookieText(), "cookie-" + std::to_string(kSlice));
    EXPECT_EQ(cache().cachedCookies(), kCookies - kSlice);
    EXPECT_EQ(isCached(cache(), "cookie-99"), 1);
}

// The exit stops the real cleanup thread inside a long pass, and the cache
// is then freed: nothing may walk it afterwards (the address sanitizer sees).
std::atomic<bool> inPass{false};

void holdThePassUntilStopped(LogoffCookieCache& cache) {
    if (!inPass.exchange(true)) {
        EXPECT_TRUE(lctest::waitUntil([&cache] { return cache.stopRequested(); }));
    }
}

TEST_F(ShortHolds, CacheDestroyedDuringAPassOnItsThreadEndsCleanly) {
    LogoffCookieCacheHooks hooks = slicedHooks();
    hooks.cleanupThread = nullptr;  // the real passes and pauses
    hooks.afterSlice = holdThePassUntilStopped;
    resetCache(hooks);
    inPass.store(false);
    // Restored, which launches nothing: the first pass finds them all.
    std::uint8_t salt[kLogoffCookieSaltSize];
    cache().copySalt(salt);
    for (int i = 0; i < kCookies; ++i) {
        LogoffCookie record =
            CookieFields("cookie-" + std::to_string(i), "b", 60).record(kCreated, salt);
        cache().restoreCookie(record.digest(), record.times());
    }
    cache().launchCleanupThreadOnce();
    ASSERT_TRUE(lctest::waitUntil([] { return inPass.load(); }));
    cache_.reset();  // stops the pass at its next slice and waits for the thread
    cachetest::current = nullptr;
    EXPECT_EQ(trace.count("logoffCookie_CleanupThread() -- writelock released."), 0)
        << "the pass ran to its end";
}

TEST_F(ShortHolds, LookupsFindEveryCookieWhileTheSetGrowsAndAfterAFlush) {
    LogoffCookieCacheHooks hooks = slicedHooks();
    hooks.resizeBucketsPerInsert = 1;
    resetCache(hooks);
    cachetest::QuietTrace quiet;
    int added = 0;
    bool sawResize = false;
    // Through several growths, one old bucket moved per insert: each time a
    // resize is under way, every cookie added so far is found.
    while (added < 2000) {
        add(cache(), "cookie-" + std::to_string(added++));
        if (cache().resizing()) {
            sawResize = true;
            if (added % 97 == 0) {
                for (int i = 0; i < added; ++i) {
                    ASSERT_EQ(isCached(cache(), "cookie-" + std::to_string(i)), 1) << i;
                }
            }
        }
    }
    ASSERT_TRUE(sawResize);
    for (int i = 0; i < added; ++i) {
        ASSERT_EQ(isCached(cache(), "cookie-" + std::to_string(i)), 1) << i;
    }

    // A flush forgets the set, resize and all; the set it starts again
    // finds what is added after.
    logoffCookieCache_setCeiling(static_cast<std::uint32_t>(added));
    add(cache(), "after-the-flush");
    logoffCookieCache_takeFlushedRecords().reset();
    EXPECT_EQ(cache().cachedCookies(), 1u);
    EXPECT_FALSE(cache().resizing());
    EXPECT_EQ(isCached(cache(), "after-the-flush"), 1);
    EXPECT_EQ(isCached(cache(), "cookie-0"), 0) << "forgotten by the flush";
}

TEST_F(ShortHolds, SliceEndsAtItsTimeBoundBeforeItsCount) {
    LogoffCookieCacheHooks hooks = slicedHooks();
    hooks.sliceSize = 1000;
    // Past at once: a slice visits the 31 cookies before its first look at
    // the clock, and no more.
    hooks.sliceTime = std::chrono::microseconds(0);
    resetCache(hooks);
    fill();
    passNow = kCreated + 3600;
    EXPECT_EQ(cache().cleanupPass(), CleanupPassEnd::Completed);
    EXPECT_EQ(slicesEnded.load(), (kCookies + 30) / 31);
    EXPECT_EQ(cache().cachedCookies(), 0u);
}

TEST_F(ShortHolds, SetKeepsItsBucketsAfterAFlushAndFindsWhatComesAfter) {
    cachetest::QuietTrace quiet;
    int added = 0;
    while (added < 1000) {
        add(cache(), "cookie-" + std::to_string(added++));
    }
    const std::uint32_t buckets = cache().buckets();
    ASSERT_GT(buckets, DEFAULT_CAPACITY * 4);
    logoffCookieCache_setCeiling(static_cast<std::uint32_t>(added));
    add(cache(), "after-the-flush");
    EXPECT_EQ(cache().buckets(), DEFAULT_CAPACITY) << "the flush took the set";
    // The service frees the flushed records once the client has its reply.
    cache().freeFlushedRecords();
    EXPECT_EQ(cache().buckets(), buckets);
    for (int i = 0; i < 300; ++i) {
        add(cache(), "refill-" + std::to_string(i));
    }
    EXPECT_EQ(cache().buckets(), buckets) << "no growth from the smallest table again";
    EXPECT_EQ(isCached(cache(), "after-the-flush"), 1);
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(isCached(cache(), "refill-" + std::to_string(i)), 1) << i;
    }
    EXPECT_EQ(isCached(cache(), "cookie-0"), 0) << "forgotten by the flush";
}

// Records what an export handed out; at its start, lets an add that passes
// the ceiling wait for the export's hold.
class FlushDuringExport : public LogoffCookieCacheVisitor {
  public:
    explicit FlushDuringExport(LogoffCookieCache& cache) : cache_(cache) {}
    ~FlushDuringExport() override {
        if (adder_.joinable()) {
            adder_.join();
        }
    }

    void start(std::int32_t startTime, const std::uint8_t*) override {
        startTime_ = startTime;
        adder_ = std::thread([this] { add(cache_, "passes-the-ceiling"); });
        // The add waits for the export's hold before it can flush.
        EXPECT_TRUE(
            lctest::waitUntil([this] { return cache_.lock().snapshot().waitingWriters == 1; }));
    }
    void cookies(std::uint32_t count) override { cookies_ = count; }
    void cookie(const LogoffCookieDigest&, const CookieTimes&) override {}
    void farmLogoffs(std::uint32_t) override {}
    void farmLogoff(const FarmLogoff&) override {}

    std::int32_t startTime_ = 0;
    std::uint32_t cookies_ = 0;

  private:
    LogoffCookieCache& cache_;
    std::thread adder_;
};

TEST_F(ShortHolds, ExportHandsOutTheStartTimeThatGoesWithItsCookies) {
    std::uint8_t salt[kLogoffCookieSaltSize] = {};
    const std::int32_t oldStart = static_cast<std::int32_t>(std::time(nullptr)) - 1000;
    cache().restoreStart(oldStart, salt);
    add(cache(), "before-the-flush");
    logoffCookieCache_setCeiling(1);
    {
        FlushDuringExport visitor(cache());
        cache().exportTo(visitor);
        // The cookie and the start time of the same moment: before the flush.
        EXPECT_EQ(visitor.startTime_, oldStart);
        EXPECT_EQ(visitor.cookies_, 1u);
    }
    logoffCookieCache_takeFlushedRecords().reset();
    EXPECT_GT(cache().startTime(), oldStart) << "the flush ran after the export";
}

}  // namespace
