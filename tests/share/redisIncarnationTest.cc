// Telling one Redis incarnation from the next, against a real redis-server.
#include "share/redisIncarnation.h"

#include <gtest/gtest.h>

#include "tests/support/redisServer.h"
#include "tests/support/waitUntil.h"

namespace {

using namespace std::chrono_literals;
using Finding = RedisIncarnation::Finding;

class RedisIncarnationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(redis_.start());
        std::string error;
        ASSERT_TRUE(parseShareEndpoint(redis_.endpoint(), endpoint_, error)) << error;
        connect();
    }
    void connect() {
        std::string error;
        ASSERT_EQ(link_.connect(endpoint_, 2s, error), RedisLink::Outcome::Connected) << error;
    }
    // An entry as the publisher adds it, and the id Redis gave it.
    std::string add() {
        lctest::Reply id = redis_.command({"XADD", "tests:logoffs", "*", "v", "1"});
        return id ? std::string(id->str, id->len) : "";
    }
    Finding check(std::string& why) {
        std::string error;
        Finding finding = incarnation_.check(link_, "tests:logoffs", why, error);
        EXPECT_TRUE(link_.connected()) << error;
        return finding;
    }

    lctest::RedisServer redis_;
    ShareEndpoint endpoint_;
    RedisLink link_;
    RedisIncarnation incarnation_;
};

TEST_F(RedisIncarnationTest, SameRedisUntilItRestartsOrLosesTheLastEntry) {
    std::string why;
    EXPECT_EQ(check(why), Finding::Unknown);  // a first look has nothing to compare
    incarnation_.published(add());
    EXPECT_EQ(check(why), Finding::Same);
    add();  // another host's entry after ours changes nothing
    EXPECT_EQ(check(why), Finding::Same);

    ASSERT_TRUE(redis_.command({"DEL", "tests:logoffs"}));
    EXPECT_EQ(check(why), Finding::Another);
    EXPECT_NE(why.find("no longer holds entry"), std::string::npos) << why;

    // Restarted: empty, and another run_id, whatever this host had published.
    incarnation_.published(add());
    EXPECT_EQ(check(why), Finding::Same);
    redis_.stop();
    ASSERT_TRUE(redis_.start());
    connect();
    EXPECT_EQ(check(why), Finding::Another);
    EXPECT_EQ(why, "another run_id");
}

// Other hosts' adds trim the stream of this host's last entry while it is
// quiet: the same stream, nothing to publish again.
TEST_F(RedisIncarnationTest, OurEntryTrimmedAwayIsTheSameRedisTheStreamMadeAnewIsNot) {
    std::string why;
    EXPECT_EQ(check(why), Finding::Unknown);
    incarnation_.published(add());
    EXPECT_EQ(check(why), Finding::Same);
    ASSERT_TRUE(redis_.command({"XADD", "tests:logoffs", "MAXLEN", "1", "*", "v", "2"}));
    EXPECT_EQ(check(why), Finding::Same) << why;
    EXPECT_EQ(check(why), Finding::Same) << why;

    // Deleted and made anew, with fewer entries ever added than before.
    incarnation_.published(add());
    EXPECT_EQ(check(why), Finding::Same);
    ASSERT_TRUE(redis_.command({"DEL", "tests:logoffs"}));
    // An id of its own: one drawn in the same millisecond as ours would be
    // ours again, and the entry found.
    ASSERT_TRUE(redis_.command({"XADD", "tests:logoffs", "1-1", "v", "1"}));
    EXPECT_EQ(check(why), Finding::Another);
    EXPECT_NE(why.find("no longer holds entry"), std::string::npos) << why;
}

// The same process, made the replica of another primary: its data is that
// one's, so what this host gave it may be gone.
TEST_F(RedisIncarnationTest, ARedisMadeTheReplicaOfAnotherIsAnother) {
    lctest::RedisServer other;
    other.alsoListenOnTcp();
    ASSERT_TRUE(other.start());
    std::string why;
    EXPECT_EQ(check(why), Finding::Unknown);
    EXPECT_EQ(check(why), Finding::Same);
    ASSERT_TRUE(redis_.command({"REPLICAOF", "127.0.0.1", std::to_string(other.port())}));
    ASSERT_TRUE(lctest::waitUntil(
        [&] {
            lctest::Reply info = redis_.command({"INFO", "replication"});
            return info && std::string(info->str, info->len).find("master_link_status:up") !=
                               std::string::npos;
        },
        30s, 10ms));
    EXPECT_EQ(check(why), Finding::Another);
    EXPECT_EQ(why, "another replication id");
    ASSERT_TRUE(redis_.command({"REPLICAOF", "NO", "ONE"}));
}

}  // namespace
