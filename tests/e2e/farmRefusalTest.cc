// Redis that refuses writes for a while (full memory, a replica during a
// failover): the logoffs made meanwhile stay queued and reach the other host
// once writes are accepted again, and every refusal is counted.
#include <gtest/gtest.h>

#include "tests/support/farmFixture.h"
#include "tests/support/metricsReader.h"

namespace lctest {
namespace {

constexpr auto kPatience = 60s;

using FarmRefusal = TwoHostFarm;

TEST_F(FarmRefusal, LogoffsRefusedByAFullOrReadOnlyRedisArriveOnceWritesAreAccepted) {
    std::string metrics = redis_.directory() + "/a.prom";
    ASSERT_TRUE(a_.start(sharingWithMetrics(metrics)));
    ASSERT_TRUE(b_.start(sharing()));

    ASSERT_TRUE(redis_.command({"CONFIG", "SET", "maxmemory-policy", "noeviction"}));
    ASSERT_TRUE(redis_.command({"CONFIG", "SET", "maxmemory", "1"}));
    CookieFields whileFull = freshCookie("logged-off-while-redis-is-full");
    logOff(a_, whileFull);
    ASSERT_TRUE(a_.waitForTrace("refuses publishing (OOM", kPatience));
    EXPECT_NE(a_.readStderr().find("nothing is dropped, retrying"), std::string::npos);

    // A replica of a primary that is gone, as in the middle of a failover.
    ASSERT_TRUE(redis_.command({"CONFIG", "SET", "maxmemory", "0"}));
    ASSERT_TRUE(redis_.command({"REPLICAOF", "127.0.0.1", "1"}));
    CookieFields whileReplica = freshCookie("logged-off-while-redis-is-a-replica");
    logOff(a_, whileReplica);
    ASSERT_TRUE(a_.waitForTrace("refuses publishing (READONLY", kPatience));
    EXPECT_EQ(query(b_, whileFull), 0);

    ASSERT_TRUE(redis_.command({"REPLICAOF", "NO", "ONE"}));
    EXPECT_TRUE(refusedWithin(b_, whileFull, kPatience));
    EXPECT_TRUE(refusedWithin(b_, whileReplica, kPatience));

    // Counted where they happened, and nothing dropped.
    ParsedMetrics parsed;
    EXPECT_TRUE(
        waitForSample(metrics, "voklogoffcookie_share_published_total{}", 2.0, kPatience, parsed));
    EXPECT_GE(parsed.value("voklogoffcookie_share_refusals_total{kind=\"passing\"}"), 2.0);
    EXPECT_EQ(parsed.value("voklogoffcookie_share_dropped_total{reason=\"queue_full\"}"), 0.0);
    EXPECT_EQ(parsed.value("voklogoffcookie_share_publishing_refused{}"), 0.0);
}

}  // namespace
}  // namespace lctest
