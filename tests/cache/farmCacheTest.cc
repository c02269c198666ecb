// The farm side of the cache: the hook told of each local add, the received
// logoffs consulted by queries, and their expiry by the rule of local ones.
#include <gtest/gtest.h>

#include <ctime>
#include <vector>

#include "cache/farmLogoff.h"
#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCleanupThread.h"
#include "cache/receivedLogoffs.h"
#include "tests/cache/cacheTestSupport.h"

namespace {

using cachetest::CookieFields;

const std::string kSecret(32, 'f');

std::vector<FarmLogoff> toldAdds;  // the hook runs on the adding thread: this one

void rememberAdd(const FarmLogoff& logoff) {
    toldAdds.push_back(logoff);
}

class FarmCache : public cachetest::CacheTest {
  protected:
    void SetUp() override {
        CacheTest::SetUp();
        toldAdds.clear();
        logoffCookieFarm_enable(&key_, rememberAdd);
    }
    void TearDown() override {
        logoffCookieFarm_enable(nullptr, nullptr);
        CacheTest::TearDown();
    }

    FarmLogoff received(const CookieFields& fields, std::int32_t created,
                        std::uint32_t lifetime = 60) const {
        FarmLogoff logoff;
        computeFarmIdentity(key_, fields.text, fields.bytes, created, logoff.identity);
        logoff.times.creationTime = created;
        logoff.times.lastUseTime = created;
        logoff.times.maxLifetimeMinutes = lifetime;
        return logoff;
    }
    static int query(const CookieFields& fields, std::int32_t created) {
        return cachetest::cache().cookieIsCached(fields.text, fields.bytes, created, 0,
                                                 fields.attributes);
    }
    static bool held(const FarmLogoff& logoff) {
        return cachetest::cache().containsReceived(logoff.identity);
    }

    FarmKey key_{reinterpret_cast<const std::uint8_t*>(kSecret.data()), kSecret.size()};
    std::int32_t created_ = cachetest::cache().startTime() + 1000;
};

TEST_F(FarmCache, LogoffReceivedFromAnotherHostIsRefused) {
    CookieFields cookie("farm-text", "farm-bytes");
    CookieFields sameText("farm-text", "other-bytes");
    ASSERT_EQ(query(cookie, created_), 0);

    cachetest::cache().addReceivedLogoffs(std::vector<FarmLogoff>{received(cookie, created_)});
    EXPECT_EQ(query(cookie, created_), 1);
    EXPECT_EQ(query(sameText, created_), 0);
    EXPECT_EQ(query(cookie, created_ + 1), 0);
    // Off, the received logoffs are not consulted.
    logoffCookieFarm_enable(nullptr, nullptr);
    EXPECT_EQ(query(cookie, created_), 0);
}

TEST_F(FarmCache, EachLocalAddIsToldWithItsIdentityAndTimes) {
    CookieFields cookie("told-text", "told-bytes", 120, 30);
    cachetest::cache().addToCache(cookie.text, cookie.bytes, created_ + 5, created_, -60,
                                  cookie.attributes, 7);
    ASSERT_EQ(toldAdds.size(), 1u);
    const FarmLogoff& told = toldAdds[0];
    EXPECT_EQ(told.identity, received(cookie, created_).identity);
    EXPECT_EQ(told.times.creationTime, created_);
    EXPECT_EQ(told.times.lastUseTime, created_ + 5);
    EXPECT_EQ(told.times.timeOffset, -60);
    EXPECT_EQ(told.times.maxLifetimeMinutes, 120u);
    EXPECT_EQ(told.times.idleTimeoutMinutes, 30u);
    EXPECT_EQ(told.times.cookieKind, 0);  // stored as the cache stores kinds

    logoffCookieFarm_enable(nullptr, nullptr);
    cachetest::cache().addToCache(cookie.text, cookie.bytes, created_, created_, 0,
                                  cookie.attributes, 0);
    EXPECT_EQ(toldAdds.size(), 1u);
}

TEST_F(FarmCache, CleanupPassForgetsReceivedLogoffsByTheRuleOfLocalOnes) {
    CookieFields shortLived("short", "lived");
    CookieFields longLived("long", "lived");
    FarmLogoff soon = received(shortLived, created_, 1);
    FarmLogoff late = received(longLived, created_, 60);
    cachetest::cache().addReceivedLogoffs(std::vector<FarmLogoff>{soon});
    cachetest::cache().addReceivedLogoffs(std::vector<FarmLogoff>{late});

    // The service clock at which the short one's lifetime has run out.
    static std::int32_t now;
    now = created_ + 60 - EXPIRY_GRACE_SECONDS;
    cachetest::cache().cleanupPass([] { return now; });
    EXPECT_FALSE(held(soon));
    EXPECT_TRUE(held(late));
    EXPECT_TRUE(cookieTimesHaveExpired(soon.times, now));
    EXPECT_FALSE(cookieTimesHaveExpired(soon.times, now - 1));
}

TEST_F(FarmCache, ReplayedOlderEntryNeverShortensALogoff) {
    CookieFields cookie("replayed", "entry");
    FarmLogoff older = received(cookie, created_, 120);
    older.times.idleTimeoutMinutes = 10;
    FarmLogoff later = older;
    later.times.lastUseTime = created_ + 30 * 60;  // used again half an hour on
    cachetest::cache().addReceivedLogoffs(std::vector<FarmLogoff>{later});
    cachetest::cache().addReceivedLogoffs(
        std::vector<FarmLogoff>{older});  // a writer re-adds the earlier entry

    // When the older one's idle timeout has run out, the later use still holds.
    static std::int32_t now;
    now = created_ + 11 * 60;
    cachetest::cache().cleanupPass([] { return now; });
    EXPECT_TRUE(held(later));
    now = later.times.lastUseTime + 10 * 60 - EXPIRY_GRACE_SECONDS;
    cachetest::cache().cleanupPass([] { return now; });
    EXPECT_FALSE(held(later));
}

TEST(ReceivedTimesMerge, MergeExpiresNoEarlierThanEitherEntry) {
    const std::int32_t created = 1'000'000;
    std::vector<CookieTimes> variants;
    for (std::int32_t lastUse : {created, created + 600}) {
        for (std::uint32_t idle : {0u, 5u, 30u, 200u}) {
            for (std::uint32_t lifetime : {0u, 20u, 60u}) {
                for (std::int32_t offset : {-300, 0, 300}) {
                    for (std::int32_t kind : {0, 1}) {
                        variants.push_back({created, lastUse, offset, idle, lifetime, kind});
                    }
                }
            }
        }
    }
    for (const CookieTimes& a : variants) {
        for (const CookieTimes& b : variants) {
            CookieTimes merged = mergeReceivedTimes(a, b);
            for (std::int32_t now = created - 600; now <= created + 5 * 3600; now += 60) {
                if (!cookieTimesHaveExpired(a, now) || !cookieTimesHaveExpired(b, now)) {
                    ASSERT_FALSE(cookieTimesHaveExpired(merged, now))
                        << "now " << now - created << " s after creation";
                }
            }
        }
    }
}

TEST_F(FarmCache, FirstReceivedLogoffLaunchesTheCleanupThread) {
    // A host that only receives never adds, and its received logoffs must
    // still be forgotten.
    cachetest::cache().addReceivedLogoffs(
        std::vector<FarmLogoff>{received(CookieFields("r", "r"), created_)});
    ASSERT_TRUE(cachetest::cache().cleanupThreadStarted());
    cachetest::cache().awaitCleanupThreadEnd();
    EXPECT_EQ(cachetest::cleanupThreadRuns.load(), 1);
}

}  // namespace
