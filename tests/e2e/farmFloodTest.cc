// A flood of adds on one host of a farm: the logoffs it publishes count
// toward every other host's ceiling, and the host receiving them says which
// sending run brought them, a run the flooding host said is its own.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/farmCookies.h"
#include "tests/support/farmHost.h"
#include "tests/support/redisServer.h"

namespace lctest {
namespace {

constexpr auto kPatience = 30s;

// The run a host said it publishes as, from its standard error.
std::string publishedRun(const FarmHost& host) {
    const std::string mark = "This host publishes as run ";
    std::string err = host.readStderr();
    size_t at = err.find(mark);
    return at == std::string::npos ? std::string() : err.substr(at + mark.size(), 32);
}

TEST(FarmFlood, ReceivedLogoffsPassTheCeilingAndTheSendingRunIsNamed) {
    HostTestLock lock;
    RedisServer redis;
    ASSERT_TRUE(redis.start());
    EnvChanges sharing =
        sharingWith(redis.endpoint(), writeSecretFile(redis.directory(), kFarmSecret, 0600));
    FarmHost flooding("flooding host");
    FarmHost receiving("receiving host");
    ASSERT_TRUE(flooding.start(sharing));
    // A ceiling this small counts any received logoff as fast growth.
    EnvChanges small = sharing;
    small.emplace_back("VOKLOGOFFMAXCOOKIES", "100");
    ASSERT_TRUE(receiving.start(small));
    const std::string run = publishedRun(flooding);
    ASSERT_EQ(run.size(), 32u) << flooding.readStderr();

    for (int i = 0; i < 101; ++i) {
        logOff(flooding, freshCookie("flood-" + std::to_string(i)));
    }
    EXPECT_TRUE(receiving.waitForTrace(
        "logoffCookieCache_addReceivedLogoff() -- 100 records held reached the ceiling of 100",
        kPatience))
        << receiving.readTrace();
    std::string trace = receiving.readTrace();
    EXPECT_NE(trace.find("logoffCookieShare -- Received logoffs grow fast: "), std::string::npos);
    EXPECT_NE(trace.find(" from run " + run + "."), std::string::npos) << trace;
    // The flooding host's own ceiling was not reached.
    EXPECT_EQ(flooding.readStderr().find("reached the ceiling"), std::string::npos);
}

}  // namespace
}  // namespace lctest
