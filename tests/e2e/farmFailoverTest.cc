// A farm whose Redis fails over or restarts empty while logoffs are being
// recorded: every one of them reaches the other host, with no operator.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "tests/support/farmCookies.h"
#include "tests/support/farmHost.h"
#include "tests/support/redisServer.h"
#include "tests/support/sentinelSet.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kLogoffEvery = 50ms;
constexpr int kLogoffs = 240;            // 12 s of them
constexpr int kKilledAfter = 60;         // 3 s in
constexpr auto kAfterPromotion = 30s;    // every logoff refused by then
constexpr auto kFailoverPatience = 60s;  // for the sentinels to agree
const std::string kStream = "tests:logoffs";

double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// The last lines of sharing in a host's trace, to tell a failure apart.
std::string sharingLines(const FarmHost& host) {
    std::string trace = host.readTrace();
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < trace.size();) {
        std::size_t end = trace.find('\n', at);
        end = end == std::string::npos ? trace.size() : end;
        std::string line = trace.substr(at, end - at);
        if (line.find("logoffCookieShare") != std::string::npos) {
            lines.push_back(line);
        }
        at = end + 1;
    }
    std::string text = host.name() + ":\n";
    for (std::size_t i = lines.size() > 40 ? lines.size() - 40 : 0; i < lines.size(); ++i) {
        text += lines[i] + "\n";
    }
    return text;
}

class FarmFailover : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(set_.start());
        secretPath_ = writeSecretFile(set_.directory(), kFarmSecret, 0600);
        ASSERT_TRUE(a_.start(sharing()));
        ASSERT_TRUE(b_.start(sharing()));
    }

    EnvChanges sharing() const {
        EnvChanges env = sharingWith(set_.endpoint(), secretPath_, kStream);
        if (!readFrom_.empty()) {
            env.push_back({"VOKLOGOFFSHAREREADFROM", readFrom_});
        }
        return env;
    }

    struct Round {
        double toFirstRefused = -1;  // seconds from the kill, -1: never
        int lost = 0;
    };

    // A logs off a cookie every 50 ms for 12 s and `primary` is killed 3 s
    // in. Measured: from the kill to B refusing the first cookie logged off
    // after it (which only the new primary can have carried), and how many
    // of all were not refused on B within 30 s of the promotion.
    Round failOver(int round, int primary) {
        Round figures;
        std::vector<CookieFields> cookies;
        for (int i = 0; i < kLogoffs; ++i) {
            cookies.push_back(
                freshCookie("failover-" + std::to_string(round) + "-" + std::to_string(i)));
        }
        std::atomic<bool> killed{false};
        Clock::time_point killedAt;
        Clock::time_point promotedAt;
        Clock::time_point firstRefusedAt;
        bool promoted = false;
        std::thread watcher([&] {
            while (!killed.load()) {
                std::this_thread::sleep_for(1ms);
            }
            promoted = set_.waitForPrimary(1 - primary, kFailoverPatience);
            promotedAt = Clock::now();
            if (promoted && refusedWithin(b_, cookies[kKilledAfter], kAfterPromotion)) {
                firstRefusedAt = Clock::now();
            }
        });
        Clock::time_point start = Clock::now();
        for (int i = 0; i < kLogoffs; ++i) {
            if (i == kKilledAfter) {
                set_.killNode(primary);
                killedAt = Clock::now();
                killed = true;
            }
            logOff(a_, cookies[i]);
            std::this_thread::sleep_until(start + (i + 1) * kLogoffEvery);
        }
        watcher.join();
        EXPECT_TRUE(promoted) << "the sentinels did not promote the replica";
        if (firstRefusedAt != Clock::time_point{}) {
            figures.toFirstRefused = secondsBetween(killedAt, firstRefusedAt);
        }
        Clock::time_point deadline = promotedAt + kAfterPromotion;
        for (const CookieFields& cookie : cookies) {
            // Whole seconds up: refusedWithin asks at least once.
            auto left = std::chrono::ceil<std::chrono::seconds>(deadline - Clock::now());
            if (!refusedWithin(b_, cookie, std::max(left, 0s))) {
                ++figures.lost;
            }
        }
        return figures;
    }

    HostTestLock lock_;
    SentinelSet set_;
    std::string secretPath_;
    std::string readFrom_;  // VOKLOGOFFSHAREREADFROM; unset when empty
    FarmHost a_{"host A"};
    FarmHost b_{"host B"};
};

// LC_FAILOVER_ROUNDS (default 1) failovers in a row, the killed node coming
// back as a replica between them; scripts/failoverbench.sh runs ten.
TEST_F(FarmFailover, PrimaryKilledUnderLoadLosesNoLogoffAndBothDirectionsWorkAfter) {
    const char* roundsText = std::getenv("LC_FAILOVER_ROUNDS");
    int rounds = roundsText != nullptr ? std::max(1, std::atoi(roundsText)) : 1;
    int primary = 0;
    int lostInAll = 0;
    for (int round = 0; round < rounds; ++round) {
        Round figures = failOver(round, primary);
        lostInAll += figures.lost;
        std::printf(
            "failover %d: first logoff refused on B %.2f s after the primary's death; "
            "%d of %d lost\n",
            round + 1, figures.toFirstRefused, figures.lost, kLogoffs);
        std::fflush(stdout);
        EXPECT_EQ(figures.lost, 0) << "round " << round + 1 << "\n"
                                   << sharingLines(a_) << sharingLines(b_);

        CookieFields fromB = freshCookie("from-b-after-failover-" + std::to_string(round));
        logOff(b_, fromB);
        EXPECT_TRUE(refusedWithin(a_, fromB, kAfterPromotion)) << "round " << round + 1;

        if (round + 1 < rounds) {
            ASSERT_TRUE(set_.restartNodeAsReplicaOf(primary, 1 - primary));
            ASSERT_TRUE(set_.waitForReplica(primary, kFailoverPatience));
            primary = 1 - primary;
        }
    }
    std::printf("failovers: %d, logoffs lost: %d of %d\n", rounds, lostInAll, rounds * kLogoffs);
}

// The hosts read from the primary alone, as they did before replicas could
// be read.
class FarmFailoverReadingThePrimary : public FarmFailover {
  protected:
    FarmFailoverReadingThePrimary() { readFrom_ = "primary"; }
};

// An operator's failover: the primary lives on, demoted to a replica, and
// the hosts follow the sentinels to the new one.
TEST_F(FarmFailoverReadingThePrimary, ManualFailoverIsFollowedInBothDirections) {
    EXPECT_TRUE(b_.waitForTrace("receiver: connected to " + set_.endpoint() +
                                    " (primary 127.0.0.1:" + std::to_string(set_.nodePort(0)) + ")",
                                kAfterPromotion));
    CookieFields before = freshCookie("before-manual-failover");
    logOff(a_, before);
    ASSERT_TRUE(refusedWithin(b_, before, kAfterPromotion));

    Reply started = set_.sentinelCommand(0, {"SENTINEL", "FAILOVER", SentinelSet::kMasterName});
    ASSERT_TRUE(started && started->type == REDIS_REPLY_STATUS);
    ASSERT_TRUE(set_.waitForPrimary(1, kFailoverPatience));

    expectSharedBothWays(a_, "from-a-after-manual-failover", b_, "from-b-after-manual-failover",
                         kAfterPromotion);
}

// A Redis without persistence restarted empty: what the publishing host
// sent in the last minute reaches a host that had not read it yet.
TEST(FarmRestart, RedisRestartedEmptyGetsTheLastMinuteAgain) {
    HostTestLock lock;
    RedisServer redis;
    ASSERT_TRUE(redis.start());
    std::string secret = writeSecretFile(redis.directory(), kFarmSecret, 0600);
    EnvChanges sharing = sharingWith(redis.endpoint(), secret, kStream);
    FarmHost a("host A");
    ASSERT_TRUE(a.start(sharing));
    std::vector<CookieFields> cookies;
    for (int i = 0; i < 20; ++i) {
        cookies.push_back(freshCookie("before-empty-restart-" + std::to_string(i)));
        logOff(a, cookies.back());
    }
    ASSERT_TRUE(waitUntil(
        [&] {
            Reply length = redis.command({"XLEN", kStream});
            return length && length->integer == static_cast<long long>(cookies.size());
        },
        30s, 10ms));

    redis.stop();
    ASSERT_TRUE(redis.start());
    FarmHost b("host B");
    ASSERT_TRUE(b.start(sharing));
    for (const CookieFields& cookie : cookies) {
        EXPECT_TRUE(refusedWithin(b, cookie, 30s)) << cookie.text;
    }
}

// A failover by name, without sentinels: the name the hosts connect to now
// leads to the new primary, and the old one, demoted, answers READONLY. The
// publisher connects again by the name, and what it had queued and what the
// old primary had taken reach the new one.
TEST(FarmRenamedPrimary, PublisherThatMeetsAReplicaConnectsAgainByTheSameName) {
    HostTestLock lock;
    RedisServer oldPrimary;
    RedisServer newPrimary;
    newPrimary.alsoListenOnTcp();
    ASSERT_TRUE(oldPrimary.start());
    ASSERT_TRUE(newPrimary.start());
    auto lengthOf = [](RedisServer& redis) {
        Reply length = redis.command({"XLEN", kStream});
        return length && length->type == REDIS_REPLY_INTEGER ? length->integer : -1;
    };
    // The name: a link to the socket of the primary of the moment.
    std::string name = oldPrimary.directory() + "/primary.sock";
    ASSERT_EQ(symlink(oldPrimary.socketPath().c_str(), name.c_str()), 0);
    std::string secret = writeSecretFile(oldPrimary.directory(), kFarmSecret, 0600);
    FarmHost a("host A");
    ASSERT_TRUE(a.start(sharingWith("unix:" + name, secret, kStream)));
    CookieFields before = freshCookie("before-the-name-moved");
    logOff(a, before);
    ASSERT_TRUE(waitUntil([&] { return lengthOf(oldPrimary) == 1; }, 30s, 10ms));

    ASSERT_TRUE(oldPrimary.command({"REPLICAOF", "127.0.0.1", std::to_string(newPrimary.port())}));
    std::string moved = name + ".new";
    ASSERT_EQ(symlink(newPrimary.socketPath().c_str(), moved.c_str()), 0);
    ASSERT_EQ(rename(moved.c_str(), name.c_str()), 0);

    logOff(a, freshCookie("after-the-name-moved"));
    EXPECT_TRUE(a.waitForTrace("is a replica now", 30s));
    EXPECT_TRUE(waitUntil([&] { return lengthOf(newPrimary) >= 2; }, 60s, 20ms)) << sharingLines(a);
}

}  // namespace
}  // namespace lctest
