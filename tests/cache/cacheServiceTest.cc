// The cache through the socket of the real service: what a client records is
// what it is told afterwards.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/support/fileText.h"
#include "tests/support/rawRequests.h"
#include "tests/support/serviceProcess.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

// Created after the service started, so the cache has to look it up.
constexpr auto kSoon = std::chrono::seconds(5);

TEST(CacheService, AddedCookieIsAnsweredLoggedOffAndOthersAreNot) {
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    CookieFields cookie = freshCookie("logged-off", kSoon);
    CookieFields other = cookie;
    other.bytes = "other-bytes";

    EXPECT_EQ(ask(service.socketPath(), queryPayload(cookie)), 0);
    EXPECT_EQ(ask(service.socketPath(), addPayload(cookie)), -1);
    EXPECT_EQ(ask(service.socketPath(), queryPayload(cookie)), 1);
    EXPECT_EQ(ask(service.socketPath(), queryPayload(other)), 0);

    // A cookie created before the service started is refused unseen.
    CookieFields old = freshCookie("never-added", kSoon);
    old.creationTime -= 3600;
    EXPECT_EQ(ask(service.socketPath(), queryPayload(old)), 1);
}

TEST(CacheService, CookieWithLifetimeZeroIsForgottenByTheFirstInsertsPass) {
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    CookieFields expired = freshCookie("lifetime-zero", kSoon);
    expired.maxLifetimeMinutes = 0;
    CookieFields kept = freshCookie("lifetime-hour", kSoon);

    EXPECT_EQ(ask(service.socketPath(), addPayload(expired)), -1);
    EXPECT_EQ(ask(service.socketPath(), addPayload(kept)), -1);
    EXPECT_TRUE(
        waitUntil([&] { return ask(service.socketPath(), queryPayload(expired)) == 0; }, 5s, 10ms));
    EXPECT_EQ(ask(service.socketPath(), queryPayload(kept)), 1);

    std::string trace = service.readTrace();
    EXPECT_EQ(occurrences(trace, "# Logoff Cookie cleanup thread started"), 1u);
    EXPECT_EQ(occurrences(trace, "# Logoff cookie time has expired.  Will remove it."), 1u);
    EXPECT_EQ(occurrences(trace, "# Logoff Cookie Cleanup Thread sleeping for 240 millis"), 1u);
}

}  // namespace
}  // namespace lctest
