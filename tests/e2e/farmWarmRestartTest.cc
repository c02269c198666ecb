// A host of a farm that restarts warm: it reads the stream on from where it
// stopped, so logoffs made elsewhere meanwhile arrive, and it publishes what
// it could not publish before its stop.
#include <gtest/gtest.h>

#include "tests/support/farmFixture.h"
#include "tests/support/rawRequests.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

constexpr auto kPatience = 30s;

class FarmWarmRestart : public TwoHostFarm {
  protected:
    // Host A keeps its state in a directory of the test's.
    EnvChanges sharingWithState() const {
        EnvChanges env = sharing();
        env.emplace_back("VOKLOGOFFSTATE", redis_.directory() + "/a.state");
        return env;
    }
    long long streamLength() {
        Reply length = redis_.command({"XLEN", "tests:logoffs"});
        return length && length->type == REDIS_REPLY_INTEGER ? length->integer : -1;
    }
    // A's one logoff kept at its stop is queued again once sharing runs,
    // which may be just after the socket exists, and reaches B.
    void expectQueuedAgainAndDelivered(const CookieFields& queued) {
        EXPECT_TRUE(waitUntil(
            [this] {
                return a_.readStderr().find(
                           "queued for the farm again: 1 of 1 logoffs saved at the stop") !=
                       std::string::npos;
            },
            kPatience))
            << a_.readStderr();
        EXPECT_TRUE(refusedWithin(b_, queued, kPatience));
    }
    // Both hosts up, A started with `env`; then Redis goes away, A records
    // `queued` (a fresh cookie of `text`) and A's worker stops.
    void logOffWhileRedisIsAwayAndStop(const EnvChanges& env, const std::string& text,
                                       CookieFields& queued) {
        ASSERT_TRUE(a_.start(env));
        ASSERT_TRUE(b_.start(sharing()));
        redis_.stop();
        queued = freshCookie(text);
        logOff(a_, queued);
        ASSERT_TRUE(a_.stopWorker(20s));
    }
    void restartRedisAndA(const EnvChanges& env) {
        ASSERT_TRUE(redis_.start());
        ASSERT_TRUE(a_.start(env));
    }
};

TEST_F(FarmWarmRestart, LogoffMadeElsewhereWhileStoppedIsRefusedAfterTheWarmStart) {
    ASSERT_TRUE(a_.start(sharingWithState()));
    ASSERT_TRUE(b_.start(sharing()));
    CookieFields before = freshCookie("logged-off-on-b-before-a-stopped");
    logOff(b_, before);
    ASSERT_TRUE(refusedWithin(a_, before, kPatience));

    ASSERT_TRUE(a_.stopWorker(20s));
    CookieFields during = freshCookie("logged-off-on-b-while-a-was-stopped");
    logOff(b_, during);
    ASSERT_TRUE(waitUntil([this] { return streamLength() == 2; }, kPatience));
    ASSERT_TRUE(a_.start(sharingWithState()));

    EXPECT_NE(a_.readStderr().find("restarted warm: 0 cookies, 1 farm logoffs kept"),
              std::string::npos)
        << a_.readStderr();
    EXPECT_EQ(ask(a_.socketPath(), queryPayload(before)), 1) << "kept in the state";
    EXPECT_TRUE(refusedWithin(a_, during, kPatience));
}

TEST_F(FarmWarmRestart, LogoffQueuedWhileRedisWasAwayAtTheStopReachesTheFarmAfterTheRestart) {
    CookieFields queued;
    ASSERT_NO_FATAL_FAILURE(logOffWhileRedisIsAwayAndStop(
        sharingWithState(), "queued-on-a-while-redis-was-away", queued));
    EXPECT_NE(a_.readStderr().find("1 queued for the farm"), std::string::npos) << a_.readStderr();
    ASSERT_NO_FATAL_FAILURE(restartRedisAndA(sharingWithState()));

    expectQueuedAgainAndDelivered(queued);
}

TEST_F(FarmWarmRestart, LogoffQueuedAtAStopWithoutStateIsKeptAndPublishedAtTheNextStart) {
    CookieFields queued;
    ASSERT_NO_FATAL_FAILURE(
        logOffWhileRedisIsAwayAndStop(sharing(), "queued-on-a-without-a-state-file", queued));
    EXPECT_NE(a_.readStderr().find("kept 1 logoffs not yet published to the farm in"),
              std::string::npos)
        << a_.readStderr();
    ASSERT_NO_FATAL_FAILURE(restartRedisAndA(sharing()));

    expectQueuedAgainAndDelivered(queued);
}

TEST_F(FarmWarmRestart, LastMinutesLogoffsArePublishedAgainAfterARestartRedisLostThemDuring) {
    ASSERT_TRUE(a_.start(sharingWithState()));
    CookieFields published = freshCookie("published-by-a-just-before-its-stop");
    logOff(a_, published);
    ASSERT_TRUE(waitUntil([this] { return streamLength() == 1; }, kPatience));
    ASSERT_TRUE(a_.stopWorker(20s));
    // Restarted empty while A was stopped: the entry is gone for the farm.
    redis_.stop();
    ASSERT_TRUE(redis_.start());

    ASSERT_TRUE(a_.start(sharingWithState()));
    ASSERT_TRUE(b_.start(sharing()));
    EXPECT_TRUE(refusedWithin(b_, published, kPatience));
}

}  // namespace
}  // namespace lctest
