// The replicas an operator lists, against real servers: the receiver reads
// one only while it follows its primary, and the primary otherwise.
#include <gtest/gtest.h>

#include "share/readEndpoints.h"
#include "tests/support/redisServer.h"
#include "tests/support/waitUntil.h"

namespace {

using namespace std::chrono_literals;
using lctest::RedisServer;
using lctest::Reply;

constexpr auto kTimeout = 2s;

bool linkUp(RedisServer& replica) {
    Reply info = replica.command({"INFO", "replication"});
    return info && info->type == REDIS_REPLY_STRING &&
           std::string(info->str, info->len).find("master_link_status:up") != std::string::npos;
}

TEST(ReadEndpointsListed, AReplicaIsReadOnlyWhileItFollowsItsPrimary) {
    RedisServer primary;
    primary.alsoListenOnTcp();
    RedisServer replica;
    ASSERT_TRUE(primary.start());
    ASSERT_TRUE(replica.start());
    // Its primary is nowhere: the link stays down.
    ASSERT_TRUE(replica.command({"REPLICAOF", "127.0.0.1", "1"}));

    ShareEndpoint config;
    std::string error;
    ASSERT_TRUE(parseShareEndpoint(primary.endpoint(), config, error)) << error;
    ReadAddress listed;
    listed.unixSocket = true;
    listed.path = replica.socketPath();
    config.replicas = {listed};
    config.readFromReplicas = true;

    ReadEndpoints reads("web-1");
    RedisLink link;
    bool failingOver = false;
    ASSERT_EQ(reads.connect(link, config, kTimeout, error, failingOver),
              ShareConnectOutcome::Connected)
        << error;
    EXPECT_FALSE(reads.spot().replica);
    EXPECT_EQ(reads.spot().address, "unix:" + primary.socketPath());
    std::string why;
    EXPECT_FALSE(reads.betterElsewhere(config, why)) << why;

    ASSERT_TRUE(replica.command({"REPLICAOF", "127.0.0.1", std::to_string(primary.port())}));
    ASSERT_TRUE(lctest::waitUntil([&] { return linkUp(replica); }, 20s, 10ms));
    EXPECT_TRUE(reads.betterElsewhere(config, why));
    EXPECT_NE(why.find("replica unix:" + replica.socketPath() + " is fit to read"),
              std::string::npos)
        << why;
    ASSERT_EQ(reads.connect(link, config, kTimeout, error, failingOver),
              ShareConnectOutcome::Connected)
        << error;
    EXPECT_TRUE(reads.spot().replica);
    EXPECT_EQ(reads.spot().address, "unix:" + replica.socketPath());
    EXPECT_FALSE(reads.betterElsewhere(config, why)) << why;

    // What the receiver sees every few seconds: the primary's history...
    RedisInstance onReplica;
    ASSERT_EQ(readInstance(link, onReplica, error), FactsOutcome::Answered) << error;
    EXPECT_TRUE(replicaFitToRead(onReplica, why)) << why;
    RedisLink toPrimary;
    ASSERT_EQ(toPrimary.connect(config, kTimeout, error), ShareConnectOutcome::Connected);
    RedisInstance onPrimary;
    ASSERT_EQ(readInstance(toPrimary, onPrimary, error), FactsOutcome::Answered) << error;
    EXPECT_EQ(onReplica.replicationId, onPrimary.replicationId);
    EXPECT_FALSE(instanceCallsForRewind({reads.spot().address, onReplica},
                                        {"unix:" + primary.socketPath(), onPrimary}, why))
        << why;
    // ...until it is promoted: no replica to read, and another history.
    ASSERT_TRUE(replica.command({"REPLICAOF", "NO", "ONE"}));
    RedisInstance promoted;
    ASSERT_EQ(readInstance(link, promoted, error), FactsOutcome::Answered) << error;
    EXPECT_FALSE(replicaFitToRead(promoted, why));
    EXPECT_TRUE(instanceCallsForRewind({reads.spot().address, onReplica},
                                       {reads.spot().address, promoted}, why));
    ASSERT_EQ(reads.connect(link, config, kTimeout, error, failingOver),
              ShareConnectOutcome::Connected);
    EXPECT_FALSE(reads.spot().replica);
}

}  // namespace
