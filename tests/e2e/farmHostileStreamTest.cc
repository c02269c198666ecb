// A writer to Redis without the farm secret who tries to exhaust a host's
// memory or to silence sharing: the host steps over what it cannot afford to
// read, comes back from a position in the far future, and still takes in a
// later genuine logoff, all within a bounded amount of memory.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/farmCookies.h"
#include "tests/support/metricsReader.h"
#include "tests/support/redisServer.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

constexpr auto kPatience = 60s;
// What a worker may hold for reading the stream, over what it held before.
constexpr long kReadingBoundKb = 32 * 1024;
// Room for the worker's threads and their arenas, far from what the hostile
// entries would cost if they were read.
constexpr std::size_t kAddressSpaceKb = 512 * 1024;

std::vector<std::string> entryOfFields(const std::string& id, int fields) {
    std::vector<std::string> xadd = {"XADD", "tests:logoffs", id};
    xadd.reserve(3 + 2 * static_cast<std::size_t>(fields));
    for (int i = 0; i < fields; ++i) {
        xadd.push_back("f" + std::to_string(i));
        xadd.push_back("v");
    }
    return xadd;
}

TEST(FarmHostileStream, HostStepsOverWhatItCannotAffordAndTakesTheNextGenuineLogoff) {
    HostTestLock lock;
    RedisServer redis;
    ASSERT_TRUE(redis.start());
    std::string secret = writeSecretFile(redis.directory(), kFarmSecret, 0600);
    std::string metrics = redis.directory() + "/b.prom";
    EnvChanges sharing = {{"VOKLOGOFFSHARE", redis.endpoint()},
                          {"VOKLOGOFFSHAREKEY", secret},
                          {"VOKLOGOFFSHARESTREAM", "tests:logoffs"}};
    FarmHost a("host A");
    FarmHost b("host B");
    EnvChanges withMetrics = sharing;
    withMetrics.push_back({"VOKLOGOFFMETRICS", metrics});
    b.limitAddressSpace(kAddressSpaceKb);
    ASSERT_TRUE(a.start(sharing));
    ASSERT_TRUE(b.start(withMetrics));
    CookieFields before = freshCookie("genuine-before");
    logOff(a, before);
    ASSERT_TRUE(refusedWithin(b, before, kPatience));
    pid_t worker = b.workerPid();
    ASSERT_GT(worker, 0);
    long baselineKb = processStatusKb(worker, "VmHWM");

    // Six entries of a million fields in one transaction, then one field of
    // 200 MB.
    ASSERT_TRUE(redis.command({"MULTI"}));
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(redis.command(entryOfFields("*", 1'000'000)));
    }
    Reply done = redis.command({"EXEC"});
    ASSERT_TRUE(done);
    ASSERT_EQ(done->type, REDIS_REPLY_ARRAY);
    ASSERT_TRUE(redis.command({"XADD", "tests:logoffs", "*", "f", std::string(200 << 20, 'x')}));

    ParsedMetrics parsed;
    ASSERT_TRUE(waitUntil(
        [&] {
            parsed = parseMetricsFile(metrics);
            return parsed.value("voklogoffcookie_share_dropped_total{reason=\"malformed\"}") >= 7;
        },
        kPatience));

    // An entry from the far future, then the stream deleted.
    ASSERT_TRUE(redis.command({"XADD", "tests:logoffs", "4102444800000-0", "f", "v"}));
    ASSERT_TRUE(b.waitForTrace("Entry 4102444800000-0 dropped: malformed", kPatience));
    ASSERT_TRUE(redis.command({"DEL", "tests:logoffs"}));

    CookieFields after = freshCookie("genuine-after");
    auto sent = std::chrono::steady_clock::now();
    logOff(a, after);
    EXPECT_TRUE(refusedWithin(b, after, kPatience));
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    EXPECT_NE(b.readStderr().find("lies ahead of the stream"), std::string::npos);

    EXPECT_EQ(b.workerPid(), worker);  // the same worker, never ended
    long peakKb = processStatusKb(worker, "VmHWM");
    EXPECT_LT(peakKb - baselineKb, kReadingBoundKb);
    std::printf("worker peak resident: %ld kB before, %ld kB after; last logoff took %.1f s\n",
                baselineKb, peakKb, seconds);
    ASSERT_TRUE(waitUntil(
        [&] {
            parsed = parseMetricsFile(metrics);
            return parsed.value("voklogoffcookie_share_position_resets_total{}") >= 1;
        },
        kPatience));
    EXPECT_EQ(parsed.value("voklogoffcookie_share_dropped_total{reason=\"bad_hmac\"}"), 0.0);
}

}  // namespace
}  // namespace lctest
