#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCache.h"
#include "cache/logoffCookieCleanupThread.h"
#include "tests/cache/cacheTestSupport.h"

namespace {

using cachetest::CookieFields;

// Texts that differ only in a counter, as session tokens often do.
std::string textOf(int serial) {
    return "session-" + std::to_string(serial);
}

constexpr std::uint32_t kShortMinutes = 1;
constexpr std::uint32_t kLongMinutes = 60;

std::int32_t passNow = 0;
std::int32_t passClock() {
    return passNow;
}

class CacheGrowthTest : public cachetest::CacheTest {
  protected:
    static std::int32_t creation() { return cachetest::cache().startTime() + 100; }

    static void add(int serial, std::uint32_t lifetimeMinutes, std::int32_t lastUseOffset = 0) {
        CookieFields fields(textOf(serial), "bytes", lifetimeMinutes);
        cachetest::cache().addToCache(fields.text, fields.bytes, creation() + lastUseOffset,
                                      creation(), 0, fields.attributes, 0);
    }
    static int isCached(int serial) {
        CookieFields fields(textOf(serial), "bytes");
        return cachetest::cache().cookieIsCached(fields.text, fields.bytes, creation(), 0,
                                                 fields.attributes);
    }
    static std::uint32_t buckets() { return cachetest::cache().buckets(); }
    // A pass with the service clock `minutes` after the cookies' creation.
    static void passAfter(std::uint32_t minutes) {
        passNow = creation() + static_cast<std::int32_t>(minutes * 60) - EXPIRY_GRACE_SECONDS;
        cachetest::cache().cleanupPass(passClock);
    }
};

TEST_F(CacheGrowthTest, SetGrowsAsItFillsAndFindsEveryCookie) {
    constexpr int kCookies = 3000;
    ASSERT_EQ(buckets(), 64u);
    for (int serial = 0; serial < kCookies; ++serial) {
        add(serial, kLongMinutes);
        ASSERT_LE(cachetest::cachedCookieCount(cachetest::cache()), 2 * buckets()) << serial;
    }
    EXPECT_GE(buckets(), kCookies / 2 / 2);
    for (int serial = 0; serial < kCookies; ++serial) {
        ASSERT_EQ(isCached(serial), 1) << serial;
    }
    EXPECT_EQ(isCached(kCookies), 0);
    EXPECT_EQ(isCached(-1), 0);
}

TEST_F(CacheGrowthTest, CookieReAddedAcrossAGrowthStaysLoggedOffUntilItsOwnExpiry) {
    add(0, kLongMinutes);
    std::uint32_t before = buckets();
    for (int serial = 1; serial < 1000; ++serial) {
        add(serial, kShortMinutes);
    }
    ASSERT_GT(buckets(), before);
    // Equal digest, later last use: updates the first record.
    add(0, kLongMinutes, 90 * 60);
    EXPECT_EQ(cachetest::cachedCookieCount(cachetest::cache()), 1000u);
    EXPECT_EQ(cachetest::queuedCookies(cachetest::cache()).size(), 1000u);

    passAfter(kShortMinutes);
    EXPECT_EQ(isCached(0), 1);
    EXPECT_EQ(cachetest::cachedCookieCount(cachetest::cache()), 1u);
    ASSERT_EQ(cachetest::queuedCookies(cachetest::cache()).size(), 1u);

    passAfter(kLongMinutes);
    EXPECT_EQ(isCached(0), 0);
    EXPECT_TRUE(cachetest::queuedCookies(cachetest::cache()).empty());
}

TEST_F(CacheGrowthTest, PassThatEmptiesTheSetGivesBackItsBucketsButNotBelow64) {
    for (int serial = 0; serial < 2000; ++serial) {
        add(serial, serial < 1900 ? kShortMinutes : kLongMinutes);
    }
    std::uint32_t grown = buckets();
    ASSERT_GT(grown, 500u);

    passAfter(kShortMinutes);
    EXPECT_EQ(cachetest::cachedCookieCount(cachetest::cache()), 100u);
    EXPECT_LT(buckets(), grown);
    EXPECT_GE(buckets(), 100u);
    for (int serial = 1900; serial < 2000; ++serial) {
        ASSERT_EQ(isCached(serial), 1) << serial;
    }

    passAfter(kLongMinutes);
    EXPECT_EQ(cachetest::cachedCookieCount(cachetest::cache()), 0u);
    EXPECT_EQ(buckets(), 64u);
}

TEST_F(CacheGrowthTest, CookiesOfOneTextKeepChainsShort) {
    // One text, told apart by the second field and the creation time: a
    // client that sends such cookies must not make every find walk them all.
    constexpr int kCookies = 3000;
    cachetest::QuietTrace quiet;
    for (int serial = 0; serial < kCookies; ++serial) {
        CookieFields fields("one-text", "bytes-" + std::to_string(serial % 100), kLongMinutes);
        std::int32_t created = creation() + serial / 100;
        cachetest::cache().addToCache(fields.text, fields.bytes, created, created, 0,
                                      fields.attributes, 0);
    }
    ASSERT_EQ(cachetest::cachedCookieCount(cachetest::cache()),
              static_cast<std::uint32_t>(kCookies));

    std::uint32_t longest = cachetest::cache().longestChain();
    // Under two cookies per bucket on average; a salted digest that fills
    // one bucket with 20 of them is beyond any chance worth counting. More
    // cookies than buckets: some bucket holds two, whatever the salt.
    EXPECT_LE(longest, 20u);
    EXPECT_GE(longest, 2u);
}

}  // namespace
