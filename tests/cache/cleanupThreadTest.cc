// The real cleanup thread, launched by the first insert. A binary of its own:
// the thread then sleeps for 240 s, and the exit waits out its cancellation.
#include <gtest/gtest.h>

#include <chrono>
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

TEST(CleanupThreadTest, FirstInsertLaunchesAPassThatForgetsAnExpiredCookieAtOnce) {
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

    // The process keeps what it caches to the end; a test frees it.
    WriteGuard guard(logoffCookieCacheLock);
    while (RWCollectable* cookie = logoffCookieQueue.get()) {
        logoffCookieTable_removeReference(static_cast<LogoffCookie*>(cookie));
        delete cookie;
    }
    guard.release();
}

}  // namespace
