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
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cache/LogoffCookie.h"
#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCache.h"
#include "support/threads/RWRunnableImp.h"
#include "tests/support/traceCapture.h"

namespace cachetest {

// The three request fields a cookie is made from, zero-filled like a request.
struct CookieFields {
    char text[kLogoffCookieTextSize] = {};
    char bytes[kLogoffCookieTextSize] = {};
    char attributes[kLogoffCookieAttributesSize] = {};

    CookieFields(std::string_view cookieText, std::string_view cookieBytes,
                 std::uint32_t maxLifetimeMinutes = 0, std::uint32_t idleTimeoutMinutes = 0) {
        std::memcpy(text, cookieText.data(), std::min(cookieText.size(), sizeof text));
        std::memcpy(bytes, cookieBytes.data(), std::min(cookieBytes.size(), sizeof bytes));
        std::memcpy(attributes + kLogoffCookieMaxLifetimeOffset, &maxLifetimeMinutes, 4);
        std::memcpy(attributes + kLogoffCookieIdleTimeoutOffset, &idleTimeoutMinutes, 4);
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

inline std::atomic<int> cleanupThreadRuns{0};
// When set, the cleanup thread's launch fails as this function makes it.
inline void (*failingLaunch)() = nullptr;

// The cache of the test under way: each test has one of its own.
inline LogoffCookieCache* current = nullptr;
inline LogoffCookieCache& cache() {
    return *current;
}

// The hooks of a test's cache: the launch is real unless failingLaunch says
// otherwise, and the thread only counts its run.
inline LogoffCookieCacheHooks testHooks() {
    LogoffCookieCacheHooks hooks;
    hooks.cleanupThread = [](LogoffCookieCache&) { cleanupThreadRuns.fetch_add(1); };
    hooks.beforeLaunch = [] {
        if (failingLaunch != nullptr) {
            failingLaunch();
        }
    };
    return hooks;
}

// The cookies the cache owns, in queue order.
inline std::vector<LogoffCookie*> queuedCookies(LogoffCookieCache& cache) {
    return cache.queuedRecords();
}

inline std::uint32_t cachedCookieCount(LogoffCookieCache& cache) {
    return cache.cachedCookies();
}

inline const LogoffCookie* findCached(LogoffCookieCache& cache, const LogoffCookie& probe) {
    return cache.find(probe);
}

// A fixture for what works on the process's cache (the warm restart's save
// and load, for example): emptied before each test, its cleanup thread only
// counting its run.
class ProcessCacheTest : public ::testing::Test {
  protected:
    ProcessCacheTest() {
        static const bool initialised = [] {
            logoffCookieCache_useHooks(testHooks());
            logoffCookieCache().init();
            return true;
        }();
        (void)initialised;
        current = &logoffCookieCache();
        resetCache();
    }
    ~ProcessCacheTest() override { current = nullptr; }

    static void resetCache() {
        logoffCookieCache().forgetAll();
        cleanupThreadRuns.store(0);
    }

    lctest::TraceCapture trace{"8"};
};

// A fixture with a cache of its own, initialised and empty, and the trace
// captured.
class CacheTest : public ::testing::Test {
  protected:
    CacheTest() { resetCache(); }
    ~CacheTest() override {
        current = nullptr;
        failingLaunch = nullptr;
    }

    // A new cache in place of the test's, with a new start and salt.
    void resetCache(const LogoffCookieCacheHooks& hooks = testHooks()) {
        current = nullptr;
        cache_.reset();
        cleanupThreadRuns.store(0);
        cache_ = std::make_unique<LogoffCookieCache>(hooks);
        cache_->init();
        current = cache_.get();
    }

    // Trace lines at TRACE_DETAIL, for the life of each test.
    lctest::TraceCapture trace{"8"};
    std::unique_ptr<LogoffCookieCache> cache_;
};

}  // namespace cachetest
