// Redis that refuses writes for a while (full memory, a replica during a
// failover): the logoffs made meanwhile stay queued and reach the other host
// once writes are accepted again, and every refusal is counted.
#include <gtest/gtest.h>

#include "tests/support/farmCookies.h"
#include "tests/support/metricsReader.h"
#include "tests/support/redisServer.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

constexpr auto kPatience = 60s;

TEST(FarmRefusal, LogoffsRefusedByAFullOrReadOnlyRedisArriveOnceWritesAreAccepted) {
    HostTestLock lock;
    RedisServer redis;
    ASSERT_TRUE(redis.start());
    std::string secret = writeSecretFile(redis.directory(), kFarmSecret, 0600);
    std::string metrics = redis.directory() + "/a.prom";
    EnvChanges sharing = {{"VOKLOGOFFSHARE", redis.endpoint()},
                          {"VOKLOGOFFSHAREKEY", secret},
                          {"VOKLOGOFFSHARESTREAM", "tests:logoffs"}};
    FarmHost a("host A");
    FarmHost b("host B");
    EnvChanges withMetrics = sharing;
    withMetrics.push_back({"VOKLOGOFFMETRICS", metrics});
    ASSERT_TRUE(a.start(withMetrics));
    ASSERT_TRUE(b.start(sharing));

    ASSERT_TRUE(redis.command({"CONFIG", "SET", "maxmemory-policy", "noeviction"}));
    ASSERT_TRUE(redis.command({"CONFIG", "SET", "maxmemory", "1"}));
    CookieFields whileFull = freshCookie("logged-off-while-redis-is-full");
    logOff(a, whileFull);
    ASSERT_TRUE(a.waitForTrace("refuses publishing (OOM", kPatience));
    EXPECT_NE(a.readStderr().find("nothing is dropped, retrying"), std::string::npos);

    // A replica of a primary that is gone, as in the middle of a failover.
    ASSERT_TRUE(redis.command({"CONFIG", "SET", "maxmemory", "0"}));
    ASSERT_TRUE(redis.command({"REPLICAOF", "127.0.0.1", "1"}));
    CookieFields whileReplica = freshCookie("logged-off-while-redis-is-a-replica");
    logOff(a, whileReplica);
    ASSERT_TRUE(a.waitForTrace("refuses publishing (READONLY", kPatience));
    EXPECT_EQ(query(b, whileFull), 0);

    ASSERT_TRUE(redis.command({"REPLICAOF", "NO", "ONE"}));
    EXPECT_TRUE(refusedWithin(b, whileFull, kPatience));
    EXPECT_TRUE(refusedWithin(b, whileReplica, kPatience));

    // Counted where they happened, and nothing dropped.
    ParsedMetrics parsed;
    EXPECT_TRUE(waitUntil(
        [&] {
            parsed = parseMetricsFile(metrics);
            return parsed.value("voklogoffcookie_share_published_total{}") >= 2.0;
        },
        kPatience));
    EXPECT_GE(parsed.value("voklogoffcookie_share_refusals_total{kind=\"passing\"}"), 2.0);
    EXPECT_EQ(parsed.value("voklogoffcookie_share_dropped_total{reason=\"queue_full\"}"), 0.0);
    EXPECT_EQ(parsed.value("voklogoffcookie_share_publishing_refused{}"), 0.0);
}

}  // namespace
}  // namespace lctest
