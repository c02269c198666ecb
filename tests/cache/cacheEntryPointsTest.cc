#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCache.h"
#include "support/threads/RWRunnableImp.h"
#include "support/threads/RWxmsg.h"
#include "tests/cache/cacheTestSupport.h"

namespace {

using cachetest::CookieFields;

class CacheEntryPointsTest : public cachetest::CacheTest {
  protected:
    // A creation time after the cache start, so that lookups really look.
    static std::int32_t fresh(std::int32_t seconds = 100) {
        return cachetest::cache().startTime() + seconds;
    }

    static void add(const CookieFields& fields, std::int32_t lastUseTime, std::int32_t creationTime,
                    std::int32_t timeOffset = 0, std::int32_t kind = 0) {
        cachetest::cache().addToCache(fields.text, fields.bytes, lastUseTime, creationTime,
                                      timeOffset, fields.attributes, kind);
    }
    static int isCached(const CookieFields& fields, std::int32_t creationTime,
                        std::int32_t timeOffset = 0) {
        return cachetest::cache().cookieIsCached(fields.text, fields.bytes, creationTime,
                                                 timeOffset, fields.attributes);
    }
};

TEST_F(CacheEntryPointsTest, CookieCreatedAtCacheStartIsLoggedOffWithoutLookup) {
    CookieFields fields("never-added", "bytes");
    std::int32_t start = cachetest::cache().startTime();
    ASSERT_NE(start, 0);

    EXPECT_EQ(isCached(fields, start + 600, 600), 1);
    EXPECT_EQ(isCached(fields, start - 5, 0), 1);
    EXPECT_EQ(trace.count("This cookie is older than the logoffCookie Cache process.  "
                          "Invalidate it!"),
              2);
    EXPECT_EQ(trace.count("logoffCookieAPI_cookieIsCached() -- readlock attempt."), 0);

    EXPECT_EQ(isCached(fields, start + 601, 600), 0);
    EXPECT_EQ(trace.count("logoffCookieAPI_cookieIsCached() -- readlock attempt."), 1);
}

// The salt must not follow from the start second, which every local user can
// read: two starts within one second, and a process that seeded rand() with
// that second, must not give it away.
TEST_F(CacheEntryPointsTest, SaltIsNewAtEveryStartAndNotTheStartSecondsRand) {
    std::uint8_t first[kLogoffCookieSaltSize];
    std::uint8_t second[kLogoffCookieSaltSize];
    std::int32_t started = 0;
    // Both starts in one second; tried again in the rare case of a tick between.
    for (int attempt = 0; attempt < 5; ++attempt) {
        cachetest::cache().init();
        cachetest::cache().copySalt(first);
        started = cachetest::cache().startTime();
        cachetest::cache().init();
        cachetest::cache().copySalt(second);
        if (cachetest::cache().startTime() == started) {
            break;
        }
    }
    ASSERT_EQ(cachetest::cache().startTime(), started);
    EXPECT_NE(std::memcmp(first, second, sizeof first), 0);

    std::srand(static_cast<unsigned>(started));
    std::uint8_t guessed[kLogoffCookieSaltSize];
    for (std::uint8_t& byte : guessed) {
        byte = static_cast<std::uint8_t>(std::rand());
    }
    EXPECT_NE(std::memcmp(second, guessed, sizeof guessed), 0);
    EXPECT_NE(std::memcmp(second, std::array<std::uint8_t, kLogoffCookieSaltSize>{}.data(),
                          kLogoffCookieSaltSize),
              0);
}

TEST_F(CacheEntryPointsTest, QueryTracesItsStepsInOrder) {
    CookieFields fields("text", "bytes");
    std::int32_t creation = fresh();
    isCached(fields, creation);
    std::vector<std::string> expected = {
        "logoffCookieAPI_cookieIsCached() -- Entry.",
        "LogoffCookie -- The adjusted cookie creation time is: " + std::to_string(creation),
        "logoffCookieAPI_cookieIsCached() -- readlock attempt.",
        "logoffCookieAPI_cookieIsCached() -- readlock acquired.",
        "logoffCookieAPI_cookieIsCached() -- readlock released.",
    };
    EXPECT_EQ(trace.messages(), expected);
}

TEST_F(CacheEntryPointsTest, AdjustedCreationTimeWrapsAround) {
    CookieFields fields("text", "bytes");
    // INT32_MIN + 5 minus 10 wraps to a time far in the future: looked up.
    EXPECT_EQ(isCached(fields, INT32_MIN + 5, 10), 0);
    EXPECT_EQ(trace.count("LogoffCookie -- The adjusted cookie creation time is: 2147483643"), 1);
    // INT32_MAX minus -10 wraps to a time far in the past: logged off.
    EXPECT_EQ(isCached(fields, INT32_MAX, -10), 1);
}

TEST_F(CacheEntryPointsTest, AddedCookieIsFoundByItsTextBytesAndCreationTime) {
    CookieFields fields("session", "bytes");
    std::int32_t creation = fresh();
    add(fields, creation + 50, creation);
    EXPECT_EQ(isCached(fields, creation), 1);
    // Time offsets move only the age test, not the identity.
    EXPECT_EQ(isCached(fields, creation, -30), 1);

    EXPECT_EQ(isCached(CookieFields("session", "bytez"), creation), 0);
    EXPECT_EQ(isCached(CookieFields("session", "byte"), creation), 0);
    EXPECT_EQ(isCached(CookieFields("sessioN", "bytes"), creation), 0);
    EXPECT_EQ(isCached(fields, creation + 1), 0);

    // Bytes after the first NUL are not part of the cookie.
    CookieFields trailing("session", "bytes");
    trailing.bytes[10] = 'x';
    EXPECT_EQ(isCached(trailing, creation), 1);
}

TEST_F(CacheEntryPointsTest, InsertTakesLastUseFirstAndCreationTimeSecond) {
    CookieFields fields("session", "bytes", 480, 20);
    std::int32_t lastUse = fresh(500);
    std::int32_t creation = fresh(100);
    cachetest::cache().addToCache(fields.text, fields.bytes, lastUse, creation, -3600,
                                  fields.attributes, 2);
    EXPECT_EQ(isCached(fields, lastUse), 0);
    EXPECT_EQ(isCached(fields, creation), 1);

    auto queued = cachetest::queuedCookies(cachetest::cache());
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0]->lastUseTime(), lastUse);
    EXPECT_EQ(queued[0]->creationTime(), creation);
    EXPECT_EQ(queued[0]->timeOffset(), -3600);
    EXPECT_EQ(queued[0]->maxLifetimeMinutes(), 480u);
    EXPECT_EQ(queued[0]->idleTimeoutMinutes(), 20u);
    EXPECT_EQ(queued[0]->cookieKind(), 2);
}

TEST_F(CacheEntryPointsTest, EqualCookieAddedTwiceUpdatesTheStoredOne) {
    CookieFields fields("session", "bytes");
    std::int32_t creation = fresh();
    add(fields, creation + 10, creation);
    add(fields, creation + 20, creation);

    EXPECT_EQ(cachetest::cachedCookieCount(cachetest::cache()), 1u);
    auto queued = cachetest::queuedCookies(cachetest::cache());
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(cachetest::findCached(cachetest::cache(), *queued[0]), queued[0]);
    EXPECT_EQ(queued[0]->lastUseTime(), creation + 20);
    EXPECT_EQ(trace.count("logoffCookieAPI_addToCache() -- Adding a logoffCookie which already "
                          "exists in the cache.  First, remove the current."),
              1);
    EXPECT_EQ(trace.count("logoffCookieAPI_addToCache() -- Logoff cookie added to both cache and "
                          "queue."),
              2);
}

TEST_F(CacheEntryPointsTest, CookieAddedManyTimesKeepsOneRecordWithTheLatestValues) {
    constexpr int kAdds = 10'000;
    std::int32_t creation = fresh();
    {
        cachetest::QuietTrace quiet;
        for (int i = 0; i < kAdds; ++i) {
            CookieFields fields("session", "bytes", 60 + i, 10 + i);
            add(fields, creation + i, creation, -i, i % 3);
        }
    }

    EXPECT_EQ(cachetest::cachedCookieCount(cachetest::cache()), 1u);
    auto queued = cachetest::queuedCookies(cachetest::cache());
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(cachetest::findCached(cachetest::cache(), *queued[0]), queued[0]);
    constexpr int kLast = kAdds - 1;
    EXPECT_EQ(queued[0]->lastUseTime(), creation + kLast);
    EXPECT_EQ(queued[0]->timeOffset(), -kLast);
    EXPECT_EQ(queued[0]->maxLifetimeMinutes(), 60u + kLast);
    EXPECT_EQ(queued[0]->idleTimeoutMinutes(), 10u + kLast);
    EXPECT_EQ(queued[0]->cookieKind(), kLast % 3);
}

TEST_F(CacheEntryPointsTest, OnlyKindsOneAndTwoAreKept) {
    const std::int32_t kinds[] = {1, 2, 0, 3, -1, INT32_MIN, INT32_MAX};
    const std::int32_t stored[] = {1, 2, 0, 0, 0, 0, 0};
    for (std::int32_t kind : kinds) {
        add(CookieFields("kind" + std::to_string(kind), "bytes"), fresh(), fresh(), 0, kind);
    }
    auto queued = cachetest::queuedCookies(cachetest::cache());
    ASSERT_EQ(queued.size(), std::size(kinds));
    for (std::size_t i = 0; i < queued.size(); ++i) {
        EXPECT_EQ(queued[i]->cookieKind(), stored[i]) << "sent " << kinds[i];
    }
}

TEST_F(CacheEntryPointsTest, ConcurrentFirstInsertsLaunchExactlyOneCleanupThread) {
    // Without tracing an insert is short beside a thread launch, which
    // widens the window in which a second launch could slip in.
    {
        cachetest::QuietTrace quiet;
        constexpr int kRounds = 20;
        constexpr int kInserters = 8;
        for (int round = 0; round < kRounds; ++round) {
            resetCache();
            std::latch ready(kInserters);
            std::vector<std::thread> inserters;
            for (int i = 0; i < kInserters; ++i) {
                inserters.emplace_back([&, i] {
                    CookieFields fields("racer" + std::to_string(i), "bytes");
                    ready.arrive_and_wait();
                    add(fields, fresh(), fresh());
                });
            }
            for (std::thread& inserter : inserters) {
                inserter.join();
            }
            cachetest::cache().awaitCleanupThreadEnd();
            ASSERT_EQ(cachetest::cleanupThreadRuns.load(), 1) << "round " << round;
            ASSERT_EQ(cachetest::cachedCookieCount(cachetest::cache()),
                      static_cast<std::uint32_t>(kInserters));
        }
    }

    // Once launched, later inserts launch nothing.
    add(CookieFields("later", "bytes"), fresh(), fresh());
    EXPECT_EQ(trace.count("Logoff Cookie cleanup thread started"), 0);
    EXPECT_EQ(cachetest::cleanupThreadRuns.load(), 1);
}

// Stand-ins for a launch the system refuses: one of each kind of failure.
void launchRefusedByTheSystem() {
    throw RWTHRResourceLimit("pthread_create() - Return Value: Resource temporarily unavailable");
}
void launchOutOfMemory() {
    throw std::bad_alloc();
}

TEST_F(CacheEntryPointsTest, FailedCleanupLaunchStillRecordsTheCookieAndIsTriedAgain) {
    const std::pair<void (*)(), std::string> failures[] = {
        {launchRefusedByTheSystem,
         "pthread_create() - Return Value: Resource temporarily unavailable"},
        {launchOutOfMemory, std::bad_alloc().what()},
    };
    for (const auto& [launcher, reason] : failures) {
        resetCache();
        trace.clear();
        cachetest::failingLaunch = launcher;
        CookieFields first("first", "bytes");
        EXPECT_NO_THROW(add(first, fresh(), fresh())) << reason;
        EXPECT_EQ(isCached(first, fresh()), 1) << reason;
        EXPECT_EQ(trace.count("logoffCookieAPI_addToCache() -- Could not start the cleanup "
                              "thread: " +
                              reason),
                  1);
        EXPECT_EQ(trace.count("Logoff Cookie cleanup thread started"), 0) << reason;

        // The next insert launches it.
        cachetest::failingLaunch = nullptr;
        add(CookieFields("second", "bytes"), fresh(), fresh());
        EXPECT_EQ(trace.count("Logoff Cookie cleanup thread started"), 1) << reason;
        cachetest::cache().awaitCleanupThreadEnd();
        EXPECT_EQ(cachetest::cleanupThreadRuns.load(), 1) << reason;
        EXPECT_EQ(cachetest::cachedCookieCount(cachetest::cache()), 2u) << reason;
    }
}

}  // namespace
