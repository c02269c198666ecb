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

// One asking of the sentinels, and what it found.
struct Discovery {
    ShareConnectOutcome ask(const ShareEndpoint& config, std::chrono::seconds timeout = 2s) {
        return connectThroughSentinels(link, config, timeout, primary, error, failingOver);
    }

    RedisLink link;
    ShareEndpoint primary;
    std::string error;
    bool failingOver = false;
};

TEST(SentinelDiscovery, FindsThePrimaryBeforeAndAfterAFailoverSkippingADeadSentinel) {
    SentinelSet set;
    ASSERT_TRUE(set.start());
    std::string url = set.endpoint();
    url.insert(std::string("sentinel://").size(), std::string(kDeadSentinel) + ",");
    ShareEndpoint config = endpointOf(url);
    ASSERT_EQ(config.sentinels.size(), 4u);

    Discovery found;
    ASSERT_EQ(found.ask(config), kConnected) << found.error;
    EXPECT_EQ(found.primary.port, set.nodePort(0));
    EXPECT_FALSE(found.primary.viaSentinel());
    EXPECT_TRUE(found.link.connected());

    // The replica answers, but is no place to write.
    std::string error;
    ShareEndpoint replica = found.primary;
    replica.port = set.nodePort(1);
    RedisLink toReplica;
    ASSERT_EQ(toReplica.connect(replica, 2s, error), kConnected) << error;
    EXPECT_EQ(reachedPrimary(toReplica, error), ShareConnectOutcome::Unreachable);
    EXPECT_NE(error.find("replica"), std::string::npos) << error;
    EXPECT_FALSE(toReplica.connected());

    set.killNode(0);
    ASSERT_TRUE(set.waitForPrimary(1, 60s));
    ASSERT_EQ(found.ask(config), kConnected) << found.error;
    EXPECT_EQ(found.primary.port, set.nodePort(1));
}

TEST(SentinelDiscovery, NoSentinelAnsweringIsSaidForEach) {
    ShareEndpoint config =
        endpointOf(std::string("sentinel://") + kDeadSentinel + "," + kDeadSentinel + "/lcfarm");
    Discovery found;
    EXPECT_EQ(found.ask(config, 1s), ShareConnectOutcome::Unreachable);
    EXPECT_FALSE(found.failingOver);  // nobody answered: no failover known of
    EXPECT_FALSE(found.link.connected());
    EXPECT_NE(found.error.find("no sentinel named a reachable primary lcfarm"), std::string::npos)
        << found.error;
    EXPECT_NE(found.error.find("sentinel 127.0.0.1:1: connect"), std::string::npos) << found.error;
}

TEST(SentinelDiscovery, SentinelsThatNeedAPasswordAreAskedWithTheirOwn) {
    lctest::SentinelSetOptions options;
    options.sentinelConfig = {"requirepass watch-secret", "sentinel sentinel-pass watch-secret"};
    SentinelSet set(options);
    set.setTestAuth({}, {"AUTH", "watch-secret"});
    ASSERT_TRUE(set.start());
    ShareEndpoint config = endpointOf(set.endpoint());

    Discovery found;
    EXPECT_EQ(found.ask(config), ShareConnectOutcome::Refused);
    EXPECT_EQ(found.error.rfind("NOAUTH", 0), 0u) << found.error;

    config.sentinelPassword = "watch-secret";
    config.hasSentinelPassword = true;
    ASSERT_EQ(found.ask(config), kConnected) << found.error;
    EXPECT_EQ(found.primary.port, set.nodePort(0));
    EXPECT_FALSE(found.primary.hasPassword);  // the data node takes its own credentials, none here
}

}  // namespace
