// Finding the primary through real sentinels, before and after they fail
// over to the replica.
#include "share/sentinelDiscovery.h"

#include <gtest/gtest.h>

#include "tests/support/sentinelSet.h"

namespace {

using namespace std::chrono_literals;
using lctest::SentinelSet;

// Nothing listens on port 1 of this machine: a sentinel that does not answer.
constexpr const char* kDeadSentinel = "127.0.0.1:1";
constexpr ShareConnectOutcome kConnected = ShareConnectOutcome::Connected;

ShareEndpoint endpointOf(const std::string& text) {
    ShareEndpoint endpoint;
    std::string error;
    EXPECT_TRUE(parseShareEndpoint(text, endpoint, error)) << error;
    return endpoint;
}

TEST(SentinelDiscovery, FindsThePrimaryBeforeAndAfterAFailoverSkippingADeadSentinel) {
    SentinelSet set;
    ASSERT_TRUE(set.start());
    std::string url = set.endpoint();
    url.insert(std::string("sentinel://").size(), std::string(kDeadSentinel) + ",");
    ShareEndpoint config = endpointOf(url);
    ASSERT_EQ(config.sentinels.size(), 4u);

    RedisLink link;
    ShareEndpoint primary;
    std::string error;
    bool failingOver = false;
    ASSERT_EQ(connectThroughSentinels(link, config, 2s, primary, error, failingOver), kConnected)
        << error;
    EXPECT_EQ(primary.port, set.nodePort(0));
    EXPECT_FALSE(primary.viaSentinel());
    EXPECT_TRUE(link.connected());

    // The replica answers, but is no place to write.
    ShareEndpoint replica = primary;
    replica.port = set.nodePort(1);
    RedisLink toReplica;
    ASSERT_EQ(toReplica.connect(replica, 2s, error), kConnected) << error;
    EXPECT_EQ(reachedPrimary(toReplica, error), ShareConnectOutcome::Unreachable);
    EXPECT_NE(error.find("replica"), std::string::npos) << error;
    EXPECT_FALSE(toReplica.connected());

    set.killNode(0);
    ASSERT_TRUE(set.waitForPrimary(1, 60s));
    ASSERT_EQ(connectThroughSentinels(link, config, 2s, primary, error, failingOver), kConnected)
        << error;
    EXPECT_EQ(primary.port, set.nodePort(1));
}

TEST(SentinelDiscovery, NoSentinelAnsweringIsSaidForEach) {
    ShareEndpoint config =
        endpointOf(std::string("sentinel://") + kDeadSentinel + "," + kDeadSentinel + "/lcfarm");
    RedisLink link;
    ShareEndpoint primary;
    std::string error;
    bool failingOver = false;
    EXPECT_EQ(connectThroughSentinels(link, config, 1s, primary, error, failingOver),
              ShareConnectOutcome::Unreachable);
    EXPECT_FALSE(failingOver);  // nobody answered: no failover known of
    EXPECT_FALSE(link.connected());
    EXPECT_NE(error.find("no sentinel named a reachable primary lcfarm"), std::string::npos)
        << error;
    EXPECT_NE(error.find("sentinel 127.0.0.1:1: connect"), std::string::npos) << error;
}

TEST(SentinelDiscovery, SentinelsThatNeedAPasswordAreAskedWithTheirOwn) {
    lctest::SentinelSetOptions options;
    options.sentinelConfig = {"requirepass watch-secret", "sentinel sentinel-pass watch-secret"};
    SentinelSet set(options);
    set.setTestAuth({}, {"AUTH", "watch-secret"});
    ASSERT_TRUE(set.start());
    ShareEndpoint config = endpointOf(set.endpoint());

    RedisLink link;
    ShareEndpoint primary;
    std::string error;
    bool failingOver = false;
    EXPECT_EQ(connectThroughSentinels(link, config, 2s, primary, error, failingOver),
              ShareConnectOutcome::Refused);
    EXPECT_EQ(error.rfind("NOAUTH", 0), 0u) << error;

    config.sentinelPassword = "watch-secret";
    config.hasSentinelPassword = true;
    ASSERT_EQ(connectThroughSentinels(link, config, 2s, primary, error, failingOver), kConnected)
        << error;
    EXPECT_EQ(primary.port, set.nodePort(0));
    EXPECT_FALSE(primary.hasPassword);  // the data node takes its own credentials, none here
}

}  // namespace
