// The ceiling on the records held: the record that would pass it makes the
// cache forget everything and refuse what was created before, as a restart.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "cache/cacheCeiling.h"
#include "cache/farmLogoff.h"
#include "cache/logoffCookieAPI.h"
#include "cache/receivedLogoffs.h"
#include "tests/cache/cacheTestSupport.h"

namespace {

using cachetest::CookieFields;

class CacheCeiling : public cachetest::CacheTest {
  protected:
    void TearDown() override {
        logoffCookieCache_setCeiling(kCacheDefaultMaxCookies);
        CacheTest::TearDown();
    }

    static void add(const CookieFields& fields, std::int32_t created) {
        cachetest::cache().addToCache(fields.text, fields.bytes, created, created, 0,
                                      fields.attributes, 0);
    }
    static int query(const CookieFields& fields, std::int32_t created) {
        return cachetest::cache().cookieIsCached(fields.text, fields.bytes, created, 0,
                                                 fields.attributes);
    }
    static FarmLogoff receivedFrom(std::uint8_t id) {
        FarmLogoff logoff;
        logoff.identity.fill(id);
        logoff.times.creationTime = future();
        logoff.times.maxLifetimeMinutes = 60;
        return logoff;
    }
    static void receive(std::uint8_t id) {
        cachetest::cache().addReceivedLogoffs(std::vector<FarmLogoff>{receivedFrom(id)});
    }
    static std::uint32_t receivedHeld() { return cachetest::cache().receivedLogoffs(); }
    static std::int32_t future() { return static_cast<std::int32_t>(std::time(nullptr)) + 1000; }

    bool traced(const std::string& text) const {
        for (const std::string& line : trace.messages()) {
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(CacheCeiling, AddThatWouldPassItForgetsEverythingAndRefusesWhatCameBefore) {
    logoffCookieCache_setCeiling(3);
    const std::int32_t later = future();
    const std::int32_t now = static_cast<std::int32_t>(std::time(nullptr));
    CookieFields kept[] = {{"a", "1"}, {"b", "2"}, {"c", "3"}};
    add(kept[0], now);
    add(kept[1], later);
    add(kept[2], later);
    // At the ceiling, an add of a cookie already held takes no room.
    add(kept[1], later);
    ASSERT_EQ(cachetest::queuedCookies(cachetest::cache()).size(), 3u);
    ASSERT_FALSE(traced("reached the ceiling"));

    const std::int32_t beforeFlush = static_cast<std::int32_t>(std::time(nullptr));
    CookieFields passing("d", "4");
    add(passing, later);

    EXPECT_GE(cachetest::cache().startTime(), beforeFlush);
    EXPECT_EQ(cachetest::queuedCookies(cachetest::cache()).size(), 1u);
    EXPECT_EQ(cachetest::cachedCookieCount(cachetest::cache()), 1u);
    EXPECT_TRUE(
        traced("logoffCookieAPI_addToCache() -- 3 records held reached the ceiling of 3 "
               "(VOKLOGOFFMAXCOOKIES)"));
    // Forgotten, but what was created before the flush stays refused, as
    // after a restart; created after it (by its own clock), it is new again.
    EXPECT_EQ(query(kept[0], now), 1);
    EXPECT_EQ(query(CookieFields("never-added", "x"), beforeFlush), 1);
    EXPECT_EQ(query(passing, later), 1);
    EXPECT_EQ(query(kept[1], later), 0);
    add(kept[1], later);
    EXPECT_EQ(query(kept[1], later), 1);
}

TEST_F(CacheCeiling, ReceivedLogoffsCountAndCanPassItThemselves) {
    logoffCookieCache_setCeiling(2);
    receive(1);
    receive(2);
    add(CookieFields("local", "1"), future());
    EXPECT_TRUE(traced("logoffCookieAPI_addToCache() -- 2 records held reached the ceiling"));
    EXPECT_EQ(receivedHeld(), 0u);
    EXPECT_EQ(cachetest::cachedCookieCount(cachetest::cache()), 1u);

    trace.clear();
    receive(3);
    receive(3);  // held already: no room taken
    ASSERT_FALSE(traced("reached the ceiling"));
    receive(4);
    EXPECT_TRUE(
        traced("logoffCookieCache_addReceivedLogoff() -- 2 records held reached the ceiling"));
    EXPECT_EQ(cachetest::cachedCookieCount(cachetest::cache()), 0u);
    EXPECT_EQ(receivedHeld(), 1u);
}

// One read's logoffs are recorded together, yet each record still takes its
// room: a batch may pass the ceiling more than once, and each time is said.
TEST_F(CacheCeiling, ABatchPassingItTwiceSaysEachFlush) {
    logoffCookieCache_setCeiling(2);
    std::vector<FarmLogoff> batch;
    for (std::uint8_t id : {1, 2, 2, 3, 4, 5}) {  // one held twice: no room taken
        batch.push_back(receivedFrom(id));
    }
    cachetest::cache().addReceivedLogoffs(batch);
    int flushes = 0;
    for (const std::string& line : trace.messages()) {
        flushes += line.find(
                       "logoffCookieCache_addReceivedLogoff() -- 2 records held reached the "
                       "ceiling of 2") != std::string::npos;
    }
    EXPECT_EQ(flushes, 2);
    EXPECT_EQ(receivedHeld(), 1u);  // 5, after the flushes at 3 and at 5
}

}  // namespace
