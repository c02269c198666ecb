#include "cache/LogoffCookie.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "crypto/sha1.h"
#include "support/collections/RWFactory.h"
#include "tests/cache/cacheTestSupport.h"

namespace {

using cachetest::CookieFields;

std::array<std::uint8_t, kLogoffCookieSaltSize> saltOf(std::uint8_t seed) {
    std::array<std::uint8_t, kLogoffCookieSaltSize> salt{};
    for (std::size_t i = 0; i < salt.size(); ++i) {
        salt[i] = static_cast<std::uint8_t>(seed + i * 7);
    }
    return salt;
}

const auto kSalt = saltOf(1);

TEST(LogoffCookieTest, DefaultRecordHasUnknownTextZeroDigestAndZeros) {
    LogoffCookie cookie;
    EXPECT_EQ(cookie.cookieText(), "unknown");
    EXPECT_EQ(cookie.digest(), LogoffCookieDigest{});
    EXPECT_EQ(cookie.hash(), 0u);
    EXPECT_EQ(cookie.lastUseTime(), 0);
    EXPECT_EQ(cookie.creationTime(), 0);
    EXPECT_EQ(cookie.timeOffset(), 0);
    EXPECT_EQ(cookie.idleTimeoutMinutes(), 0u);
    EXPECT_EQ(cookie.maxLifetimeMinutes(), 0u);
    EXPECT_EQ(cookie.cookieKind(), 0);
    EXPECT_EQ(cookie.classId(), 300);
}

TEST(LogoffCookieTest, FieldConstructorTakesTextCreationTimeAndBothTimeouts) {
    CookieFields fields("session-abc", "second", 480, 30);
    LogoffCookie cookie = fields.record(1'700'000'000, kSalt.data());
    EXPECT_EQ(cookie.cookieText(), "session-abc");
    EXPECT_EQ(cookie.creationTime(), 1'700'000'000);
    EXPECT_EQ(cookie.maxLifetimeMinutes(), 480u);  // offset 652
    EXPECT_EQ(cookie.idleTimeoutMinutes(), 30u);   // offset 656
    EXPECT_EQ(cookie.lastUseTime(), 0);
    EXPECT_EQ(cookie.timeOffset(), 0);
    EXPECT_EQ(cookie.cookieKind(), 0);
}

TEST(LogoffCookieTest, DigestIsSha1OfTextBytesLittleEndianTimeAndSalt) {
    CookieFields fields("text", "bytes");
    LogoffCookie cookie = fields.record(0x01020304, kSalt.data());

    std::vector<std::uint8_t> message = {'t', 'e', 'x',  't',  'b',  'y', 't',
                                         'e', 's', 0x04, 0x03, 0x02, 0x01};
    message.insert(message.end(), kSalt.begin(), kSalt.end());
    LogoffCookieDigest expected;
    sha1Digest(message.data(), message.size(), expected.data());
    EXPECT_EQ(cookie.digest(), expected);
}

TEST(LogoffCookieTest, FieldWithoutNulEndsAfterItsSixtyFourBytes) {
    // Each field is followed in memory by bytes that must not count.
    char first[2 * kLogoffCookieTextSize];
    char second[2 * kLogoffCookieTextSize];
    std::memset(first, 'a', sizeof first);
    std::memset(second, 'a', kLogoffCookieTextSize);
    std::memset(second + kLogoffCookieTextSize, 'z', kLogoffCookieTextSize);
    CookieFields attributes("", "");

    LogoffCookie one(first, first, 7, kSalt.data(), attributes.attributes);
    LogoffCookie other(second, second, 7, kSalt.data(), attributes.attributes);
    EXPECT_EQ(one.cookieText(), std::string(kLogoffCookieTextSize, 'a'));
    EXPECT_EQ(other.cookieText(), one.cookieText());
    EXPECT_TRUE(one.isEqual(&other));
}

TEST(LogoffCookieTest, SameTextWithOtherBytesOrTimeIsNotEqualAndHashesApart) {
    LogoffCookie one = CookieFields("shared", "first").record(100, kSalt.data());
    LogoffCookie otherBytes = CookieFields("shared", "second").record(100, kSalt.data());
    LogoffCookie otherTime = CookieFields("shared", "first").record(101, kSalt.data());
    for (const LogoffCookie* other : {&otherBytes, &otherTime}) {
        EXPECT_NE(one.hash(), other->hash());
        EXPECT_FALSE(one.isEqual(other));
        EXPECT_FALSE(other->isEqual(&one));
    }
}

TEST(LogoffCookieTest, EqualityIgnoresTimesKindAndTimeouts) {
    LogoffCookie one = CookieFields("text", "bytes", 60, 10).record(100, kSalt.data());
    LogoffCookie other = CookieFields("text", "bytes", 999, 1).record(100, kSalt.data());
    other.setLastUseTime(12345);
    other.setTimeOffset(-3600);
    other.setCookieKind(2);
    EXPECT_TRUE(one.isEqual(&other));

    LogoffCookie laterCreation = CookieFields("text", "bytes").record(101, kSalt.data());
    EXPECT_FALSE(one.isEqual(&laterCreation));
}

TEST(LogoffCookieTest, AnotherSaltGivesAnotherDigest) {
    CookieFields fields("text", "bytes");
    auto otherSalt = saltOf(2);
    LogoffCookie one = fields.record(100, kSalt.data());
    LogoffCookie other = fields.record(100, otherSalt.data());
    EXPECT_NE(one.digest(), other.digest());
    EXPECT_FALSE(one.isEqual(&other));
}

TEST(LogoffCookieTest, HashIsTheFrontOfTheDigestLeastSignificantFirst) {
    for (const char* text : {"", "abc", "\xE9"}) {
        LogoffCookie cookie = CookieFields(text, "x").record(1, kSalt.data());
        const LogoffCookieDigest& digest = cookie.digest();
        std::uint32_t front = digest[0] | digest[1] << 8 | digest[2] << 16 |
                              static_cast<std::uint32_t>(digest[3]) << 24;
        EXPECT_EQ(cookie.hash(), front) << text;
    }
    // Placement follows the salt: without it, nobody can pick colliding cookies.
    auto otherSalt = saltOf(2);
    CookieFields fields("abc", "x");
    EXPECT_NE(fields.record(1, kSalt.data()).hash(), fields.record(1, otherSalt.data()).hash());
}

TEST(LogoffCookieTest, CopyIsEqualAndKeepsItsTimes) {
    LogoffCookie original = CookieFields("text", "bytes", 60, 10).record(100, kSalt.data());
    original.setLastUseTime(90);
    std::unique_ptr<RWCollectable> copied(original.copy());
    auto* copy = static_cast<LogoffCookie*>(copied.get());
    EXPECT_TRUE(copy->isEqual(&original));
    EXPECT_EQ(copy->cookieText(), "text");
    EXPECT_EQ(copy->lastUseTime(), 90);
    EXPECT_EQ(copy->maxLifetimeMinutes(), 60u);
}

TEST(LogoffCookieTest, FactoryCreatesDefaultRecordsByIdAndByName) {
    std::unique_ptr<RWCollectable> byId(RWFactory::create(LOGOFF_COOKIE_CLASS_ID));
    std::unique_ptr<RWCollectable> byName(RWFactory::create("LogoffCookie"));
    ASSERT_NE(byId, nullptr);
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(byId->classId(), 300);
    EXPECT_EQ(static_cast<LogoffCookie*>(byName.get())->cookieText(), "unknown");
}

}  // namespace
