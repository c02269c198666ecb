// Redis credentials: an ACL user given in the credentials file, over TCP and
// over a Unix socket; a password percent-encoded in the URL; files and URLs
// refused at start. No password ever shows in standard error or the trace.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "tests/support/farmCookies.h"
#include "tests/support/hostTestLock.h"
#include "tests/support/metricsReader.h"
#include "tests/support/redisServer.h"
#include "tests/support/sentinelSet.h"
#include "tests/support/serviceProcess.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

constexpr auto kPatience = 30s;
// '@', '/', ':' and a space: all that a URL cannot hold raw.
const std::string kPassword = "p@ss/wd: of the farm";
const std::string kEncodedPassword = "p%40ss%2Fwd%3A%20of%20the%20farm";

std::string writeAuthFile(const std::string& directory, const std::string& text, mode_t mode) {
    std::string path = directory + "/redis.auth";
    std::ofstream(path) << text;
    chmod(path.c_str(), mode);
    return path;
}

// Not the password, nor any part of it that would give it away.
void expectNoPassword(const std::string& output, const std::string& what) {
    for (const std::string& part : {kPassword, kEncodedPassword, std::string("p@ss"),
                                    std::string("p%40ss"), std::string("of the farm")}) {
        EXPECT_EQ(output.find(part), std::string::npos) << what << " shows " << part;
    }
}

class FarmCredentials : public ::testing::Test {
  protected:
    void SetUp() override {
        redis_.alsoListenOnTcp();
        ASSERT_TRUE(redis_.start());
        port_ = redis_.port();
        // The farm's user may use the stream; the default user may not, so
        // only a host that authenticated as the farm's user shares.
        ASSERT_TRUE(
            redis_.command({"ACL", "SETUSER", "farm", "on", ">" + kPassword, "~tests:*", "+@all"}));
        ASSERT_TRUE(redis_.command({"ACL", "SETUSER", "default", "resetkeys"}));
        secret_ = writeSecretFile(redis_.directory(), kFarmSecret, 0600);
        auth_ = writeAuthFile(redis_.directory(), "farm " + kPassword + "\n", 0600);
    }

    EnvChanges sharing(const std::string& endpoint, bool withFile) const {
        EnvChanges env = sharingWith(endpoint, secret_);
        env.push_back({"VOKLOGOFFSHAREAUTH", withFile ? std::optional(auth_) : std::nullopt});
        return env;
    }
    std::string tcp(const std::string& userinfo = "") const {
        return "redis://" + userinfo + "127.0.0.1:" + std::to_string(port_);
    }
    void expectNoPasswordFrom(const FarmHost& host) {
        expectNoPassword(host.readStderr(), host.name() + "'s standard error");
        expectNoPassword(host.readTrace(), host.name() + "'s trace");
    }

    HostTestLock lock_;
    RedisServer redis_;
    int port_ = 0;
    std::string secret_;
    std::string auth_;
    FarmHost a_{"host A"};
    FarmHost b_{"host B"};
};

TEST_F(FarmCredentials, AclUserFromTheFileOverTcpAndOverAUnixSocket) {
    ASSERT_TRUE(a_.start(sharing(tcp(), true)));
    ASSERT_TRUE(b_.start(sharing(redis_.endpoint(), true)));
    expectSharedBothWays(a_, "logged-off-on-a-over-tcp", b_, "logged-off-on-b-over-the-socket",
                         kPatience);
    expectNoPasswordFrom(a_);
    expectNoPasswordFrom(b_);
}

TEST_F(FarmCredentials, PercentEncodedUrlPasswordWorksAndAWrongOneIsNeverShown) {
    ASSERT_TRUE(a_.start(sharing(tcp("farm:" + kEncodedPassword + "@"), false)));
    ASSERT_TRUE(b_.start(sharing(redis_.endpoint(), true)));
    CookieFields cookie = freshCookie("logged-off-through-an-encoded-password");
    logOff(a_, cookie);
    EXPECT_TRUE(refusedWithin(b_, cookie, kPatience));
    expectNoPasswordFrom(a_);

    // Refused by Redis: said, with neither the user nor the password.
    FarmHost wrong("host with a wrong password");
    ASSERT_TRUE(wrong.start(sharing(tcp("farm:p%40ss%2Fwd%3A%20of%20the%20barn@"), false)));
    EXPECT_TRUE(wrong.waitForTrace("WRONGPASS", kPatience));
    EXPECT_NE(wrong.readStderr().find("redis://127.0.0.1"), std::string::npos)
        << wrong.readStderr();
    for (const std::string& output : {wrong.readStderr(), wrong.readTrace()}) {
        EXPECT_EQ(output.find("of the barn"), std::string::npos) << output;
        EXPECT_EQ(output.find("of%20the"), std::string::npos) << output;
    }
}

TEST_F(FarmCredentials, LonePasswordInTheUrlIsTheDefaultUsersAndIsNeverShown) {
    ASSERT_TRUE(redis_.command(
        {"ACL", "SETUSER", "default", "on", "resetpass", ">" + kPassword, "~tests:*", "+@all"}));
    ASSERT_TRUE(a_.start(sharing(tcp(kEncodedPassword + "@"), false)));
    ASSERT_TRUE(b_.start(sharing(redis_.endpoint(), true)));
    CookieFields cookie = freshCookie("logged-off-through-a-lone-url-password");
    logOff(a_, cookie);
    EXPECT_TRUE(refusedWithin(b_, cookie, kPatience));
    EXPECT_NE(a_.readStderr().find("Sharing logoffs through redis://127.0.0.1:"), std::string::npos)
        << a_.readStderr();
    expectNoPasswordFrom(a_);
}

// Replaced in one step, as an operator's editor or install(1) does: the
// host never reads half a file.
void replaceAuthFile(const std::string& path, const std::string& text) {
    std::string next = path + ".next";
    std::ofstream(next) << text;
    chmod(next.c_str(), 0600);
    ASSERT_EQ(std::rename(next.c_str(), path.c_str()), 0);
}

TEST_F(FarmCredentials, WrongPasswordShowsInTheGaugeAndTheMendedFileIsTakenWithoutARestart) {
    std::string metrics = redis_.directory() + "/a.prom";
    std::string authOfA = redis_.directory() + "/a.auth";
    replaceAuthFile(authOfA, "farm not the password\n");
    EnvChanges env = sharing(tcp(), true);
    env.back().second = authOfA;
    env.push_back({"VOKLOGOFFMETRICS", metrics});
    ASSERT_TRUE(a_.start(env));
    ASSERT_TRUE(b_.start(sharing(redis_.endpoint(), true)));
    CookieFields cookie = freshCookie("logged-off-while-the-password-was-wrong");
    logOff(a_, cookie);

    ParsedMetrics parsed;
    EXPECT_TRUE(waitForSample(metrics, "voklogoffcookie_share_publishing_refused{}", 1.0, kPatience,
                              parsed));
    EXPECT_NE(a_.readStderr().find("line 1 of the file named by VOKLOGOFFSHAREAUTH; it is read "
                                   "again before each retry"),
              std::string::npos)
        << a_.readStderr();

    replaceAuthFile(authOfA, "farm " + kPassword + "\n");
    EXPECT_TRUE(refusedWithin(b_, cookie, kPatience));
    expectNoPasswordFrom(a_);
}

// The sentinels' own password is line 2 of the file: a wrong one is named
// as such, not as the data nodes', and mending the file lets the host in.
TEST(FarmSentinelCredentials, WrongSentinelPasswordNamesLineTwoAndTheMendedFileIsTaken) {
    HostTestLock lock;
    SentinelSetOptions options;
    options.nodeConfig = {"requirepass farm-secret", "masterauth farm-secret"};
    options.sentinelConfig = {
        "requirepass watch-secret", "sentinel sentinel-pass watch-secret",
        std::string("sentinel auth-pass ") + SentinelSet::kMasterName + " farm-secret"};
    SentinelSet set(options);
    set.setTestAuth({"AUTH", "farm-secret"}, {"AUTH", "watch-secret"});
    ASSERT_TRUE(set.start());
    std::string auth = set.directory() + "/redis.auth";
    replaceAuthFile(auth, "farm-secret\nsentinel not-the-watch-secret\n");
    EnvChanges env =
        sharingWith(set.endpoint(), writeSecretFile(set.directory(), kFarmSecret, 0600));
    env.push_back({"VOKLOGOFFSHAREAUTH", auth});
    FarmHost host("host behind the sentinels");
    ASSERT_TRUE(host.start(env));
    EXPECT_TRUE(host.waitForTrace("refuses the connection", kPatience));
    EXPECT_NE(host.readStderr().find("the sentinels refuse the user and password of line 2"),
              std::string::npos)
        << host.readStderr();

    replaceAuthFile(auth, "farm-secret\nsentinel watch-secret\n");
    logOff(host, freshCookie("logged-off-once-the-sentinel-password-was-mended"));
    EXPECT_TRUE(waitUntil(
        [&set] {
            Reply length = set.nodeCommand(0, {"XLEN", "tests:logoffs"});
            return length && length->type == REDIS_REPLY_INTEGER && length->integer == 1;
        },
        kPatience))
        << host.readStderr();
}

// Read by the launcher: refused with exit 1 before anything is forked.
TEST(FarmCredentialsRefused, FileOpenToOthersAndUserinfoInAUnixEndpointAreRefusedUnseen) {
    ServiceProcess service;
    std::string secret = writeSecretFile(service.installPath(), kFarmSecret, 0600);
    std::string auth = writeAuthFile(service.installPath(), "farm " + kPassword + "\n", 0644);
    for (const EnvChanges& env :
         {EnvChanges{{"VOKLOGOFFSHARE", "unix:/run/redis.sock"},
                     {"VOKLOGOFFSHAREKEY", secret},
                     {"VOKLOGOFFSHAREAUTH", auth}},
          EnvChanges{{"VOKLOGOFFSHARE", "unix://farm:" + kEncodedPassword + "@/run/redis.sock"},
                     {"VOKLOGOFFSHAREKEY", secret}}}) {
        LaunchResult result = service.launch(env);
        EXPECT_TRUE(result.exitedWith(1)) << result.waitStatus;
        EXPECT_EQ(result.printedPid(), -1);
        EXPECT_TRUE(ServiceProcess::runningInstances().empty());
    }
    std::string said = service.readStderr();
    EXPECT_NE(said.find("VOKLOGOFFSHAREAUTH: " + auth + " is open to group or others"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("unix endpoint takes no user or password"), std::string::npos) << said;
    expectNoPassword(said, "standard error");
    expectNoPassword(service.readTrace(), "the trace");
}

}  // namespace
}  // namespace lctest
