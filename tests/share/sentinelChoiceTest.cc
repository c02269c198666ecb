// Which primary a host tries first when the sentinels disagree: the one most
// of them name, so that a sentinel left behind by a failover (cut off with
// the old primary) does not keep its hosts writing there.
#include <gtest/gtest.h>

#include <memory>

#include "share/sentinelDiscovery.h"

namespace {

SentinelAnswer named(const std::string& host, int port) {
    return SentinelAnswer{host, port, ShareEndpoint{}};
}

TEST(SentinelChoice, TheAddressMostSentinelsNameComesFirstEachOnce) {
    // The sentinel asked first names the old primary; two name the new one.
    std::vector<SentinelAnswer> answers = {named("10.0.0.11", 6379), named("10.0.0.12", 6379),
                                           named("10.0.0.12", 6379)};
    EXPECT_EQ(rankSentinelAnswers(answers), (std::vector<std::size_t>{1, 0}));

    // The port tells addresses apart too; a tie keeps the order answered.
    answers = {named("10.0.0.11", 6379), named("10.0.0.11", 6380)};
    EXPECT_EQ(rankSentinelAnswers(answers), (std::vector<std::size_t>{0, 1}));
    answers = {named("10.0.0.11", 6380), named("10.0.0.13", 6379), named("10.0.0.11", 6380),
               named("10.0.0.13", 6379), named("10.0.0.13", 6379)};
    EXPECT_EQ(rankSentinelAnswers(answers), (std::vector<std::size_t>{1, 0}));

    EXPECT_TRUE(rankSentinelAnswers({}).empty());
}

// The reply of SENTINEL REPLICAS as a sentinel sends it, read by hiredis.
struct ReplyOf {
    explicit ReplyOf(const std::string& wire) {
        redisReader* reader = redisReaderCreate();
        redisReaderFeed(reader, wire.data(), wire.size());
        void* out = nullptr;
        EXPECT_EQ(redisReaderGetReply(reader, &out), REDIS_OK);
        reply.reset(static_cast<redisReply*>(out));
        redisReaderFree(reader);
    }
    RedisReply reply;
};

std::string bulk(const std::string& text) {
    return "$" + std::to_string(text.size()) + "\r\n" + text + "\r\n";
}

std::string replicaFields(const std::string& ip, const std::string& port, const std::string& flags,
                          const std::string& link) {
    return "*10\r\n" + bulk("name") + bulk(ip + ":" + port) + bulk("ip") + bulk(ip) + bulk("port") +
           bulk(port) + bulk("flags") + bulk(flags) + bulk("master-link-status") + bulk(link);
}

TEST(SentinelChoice, ReplicasListedAreHealthyOnlyWhenNothingIsFlagged) {
    ReplyOf listed("*4\r\n" + replicaFields("10.0.0.12", "6379", "slave", "ok") +
                   replicaFields("10.0.0.13", "6379", "s_down,slave,disconnected", "err") +
                   replicaFields("10.0.0.14", "6379", "slave", "err") +
                   replicaFields("10.0.0.15", "no port", "slave", "ok"));
    std::vector<SentinelReplica> replicas = parseSentinelReplicas(listed.reply.get());
    ASSERT_EQ(replicas.size(), 3u);  // the last has no port
    EXPECT_EQ(replicas[0].host, "10.0.0.12");
    EXPECT_EQ(replicas[0].port, 6379);
    EXPECT_TRUE(replicas[0].healthy());
    EXPECT_FALSE(replicas[1].healthy());  // down, and disconnected from the sentinel
    EXPECT_FALSE(replicas[2].healthy());  // cut off from its primary
    ReplyOf none("*0\r\n");
    EXPECT_TRUE(parseSentinelReplicas(none.reply.get()).empty());
    EXPECT_TRUE(parseSentinelReplicas(nullptr).empty());
}

}  // namespace
