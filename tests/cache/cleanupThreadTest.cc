// The real cleanup thread, launched by the first insert. It runs in a child
// process that ends with _exit once the checks are done: the thread sleeps
// for 240 s after its pass, and a normal exit would spend the cancellation
// time-out on it before terminating it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCacheState.h"
#include "tests/cache/cacheTestSupport.h"

namespace {

using cachetest::CookieFields;

template <class Condition>
bool eventually(Condition condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void firstInsertLaunchesAPassThatForgetsAnExpiredCookie() {
    cachetest::TraceCapture trace;
    initLogoffCookieCache();
    std::int32_t creation = getCacheStartTime() + 5;
    CookieFields expired("expired", "bytes", 0, 0);
    CookieFields kept("kept", "bytes", 60, 0);
    auto add = [&](const CookieFields& fields) {
        logoffCookieAPI_addToCache(fields.text, fields.bytes, creation, creation, 0,
                                   fields.attributes, 0);
    };
    auto isCached = [&](const CookieFields& fields) {
        return logoffCookieAPI_cookieIsCached(fields.text, fields.bytes, creation, 0,
                                              fields.attributes);
    };

    add(expired);
    add(kept);
    EXPECT_TRUE(eventually([&] { return isCached(expired) == 0; }));
    EXPECT_EQ(isCached(kept), 1);
    EXPECT_TRUE(eventually(
        [&] { return trace.count("Logoff Cookie Cleanup Thread sleeping for 240 millis") == 1; }));
    EXPECT_EQ(trace.count("Logoff Cookie cleanup thread started"), 1);
    EXPECT_EQ(trace.count("Logoff cookie time has expired.  Will remove it."), 1);
}

TEST(CleanupThreadTest, FirstInsertLaunchesAPassThatForgetsAnExpiredCookieAtOnce) {
    std::fflush(nullptr);  // the child must not write the parent's buffers again
    pid_t child = fork();
    if (child == 0) {
        firstInsertLaunchesAPassThatForgetsAnExpiredCookie();
        std::fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's failures are printed above";
}

}  // namespace
