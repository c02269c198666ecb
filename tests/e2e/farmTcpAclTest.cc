// Sharing over TCP on 127.0.0.1 as an ACL user limited as the documentation
// says, in database 1; and the lines an operator gets for a wrong password
// and for a user without the right to publish.
#include <gtest/gtest.h>

#include "tests/support/farmCookies.h"
#include "tests/support/redisServer.h"

namespace lctest {
namespace {

constexpr auto kPatience = 60s;

TEST(FarmTcpAcl, DocumentedUserInDatabaseOneSharesAndMistakesAreSaid) {
    HostTestLock lock;
    RedisServer redis;
    redis.alsoListenOnTcp();
    ASSERT_TRUE(redis.start());
    // As docs/sharing.md has it.
    ASSERT_TRUE(redis.command({"ACL", "SETUSER", "voklogoff", "on", ">farm-password",
                               "~voklogoff:*", "+xadd", "+xread", "+xrange", "+xinfo", "+time",
                               "+info", "+role", "+ping", "+select"}));
    ASSERT_TRUE(redis.command({"ACL", "SETUSER", "reader", "on", ">reader-password", "~voklogoff:*",
                               "+xread", "+xrange", "+xinfo", "+time", "+ping", "+select"}));
    std::string secret = writeSecretFile(redis.directory(), kFarmSecret, 0600);
    auto sharingAs = [&](const std::string& user, const std::string& password) {
        return EnvChanges{{"VOKLOGOFFSHARE", redis.tcpEndpoint(user, password, 1)},
                          {"VOKLOGOFFSHAREKEY", secret}};
    };
    FarmHost a("host A");
    FarmHost b("host B");
    FarmHost wrongPassword("host with a wrong password");
    FarmHost reader("host whose user may not publish");
    ASSERT_TRUE(a.start(sharingAs("voklogoff", "farm-password")));
    ASSERT_TRUE(b.start(sharingAs("voklogoff", "farm-password")));
    ASSERT_TRUE(wrongPassword.start(sharingAs("voklogoff", "not-the-password")));
    ASSERT_TRUE(reader.start(sharingAs("reader", "reader-password")));

    CookieFields cookie = freshCookie("shared-over-tcp");
    logOff(a, cookie);
    EXPECT_TRUE(refusedWithin(b, cookie, kPatience));
    EXPECT_TRUE(refusedWithin(reader, cookie, kPatience));  // reading is allowed
    ASSERT_TRUE(redis.command({"SELECT", "1"}));
    Reply length = redis.command({"XLEN", "voklogoff:logoffs"});
    ASSERT_TRUE(length);
    EXPECT_EQ(length->integer, 1);

    EXPECT_TRUE(wrongPassword.waitForTrace("refuses the connection (WRONGPASS", kPatience));
    EXPECT_NE(wrongPassword.readStderr().find("check the user and password in VOKLOGOFFSHARE"),
              std::string::npos)
        << wrongPassword.readStderr();
    logOff(reader, freshCookie("not-publishable"));
    EXPECT_TRUE(reader.waitForTrace("refuses publishing (NOPERM", kPatience));
    EXPECT_NE(reader.readStderr().find("ACL SETUSER"), std::string::npos) << reader.readStderr();
    // Neither stops the host from serving from its own cache.
    EXPECT_EQ(query(wrongPassword, cookie), 0);
}

}  // namespace
}  // namespace lctest
