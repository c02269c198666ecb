// Two hosts of a farm sharing one Redis: each a real service in namespaces
// of its own, Redis a real redis-server that the tests stop and restart.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstring>
#include <ctime>
#include <fstream>
#include <thread>

#include "cache/farmLogoff.h"
#include "share/shareEntry.h"
#include "tests/support/farmCookies.h"
#include "tests/support/farmEntries.h"
#include "tests/support/farmFixture.h"
#include "tests/support/farmHost.h"
#include "tests/support/rawRequests.h"
#include "tests/support/redisServer.h"
#include "tests/support/serviceProcess.h"

namespace lctest {
namespace {

// Long enough for a retry after an outage (1, 2, 4 s...), short enough to fail.
constexpr auto kPatience = 30s;

class FarmSharing : public TwoHostFarm {
  protected:
    bool startBoth() { return a_.start(sharing()) && b_.start(sharing()); }

    Reply streamEntries() { return redis_.command({"XRANGE", "tests:logoffs", "-", "+"}); }
};

TEST_F(FarmSharing, LogoffOnOneHostIsRefusedOnTheOther) {
    ASSERT_TRUE(startBoth());
    CookieFields cookie = freshCookie("shared-logoff");
    ASSERT_EQ(query(b_, cookie), 0);

    logOff(a_, cookie);
    EXPECT_TRUE(refusedWithin(b_, cookie, kPatience));
    // Another cookie of the same text is another cookie.
    CookieFields other = cookie;
    other.bytes = "other-bytes";
    EXPECT_EQ(query(b_, other), 0);
}

TEST_F(FarmSharing, StreamHoldsNoCookieText) {
    ASSERT_TRUE(startBoth());
    CookieFields cookie = freshCookie("secret-session-text");
    logOff(a_, cookie);
    ASSERT_TRUE(refusedWithin(b_, cookie, kPatience));

    Reply entries = streamEntries();
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->type, REDIS_REPLY_ARRAY);
    ASSERT_EQ(entries->elements, 1u);
    const redisReply* fields = entries->element[0]->element[1];
    ASSERT_EQ(fields->elements, 2 * kShareEntryFields);
    for (size_t i = 0; i < fields->elements; ++i) {
        std::string value(fields->element[i]->str, fields->element[i]->len);
        EXPECT_EQ(value.find("secret-session"), std::string::npos) << value;
        EXPECT_EQ(value.find("bytes"), std::string::npos) << value;
    }
}

TEST_F(FarmSharing, EntryNotSignedWithTheFarmSecretIsIgnored) {
    ASSERT_TRUE(startBoth());
    // A writer to Redis who knows the format but not the secret: the right
    // identity (as if it had the cookie and the secret for that) under a
    // wrong MAC key.
    CookieFields forged = freshCookie("forged-logoff");
    char text[64] = {};
    char bytes[64] = {};
    std::memcpy(text, forged.text.data(), forged.text.size());
    std::memcpy(bytes, forged.bytes.data(), forged.bytes.size());
    FarmKey farmKey(reinterpret_cast<const uint8_t*>(kFarmSecret.data()), kFarmSecret.size());
    const std::string wrong = "not the farm secret, but just as long!!!!";
    FarmKey wrongKey(reinterpret_cast<const uint8_t*>(wrong.data()), wrong.size());
    FarmLogoff logoff;
    computeFarmIdentity(farmKey, text, bytes, forged.creationTime, logoff.identity);
    logoff.times.creationTime = forged.creationTime;
    logoff.times.maxLifetimeMinutes = 60;
    ASSERT_TRUE(redis_.command(xaddOfLogoff("tests:logoffs", wrongKey, logoff)));

    // The stream is read in order: once a later genuine logoff is refused,
    // the forged one has been judged.
    ASSERT_TRUE(sharedWithin(a_, b_, "genuine-after-forged", kPatience));
    EXPECT_EQ(query(b_, forged), 0);
    EXPECT_NE(b_.readTrace().find("dropped: not signed with the farm secret"), std::string::npos);
}

TEST_F(FarmSharing, HostThatCannotReachRedisAtStartCatchesUp) {
    redis_.stop();
    ASSERT_TRUE(startBoth());
    EXPECT_TRUE(b_.waitForTrace("unreachable", kPatience));
    EXPECT_NE(b_.readStderr().find("serving from the local cache and retrying"), std::string::npos);
    // Served from its own cache meanwhile; A keeps its logoff queued.
    CookieFields cookie = freshCookie("logged-off-while-redis-away");
    logOff(a_, cookie);
    EXPECT_EQ(query(a_, cookie), 1);
    EXPECT_EQ(query(b_, cookie), 0);

    ASSERT_TRUE(redis_.start());
    EXPECT_TRUE(refusedWithin(b_, cookie, kPatience));
}

TEST_F(FarmSharing, RedisRestartedEmptyLosesNothingQueuedAndBothHostsCarryOn) {
    ASSERT_TRUE(startBoth());
    CookieFields before = freshCookie("before-restart");
    logOff(a_, before);
    ASSERT_TRUE(refusedWithin(b_, before, kPatience));

    redis_.stop();
    CookieFields queued = freshCookie("queued-during-restart");
    logOff(a_, queued);
    EXPECT_TRUE(a_.waitForTrace("publisher: connection lost", kPatience));
    ASSERT_TRUE(redis_.start());

    EXPECT_TRUE(refusedWithin(b_, queued, kPatience));
    CookieFields fromB = freshCookie("from-b-after-restart");
    logOff(b_, fromB);
    EXPECT_TRUE(refusedWithin(a_, fromB, kPatience));
    // What was received before the restart stays: the cache is in memory.
    EXPECT_EQ(query(b_, before), 1);
}

TEST_F(FarmSharing, HostFindingTheStreamTrimmedPastItWarns) {
    // Two entries kept to one: the stream has lost one, and its first entry
    // is newer than where a host starting now begins to read.
    for (const char* n : {"1", "2"}) {
        ASSERT_TRUE(redis_.command({"XADD", "tests:logoffs", "MAXLEN", "1", "*", "n", n}));
    }
    ASSERT_TRUE(b_.start(sharing()));
    EXPECT_TRUE(b_.waitForTrace("logoffs of other hosts may have been missed", kPatience));
}

// Configuration is read by the launcher: these need no second host.
class ShareConfiguration : public ::testing::Test {
  protected:
    void SetUp() { directory_ = service_.installPath(); }

    // The launcher refused: exit 1, no pid line, one line on stderr.
    void expectRefused(const EnvChanges& env, const std::string& reason) {
        LaunchResult result = service_.launch(env);
        EXPECT_TRUE(result.exitedWith(1)) << result.waitStatus;
        EXPECT_EQ(result.printedPid(), -1);
        EXPECT_NE(service_.readStderr().find(reason), std::string::npos) << service_.readStderr();
        EXPECT_TRUE(ServiceProcess::runningInstances().empty());
    }

    ServiceProcess service_;
    std::string directory_;
};

TEST_F(ShareConfiguration, EachBadConfigurationIsRefusedWithExitOne) {
    std::string good = writeSecretFile(directory_, kFarmSecret, 0600);
    expectRefused({{"VOKLOGOFFSHARE", "http://redis:6379"}, {"VOKLOGOFFSHAREKEY", good}},
                  "VOKLOGOFFSHARE: endpoint must begin with redis://");
    expectRefused({{"VOKLOGOFFSHARE", "redis://redis:99999"}, {"VOKLOGOFFSHAREKEY", good}},
                  "VOKLOGOFFSHARE: port");
    expectRefused({{"VOKLOGOFFSHARE", "unix:/run/redis.sock"},
                   {"VOKLOGOFFSHAREKEY", directory_ + "/missing.key"}},
                  "No such file or directory");
    std::string shortKey = directory_ + "/short.key";
    std::ofstream(shortKey) << "only thirty-one bytes of secret";
    chmod(shortKey.c_str(), 0600);
    expectRefused({{"VOKLOGOFFSHARE", "unix:/run/redis.sock"}, {"VOKLOGOFFSHAREKEY", shortKey}},
                  "must hold from 32");
    chmod(good.c_str(), 0640);
    expectRefused({{"VOKLOGOFFSHARE", "unix:/run/redis.sock"}, {"VOKLOGOFFSHAREKEY", good}},
                  "open to group or others");
    expectRefused({{"VOKLOGOFFSHARE", "unix:/run/redis.sock"}}, "VOKLOGOFFSHAREKEY: not set");
}

TEST_F(ShareConfiguration, SharingUnsetMakesNoConnection) {
    RedisServer redis;
    ASSERT_TRUE(redis.start());
    auto connectionsSoFar = [&redis] {
        Reply info = redis.command({"INFO", "stats"});
        std::string text = info ? std::string(info->str, info->len) : "";
        size_t at = text.find("total_connections_received:");
        return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 27);
    };
    int before = connectionsSoFar();
    // Everything but the switch: the secret and the stream are there.
    ASSERT_TRUE(
        service_.start({{"VOKLOGOFFSHARE", std::nullopt},
                        {"VOKLOGOFFSHAREKEY", writeSecretFile(directory_, kFarmSecret, 0600)}}));
    CookieFields cookie = freshCookie("unshared");
    EXPECT_EQ(ask(service_.socketPath(), addPayload(cookie)), -1);
    EXPECT_EQ(ask(service_.socketPath(), queryPayload(cookie)), 1);
    EXPECT_EQ(connectionsSoFar(), before);
    EXPECT_EQ(service_.readTrace().find("logoffCookieShare"), std::string::npos);
}

}  // namespace
}  // namespace lctest
