// Which primary a host tries first when the sentinels disagree: the one most
// of them name, so that a sentinel left behind by a failover (cut off with
// the old primary) does not keep its hosts writing there.
#include <gtest/gtest.h>

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

}  // namespace
