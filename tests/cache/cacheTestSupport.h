// Helpers shared by the cache tests: request fields as a client sends them,
// a captured trace log (tests/support), and a cache brought back to empty
// between tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "cache/LogoffCookie.h"
#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCacheState.h"
#include "support/threads/RWRunnableImp.h"
#include "tests/support/traceCapture.h"

namespace cachetest {

// The three request fields a cookie is made from, zero-filled like a request.
struct CookieFields {
    char text[COOKIE_TEXT_SIZE] = {};
    char bytes[COOKIE_TEXT_SIZE] = {};
    char attributes[COOKIE_ATTRIBUTES_SIZE] = {};

    CookieFields(std::string_view cookieText, std::string_view cookieBytes,
                 std::uint32_t maxLifetimeMinutes = 0, std::uint32_t idleTimeoutMinutes = 0) {
        std::memcpy(text, cookieText.data(), std::min(cookieText.size(), sizeof text));
        std::memcpy(bytes, cookieBytes.data(), std::min(cookieBytes.size(), sizeof bytes));
        std::memcpy(attributes + MAX_LIFETIME_OFFSET, &maxLifetimeMinutes, 4);
        std::memcpy(attributes + IDLE_TIMEOUT_OFFSET, &idleTimeoutMinutes, 4);
    }

    LogoffCookie record(std::int32_t creationTime, const std::uint8_t* salt) const {
        return LogoffCookie(text, bytes, creationTime, salt, attributes);
    }
};

// Tracing off for the life of the object, back at TRACE_DETAIL after it:
// for loops of thousands of inserts, and for allocation counts that the
// trace log's own must not disturb.
class QuietTrace {
  public:
    QuietTrace() { setenv("VOKTRACELEVEL", "0", 1); }
    ~QuietTrace() { setenv("VOKTRACELEVEL", "8", 1); }
    QuietTrace(const QuietTrace&) = delete;
    QuietTrace& operator=(const QuietTrace&) = delete;
};

// The cookies of logoffCookieQueue, front first.
inline std::vector<LogoffCookie*> queuedCookies() {
    std::vector<LogoffCookie*> cookies;
    ReadGuard guard(logoffCookieCacheLock);
    RWSlistCollectablesQueue copy(logoffCookieQueue);
    while (RWCollectable* cookie = copy.get()) {
        cookies.push_back(static_cast<LogoffCookie*>(cookie));
    }
    guard.release();
    return cookies;
}

inline std::uint32_t cachedCookieCount() {
    ReadGuard guard(logoffCookieCacheLock);
    std::uint32_t count = logoffCookieTable_entries();
    guard.release();
    return count;
}

inline const LogoffCookie* findCached(const LogoffCookie& probe) {
    ReadGuard guard(logoffCookieCacheLock);
    const LogoffCookie* found = logoffCookieTable_find(probe);
    guard.release();
    return found;
}

inline std::atomic<int> cleanupThreadRuns{0};

// Stands in for the 240-second loop: the launch is real, the thread ends at once.
inline void countingCleanupThread() {
    cleanupThreadRuns.fetch_add(1);
}

// Frees every cached cookie and lets the next insert launch the cleanup
// thread again, which then only counts its run.
inline void resetCache() {
    // A launch of the test before must not count in this one.
    if (cleanupThreadHandle.isValid()) {
        cleanupThreadHandle.waitExecutionState(RWRunnableImp::kInitial, 10'000);
    }
    WriteGuard guard(logoffCookieCacheLock);
    while (RWCollectable* cookie = logoffCookieQueue.get()) {
        logoffCookieTable_removeReference(static_cast<LogoffCookie*>(cookie));
        delete cookie;
    }
    guard.release();
    ASSERT_EQ(logoffCookieTable_entries(), 0u) << "a cached cookie was missing from the queue";
    cleanupThreadFunction = countingCleanupThread;
    cleanupThreadLauncher = launchCleanupThread;
    cleanupThreadStarted.store(0);
    cleanupThreadRuns.store(0);
}

// A fixture with the cache initialised and empty, and the trace captured.
class CacheTest : public ::testing::Test {
  protected:
    // Once per process: a second start would draw a new salt.
    static void SetUpTestSuite() {
        static const bool initialised = (initLogoffCookieCache(), true);
        (void)initialised;
    }
    void SetUp() override { resetCache(); }
    void TearDown() override { resetCache(); }

    // Trace lines at TRACE_DETAIL, for the life of each test.
    lctest::TraceCapture trace{"8"};
};

}  // namespace cachetest
