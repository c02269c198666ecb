// The cache through the socket of the real service: what a client records is
// what it is told afterwards.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <thread>

#include "tests/support/rawRequests.h"
#include "tests/support/serviceProcess.h"

namespace lctest {
namespace {

// Created after the service started, so the cache has to look it up.
CookieFields freshCookie(const std::string& text, uint32_t maxLifetimeMinutes = 60) {
    CookieFields cookie;
    cookie.text = text;
    cookie.creationTime = static_cast<int32_t>(time(nullptr)) + 5;
    cookie.lastUseTime = cookie.creationTime;
    cookie.maxLifetimeMinutes = maxLifetimeMinutes;
    return cookie;
}

template <class Condition>
bool eventually(Condition condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

TEST(CacheService, AddedCookieIsAnsweredLoggedOffAndOthersAreNot) {
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    CookieFields cookie = freshCookie("logged-off");
    CookieFields other = cookie;
    other.bytes = "other-bytes";

    EXPECT_EQ(ask(service.socketPath(), queryPayload(cookie)), 0);
    EXPECT_EQ(ask(service.socketPath(), addPayload(cookie)), -1);
    EXPECT_EQ(ask(service.socketPath(), queryPayload(cookie)), 1);
    EXPECT_EQ(ask(service.socketPath(), queryPayload(other)), 0);

    // A cookie created before the service started is refused unseen.
    CookieFields old = freshCookie("never-added");
    old.creationTime -= 3600;
    EXPECT_EQ(ask(service.socketPath(), queryPayload(old)), 1);
}

TEST(CacheService, CookieWithLifetimeZeroIsForgottenByTheFirstInsertsPass) {
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    CookieFields expired = freshCookie("lifetime-zero", 0);
    CookieFields kept = freshCookie("lifetime-hour", 60);

    EXPECT_EQ(ask(service.socketPath(), addPayload(expired)), -1);
    EXPECT_EQ(ask(service.socketPath(), addPayload(kept)), -1);
    EXPECT_TRUE(eventually([&] { return ask(service.socketPath(), queryPayload(expired)) == 0; }));
    EXPECT_EQ(ask(service.socketPath(), queryPayload(kept)), 1);

    std::string trace = service.readTrace();
    auto occurrences = [&](const std::string& line) {
        size_t n = 0;
        for (size_t at = trace.find(line); at != std::string::npos; at = trace.find(line, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(occurrences("# Logoff Cookie cleanup thread started"), 1u);
    EXPECT_EQ(occurrences("# Logoff cookie time has expired.  Will remove it."), 1u);
    EXPECT_EQ(occurrences("# Logoff Cookie Cleanup Thread sleeping for 240 millis"), 1u);
}

}  // namespace
}  // namespace lctest
