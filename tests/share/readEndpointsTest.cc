// Which node a receiver reads, and when moving between nodes calls for
// reading again from before its position.
#include "share/readEndpoints.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

TEST(ReadPreference, EachHostKeepsItsReplicaTheFarmSpreadsAndOnlyAGoneReplicasHostsMove) {
    const std::vector<std::string> three = {"10.0.0.11:6379", "10.0.0.12:6379", "10.0.0.13:6379"};
    const std::vector<std::string> two = {"10.0.0.11:6379", "10.0.0.13:6379"};
    EXPECT_EQ(readPreference("web-1", three), readPreference("web-1", three));
    std::map<std::string, int> first;
    int moved = 0;
    constexpr int kHosts = 3000;
    for (int i = 0; i < kHosts; ++i) {
        std::string host = "web-" + std::to_string(i);
        std::vector<std::size_t> order = readPreference(host, three);
        ASSERT_EQ(order.size(), 3u);
        const std::string& chosen = three[order.front()];
        ++first[chosen];
        // Without 10.0.0.12 its hosts move, and nobody else does.
        const std::string& without = two[readPreference(host, two).front()];
        if (chosen != "10.0.0.12:6379") {
            EXPECT_EQ(without, chosen) << host;
        } else {
            ++moved;
        }
    }
    for (const std::string& replica : three) {
        EXPECT_GT(first[replica], kHosts / 3 * 8 / 10) << replica;
        EXPECT_LT(first[replica], kHosts / 3 * 12 / 10) << replica;
    }
    EXPECT_EQ(moved, first["10.0.0.12:6379"]);
    EXPECT_TRUE(readPreference("web-1", {}).empty());
}

RedisInstance replica(bool linkUp, long long lastIo, const std::string& replid = "r1",
                      const std::string& runId = "a") {
    RedisInstance instance;
    instance.runId = runId;
    instance.replicationId = replid;
    instance.role = "slave";
    instance.linkUp = linkUp;
    instance.lastIoSeconds = lastIo;
    return instance;
}

RedisInstance primary(const std::string& replid, const std::string& runId) {
    RedisInstance instance;
    instance.runId = runId;
    instance.replicationId = replid;
    instance.role = "master";
    return instance;
}

TEST(ReplicaFitToRead, OnlyAReplicaThatHeardFromItsPrimaryLately) {
    std::string why;
    EXPECT_TRUE(replicaFitToRead(replica(true, 0), why));
    EXPECT_TRUE(replicaFitToRead(replica(true, kShareReplicaSilenceLimitSeconds), why));
    EXPECT_FALSE(replicaFitToRead(replica(true, kShareReplicaSilenceLimitSeconds + 1), why));
    EXPECT_NE(why.find("not heard from the primary for 16 s"), std::string::npos) << why;
    EXPECT_FALSE(replicaFitToRead(replica(false, -1), why));
    EXPECT_NE(why.find("link to the primary is down"), std::string::npos) << why;
    EXPECT_FALSE(replicaFitToRead(replica(true, -1), why));
    EXPECT_FALSE(replicaFitToRead(primary("r2", "a"), why));
    EXPECT_NE(why.find("no longer a replica but a master"), std::string::npos) << why;
    EXPECT_FALSE(replicaFitToRead(RedisInstance{}, why));
}

TEST(ReadInstanceRule, MovesWithinOneReplicationIdNeverRewindAnotherHistoryAlwaysDoes) {
    std::string why;
    auto rewinds = [&](const ReadInstance& before, const ReadInstance& now) {
        why.clear();
        return instanceCallsForRewind(before, now, why);
    };
    const ReadInstance onA{"10.0.0.12:6379", replica(true, 1, "r1", "run-a")};
    // Another replica of the same primary, or that primary: the same entries
    // under the same ids, some there later.
    EXPECT_FALSE(rewinds(onA, {"10.0.0.13:6379", replica(true, 1, "r1", "run-b")}));
    EXPECT_FALSE(rewinds(onA, {"10.0.0.11:6379", primary("r1", "run-p")}));
    EXPECT_FALSE(rewinds({"10.0.0.11:6379", primary("r1", "run-p")}, onA));
    // The same replica restarted empty and synced again from its primary.
    EXPECT_FALSE(rewinds(onA, {"10.0.0.12:6379", replica(true, 0, "r1", "run-a2")}));
    // Promoted, or made the replica of another primary: another history.
    EXPECT_TRUE(rewinds(onA, {"10.0.0.12:6379", primary("r2", "run-a")}));
    EXPECT_EQ(why, "another replication id");
    EXPECT_TRUE(rewinds(onA, {"10.0.0.13:6379", replica(true, 1, "r2", "run-b")}));
    // A primary restarted in place may have lost its last moments.
    EXPECT_TRUE(rewinds({"10.0.0.11:6379", primary("r1", "run-p")},
                        {"10.0.0.11:6379", primary("r1", "run-p2")}));
    EXPECT_EQ(why, "another run_id");
    // Without replication ids, another process is another history.
    RedisInstance bare;
    bare.runId = "run-x";
    RedisInstance other = bare;
    other.runId = "run-y";
    EXPECT_TRUE(rewinds({"a", bare}, {"b", other}));
    EXPECT_FALSE(rewinds({"a", bare}, {"b", bare}));

    // A replica's ids stand for its data only while its link is up: while
    // it syncs it serves what it held before.
    EXPECT_TRUE(instanceCounts(replica(true, 3)));
    EXPECT_FALSE(instanceCounts(replica(false, -1)));
    EXPECT_TRUE(instanceCounts(primary("r1", "p")));
    EXPECT_FALSE(instanceCounts(RedisInstance{}));
}

}  // namespace
