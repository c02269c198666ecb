// How farm sharing waits between tries and what it makes of Redis's refusals.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "share/redisRefusal.h"
#include "share/shareBackoff.h"
#include "share/shareLink.h"
#include "share/shareThreads.h"
#include "support/threads/RWRunnableImp.h"
#include "support/threads/RWThreadFunction.h"

namespace {

TEST(ShareBackoff, DoublesFromOneSecondUpToThirtyAndStartsAgainAfterASuccess) {
    ShareBackoff backoff;
    EXPECT_EQ(backoff.seconds(), 0);
    std::vector<int> pauses;
    for (int i = 0; i < 7; ++i) {
        pauses.push_back(backoff.failed());
    }
    EXPECT_EQ(pauses, (std::vector<int>{1, 2, 4, 8, 16, 30, 30}));
    backoff.succeeded();
    EXPECT_EQ(backoff.seconds(), 0);
    EXPECT_EQ(backoff.failed(), 1);
}

TEST(OutagePause, EachSecondWhileAFailoverIsYoungThenDoublingAndAnewAfterAConnection) {
    OutagePause pause;
    OutagePause::Clock::time_point start{};
    std::vector<int> pauses;
    for (int second : {0, 1, 30, 59}) {
        pauses.push_back(pause.failed(true, start + std::chrono::seconds(second)));
    }
    for (int second : {60, 62, 66, 74, 90, 120, 150}) {
        pauses.push_back(pause.failed(true, start + std::chrono::seconds(second)));
    }
    EXPECT_EQ(pauses, (std::vector<int>{1, 1, 1, 1, 1, 2, 4, 8, 16, 30, 30}));
    // An unreachable Redis with no failover under way doubles from the start.
    EXPECT_EQ(pause.failed(false, start + std::chrono::seconds(180)), 30);

    pause.ended();
    auto later = start + std::chrono::hours(1);
    EXPECT_EQ(pause.failed(true, later), 1);
    EXPECT_EQ(pause.failed(true, later + std::chrono::seconds(59)), 1)
        << "a new outage has its own first minute";
}

RWThreadFunction retryingHandle;
std::vector<int> pausesSeen;
bool connectedEver = false;

// On a thread of its own, as the connector asks its thread whether to end
// while it waits.
void retryUnreachableRedis() {
    ShareConnector connector("test", std::chrono::seconds(1), retryingHandle);
    RedisLink link;
    connectedEver |= connector.ensureConnected(link);
    pausesSeen.push_back(connector.pauseSeconds());
    connectedEver |= connector.ensureConnected(link);  // waits the second first
    pausesSeen.push_back(connector.pauseSeconds());
    connector.failedRead(link, "reply too large");
    pausesSeen.push_back(connector.pauseSeconds());
    connector.steppedOver();
    pausesSeen.push_back(connector.pauseSeconds());
}

TEST(ShareConnector, FailedConnectsAndReadsWaitTheBackoffASteppedOverEntryNone) {
    std::string error;
    ASSERT_TRUE(
        parseShareEndpoint("unix:/nonexistent/lc-no-redis.sock", shareCommon().endpoint, error))
        << error;
    retryingHandle = RWThreadFunction::make(retryUnreachableRedis);
    retryingHandle.start();
    retryingHandle.waitExecutionState(RWRunnableImp::kInitial);
    EXPECT_FALSE(connectedEver);
    EXPECT_EQ(pausesSeen, (std::vector<int>{1, 2, 4, 0}));
}

TEST(RedisRefusal, PassingReasonsAreToldFromThoseAnOperatorMustMend) {
    for (const char* reply : {"OOM command not allowed when used memory > 'maxmemory'.",
                              "READONLY You can't write against a read only replica.",
                              "LOADING Redis is loading the dataset in memory", "BUSY script",
                              "MASTERDOWN Link with MASTER is down", "TRYAGAIN", "NOREPLICAS x"}) {
        RedisRefusal refusal = classifyRedisError(reply, "k");
        EXPECT_EQ(refusal.kind, RefusalKind::Passing) << reply;
        EXPECT_TRUE(refusal.advice.empty());
    }
    struct Case {
        const char* reply;
        const char* code;
        const char* advice;
    };
    for (const Case& c : {Case{"NOAUTH Authentication required.", "NOAUTH", "password"},
                          Case{"WRONGPASS invalid username-password pair", "WRONGPASS", "password"},
                          Case{"NOPERM this user has no permissions to run the 'xadd' command",
                               "NOPERM", "ACL SETUSER"},
                          Case{"WRONGTYPE Operation against a key holding the wrong kind of value",
                               "WRONGTYPE", "VOKLOGOFFSHARESTREAM"},
                          Case{"ERR The stream has exhausted the last possible ID, unable to add "
                               "more items",
                               "EXHAUSTED", "DEL k"}}) {
        RedisRefusal refusal = classifyRedisError(c.reply, "k");
        EXPECT_EQ(refusal.kind, RefusalKind::NeedsOperator) << c.reply;
        EXPECT_EQ(refusal.code, c.code);
        EXPECT_NE(refusal.advice.find(c.advice), std::string::npos) << refusal.advice;
    }
    // Redis's text stays one line in a message.
    EXPECT_EQ(classifyRedisError("ERR a\nb", "k").text, "ERR a b");
}

}  // namespace
