// An insert that runs out of memory at any of its allocations leaves the
// cache sound: no freed cookie in the set, no cached cookie missing from the
// queue, and an earlier equal cookie still recorded.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>

#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCache.h"
#include "cache/logoffCookieCleanupThread.h"
#include "tests/cache/cacheTestSupport.h"
#include "tests/support/faultInjection.h"

namespace {

using cachetest::CookieFields;

std::int32_t farFuture() {
    return INT32_MAX - 1000;
}

class InsertAllocationFailureTest : public cachetest::CacheTest {};

TEST_F(InsertAllocationFailureTest, FailedInsertLeavesTheCacheSound) {
    // Longer than a string's own buffer, so the text takes an allocation too.
    CookieFields fields("a-cookie-text-longer-than-fifteen-bytes", "bytes", 60, 0);
    std::int32_t creation = cachetest::cache().startTime() + 100;
    auto add = [&](std::int32_t lastUse) {
        cachetest::cache().addToCache(fields.text, fields.bytes, lastUse, creation, 0,
                                      fields.attributes, 0);
    };

    bool completed = false;
    for (long granted = 0; !completed; ++granted) {
        ASSERT_LT(granted, 50) << "the insert never completed";
        resetCache();
        cachetest::cache().launchCleanupThreadOnce();  // launched before, not in the count
        add(creation);  // the equal cookie the failing insert replaces

        lctest::failAnyAllocationAfter(granted);
        try {
            add(creation + 1);
            completed = true;
        } catch (const std::bad_alloc&) {
        }
        lctest::disarmFaults();

        EXPECT_EQ(cachetest::cache().cookieIsCached(fields.text, fields.bytes, creation, 0,
                                                    fields.attributes),
                  1)
            << granted;
        auto queued = cachetest::queuedCookies(cachetest::cache());
        const LogoffCookie* cached = cachetest::findCached(cachetest::cache(), *queued.front());
        ASSERT_NE(std::find(queued.begin(), queued.end(), cached), queued.end())
            << "the set holds a cookie the queue does not: " << granted;
        EXPECT_EQ(cachetest::cachedCookieCount(cachetest::cache()), 1u) << granted;

        // A pass far in the future frees everything it holds.
        cachetest::cache().cleanupPass(farFuture);
        EXPECT_EQ(cachetest::cachedCookieCount(cachetest::cache()), 0u) << granted;
        EXPECT_TRUE(cachetest::queuedCookies(cachetest::cache()).empty()) << granted;
    }
}

TEST_F(InsertAllocationFailureTest, ReAddAllocatesOnlyTheRecordItBuildsBeforeTheLock) {
    // A text short enough for the string's own buffer: the record is one
    // allocation. Tracing off, so only the cache allocates.
    cachetest::QuietTrace quiet;
    CookieFields fields("short", "bytes", 60, 0);
    std::int32_t creation = cachetest::cache().startTime() + 100;
    auto allocationsOfAdd = [&](std::int32_t lastUse) {
        long before = lctest::allocationsMade();
        cachetest::cache().addToCache(fields.text, fields.bytes, lastUse, creation, 0,
                                      fields.attributes, 0);
        return lctest::allocationsMade() - before;
    };
    cachetest::cache().launchCleanupThreadOnce();  // launched before, not in the count

    // The first add also links the cookie into the queue and the set.
    EXPECT_GT(allocationsOfAdd(creation), 1);
    for (int i = 1; i <= 100; ++i) {
        ASSERT_EQ(allocationsOfAdd(creation + i), 1) << i;
    }
    EXPECT_EQ(cachetest::queuedCookies(cachetest::cache()).size(), 1u);
}

}  // namespace
