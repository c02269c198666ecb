#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCache.h"
#include "cache/logoffCookieCleanupThread.h"
#include "tests/cache/cacheTestSupport.h"

namespace {

using cachetest::CookieFields;

constexpr std::uint8_t kSalt[kLogoffCookieSaltSize] = {};
constexpr std::int32_t kCreation = 1'000'000'000;

// A cookie created at kCreation on its own clock.
LogoffCookie cookieWith(std::uint32_t lifetimeMinutes, std::uint32_t idleMinutes,
                        std::int32_t lastUseTime = kCreation, std::int32_t kind = 0,
                        std::int32_t timeOffset = 0) {
    LogoffCookie cookie =
        CookieFields("text", "bytes", lifetimeMinutes, idleMinutes).record(kCreation, kSalt);
    cookie.setLastUseTime(lastUseTime);
    cookie.setCookieKind(kind);
    cookie.setTimeOffset(timeOffset);
    return cookie;
}

// The service clock at which the cookie's clock plus the grace reaches `cookieTime`.
constexpr std::int32_t serviceTimeReaching(std::int32_t cookieTime, std::int32_t offset = 0) {
    return cookieTime - offset - EXPIRY_GRACE_SECONDS;
}

TEST(CookieExpiryTest, LifetimeRunsOutWhenClockPlusGraceReachesItsEnd) {
    // Lifetime 0 ends at creation, even with an idle timeout.
    for (auto [lifetime, idle] : {std::pair{0u, 5u}, std::pair{60u, 0u}}) {
        LogoffCookie cookie = cookieWith(lifetime, idle);
        std::int32_t end = kCreation + static_cast<std::int32_t>(lifetime) * 60;
        EXPECT_FALSE(logoffCookieHasExpired(cookie, serviceTimeReaching(end) - 1)) << lifetime;
        EXPECT_TRUE(logoffCookieHasExpired(cookie, serviceTimeReaching(end))) << lifetime;
    }
}

TEST(CookieExpiryTest, ShorterIdleTimeoutCountsFromLastUse) {
    std::int32_t lastUse = kCreation + 600;
    LogoffCookie cookie = cookieWith(60, 15, lastUse);
    std::int32_t idleEnd = lastUse + 15 * 60;
    EXPECT_FALSE(logoffCookieHasExpired(cookie, serviceTimeReaching(idleEnd) - 1));
    EXPECT_TRUE(logoffCookieHasExpired(cookie, serviceTimeReaching(idleEnd)));
}

TEST(CookieExpiryTest, IdleTimeoutOfZeroOrNotBelowLifetimeIsIgnored) {
    std::int32_t beforeLifetimeEnd = serviceTimeReaching(kCreation + 60 * 60) - 1;
    for (std::uint32_t idle : {0u, 60u, 61u}) {
        LogoffCookie cookie = cookieWith(60, idle, kCreation - 100'000);
        EXPECT_FALSE(logoffCookieHasExpired(cookie, beforeLifetimeEnd)) << "idle " << idle;
    }
}

TEST(CookieExpiryTest, KindsOneAndTwoAreJudgedByLifetimeAlone) {
    std::int32_t idleEnd = kCreation + 15 * 60;
    for (std::int32_t kind : {1, 2}) {
        LogoffCookie cookie = cookieWith(60, 15, kCreation, kind);
        EXPECT_FALSE(logoffCookieHasExpired(cookie, serviceTimeReaching(idleEnd))) << kind;
        EXPECT_TRUE(logoffCookieHasExpired(cookie, serviceTimeReaching(kCreation + 3600))) << kind;
    }
    EXPECT_TRUE(
        logoffCookieHasExpired(cookieWith(60, 15, kCreation, 0), serviceTimeReaching(idleEnd)));
}

TEST(CookieExpiryTest, OffsetOfAnHourExpiresAnHourEarlierOnTheServiceClock) {
    std::int32_t end = kCreation + 120 * 60;
    LogoffCookie sameClock = cookieWith(120, 0);
    LogoffCookie clockAhead = cookieWith(120, 0, kCreation, 0, 3600);
    std::int32_t service = serviceTimeReaching(end) - 3600;
    EXPECT_FALSE(logoffCookieHasExpired(sameClock, service));
    EXPECT_TRUE(logoffCookieHasExpired(clockAhead, service));
    EXPECT_FALSE(logoffCookieHasExpired(clockAhead, service - 1));
}

TEST(CookieExpiryTest, SumsWrapAroundInThirtyTwoBits) {
    // 0xFFFFFFFF minutes are -60 seconds in 32 bits: over a minute before
    // the cookie was even created.
    EXPECT_TRUE(
        logoffCookieHasExpired(cookieWith(0xFFFFFFFFu, 0), serviceTimeReaching(kCreation - 60)));
    // A creation time near the end of the 32-bit range plus an hour wraps
    // negative and so lies before any positive clock.
    LogoffCookie late = CookieFields("text", "bytes", 60, 0).record(INT32_MAX - 100, kSalt);
    EXPECT_TRUE(logoffCookieHasExpired(late, 1000));
    // The service clock plus offset and grace wraps the same way.
    LogoffCookie early = cookieWith(60, 0, kCreation, 0, 100);
    EXPECT_FALSE(logoffCookieHasExpired(early, INT32_MAX - 50));
}

// The clock the passes below read.
std::int32_t fakeNow = 0;
std::int32_t fakeClock() {
    return fakeNow;
}

class CleanupPassTest : public cachetest::CacheTest {
  protected:
    // Adds a cookie created 100 s after the cache start with the given
    // lifetime; returns its creation time.
    static std::int32_t add(const std::string& text, std::uint32_t lifetimeMinutes,
                            std::int32_t lastUseOffset = 0, std::uint32_t idleMinutes = 0) {
        CookieFields fields(text, "bytes", lifetimeMinutes, idleMinutes);
        std::int32_t creation = cachetest::cache().startTime() + 100;
        cachetest::cache().addToCache(fields.text, fields.bytes, creation + lastUseOffset, creation,
                                      0, fields.attributes, 0);
        return creation;
    }
    static int isCached(const std::string& text) {
        CookieFields fields(text, "bytes");
        return cachetest::cache().cookieIsCached(
            fields.text, fields.bytes, cachetest::cache().startTime() + 100, 0, fields.attributes);
    }
    static std::vector<std::string> queuedTexts() {
        std::vector<std::string> texts;
        for (LogoffCookie* cookie : cachetest::queuedCookies(cachetest::cache())) {
            texts.push_back(cookie->cookieText());
        }
        return texts;
    }
};

TEST_F(CleanupPassTest, EmptyPassOnlyTraces) {
    cachetest::cache().cleanupPass(fakeClock);
    std::vector<std::string> expected = {
        "logoffCookie_CleanupThread() -- writelock attempt.",
        "logoffCookie_CleanupThread() -- writelock acquired.",
        "logoffCookie_CleanupThread() logoffCookieHashTable Entries 0",
        "logoffCookie_CleanupThread() -- writelock released.",
    };
    EXPECT_EQ(trace.messages(), expected);
}

TEST_F(CleanupPassTest, PassFreesExpiredCookiesAndKeepsTheRestInOrder) {
    std::int32_t creation = add("a-short", 1);
    add("b-long", 60);
    add("c-short", 1);
    add("d-long", 60);
    trace.clear();

    fakeNow = serviceTimeReaching(creation + 60);
    cachetest::cache().cleanupPass(fakeClock);
    auto messages = trace.messages();

    EXPECT_EQ(queuedTexts(), (std::vector<std::string>{"b-long", "d-long"}));
    EXPECT_EQ(cachetest::cachedCookieCount(cachetest::cache()), 2u);
    EXPECT_EQ(isCached("a-short"), 0);
    EXPECT_EQ(isCached("b-long"), 1);
    EXPECT_EQ(isCached("c-short"), 0);
    EXPECT_EQ(isCached("d-long"), 1);

    ASSERT_EQ(messages.size(), 8u);
    EXPECT_EQ(messages[2], "logoffCookie_CleanupThread() logoffCookieHashTable Entries 4");
    EXPECT_EQ(messages[3], "Logoff cookie time has expired.  Will remove it.");
    EXPECT_EQ(messages[4],
              "logoffCookie_CleanupThread() copyLogoffCookieQueue Entries, after removal of "
              "entry from queue: 3");
    EXPECT_EQ(messages[5], "Logoff cookie time has expired.  Will remove it.");
    EXPECT_EQ(messages[6],
              "logoffCookie_CleanupThread() copyLogoffCookieQueue Entries, after removal of "
              "entry from queue: 1");
    EXPECT_EQ(messages[7], "logoffCookie_CleanupThread() -- writelock released.");
}

TEST_F(CleanupPassTest, ReAddedCookieStaysLoggedOffUntilItsOwnExpiry) {
    // Logged off again with a later last use: the newer record replaces the
    // older one in the set, and only its own idle timeout may end it.
    std::int32_t creation = add("session", 60, 0, 10);
    add("session", 60, 20 * 60, 10);
    ASSERT_EQ(cachetest::queuedCookies(cachetest::cache()).size(), 1u);

    fakeNow = serviceTimeReaching(creation + 10 * 60);
    cachetest::cache().cleanupPass(fakeClock);
    EXPECT_EQ(isCached("session"), 1);
    EXPECT_EQ(cachetest::cachedCookieCount(cachetest::cache()), 1u);
    ASSERT_EQ(cachetest::queuedCookies(cachetest::cache()).size(), 1u);
    EXPECT_EQ(cachetest::queuedCookies(cachetest::cache())[0]->lastUseTime(), creation + 20 * 60);

    fakeNow = serviceTimeReaching(creation + 30 * 60);
    cachetest::cache().cleanupPass(fakeClock);
    EXPECT_EQ(isCached("session"), 0);
    EXPECT_EQ(cachetest::cachedCookieCount(cachetest::cache()), 0u);
    EXPECT_TRUE(cachetest::queuedCookies(cachetest::cache()).empty());
}

TEST_F(CleanupPassTest, ReAddedCookieWithShorterLifetimeExpiresByTheNewerOne) {
    std::int32_t creation = add("session", 60);
    add("session", 1);

    fakeNow = serviceTimeReaching(creation + 60);
    cachetest::cache().cleanupPass(fakeClock);
    EXPECT_EQ(isCached("session"), 0);
    EXPECT_EQ(cachetest::cachedCookieCount(cachetest::cache()), 0u);
    // Nothing of the first add is left behind for a later pass.
    EXPECT_TRUE(cachetest::queuedCookies(cachetest::cache()).empty());
}

// The exit cancels the cleanup thread wherever it is. A clock that cancels
// its own thread halfway through the pass stands in for it: the pass still
// ends whole, so no cookie is lost between the private queue and the set.
int clockReadsBeforeCancel = 0;
std::int32_t cancellingClock() {
    if (--clockReadsBeforeCancel == 0) {
        pthread_cancel(pthread_self());
    }
    return fakeNow;
}

bool passReturned = false;

void* passOnACancellableThread(void*) {
    int previous = 0;
    pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, &previous);
    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &previous);
    cachetest::cache().cleanupPass(cancellingClock);
    passReturned = true;
    return nullptr;
}

TEST_F(CleanupPassTest, PassCutOffByTheExitStillEndsWhole) {
    std::int32_t creation = add("kept", 120);
    for (int i = 0; i < 20; ++i) {
        add("expired-" + std::to_string(i), 1);
    }
    fakeNow = serviceTimeReaching(creation + 60);
    clockReadsBeforeCancel = 10;
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, nullptr, passOnACancellableThread, nullptr), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    EXPECT_FALSE(passReturned) << "the thread ends at the end of the pass";

    EXPECT_EQ(queuedTexts(), std::vector<std::string>{"kept"});
    EXPECT_EQ(cachetest::cachedCookieCount(cachetest::cache()), 1u);
    EXPECT_EQ(isCached("kept"), 1);
}

}  // namespace
