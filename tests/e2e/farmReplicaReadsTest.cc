// Hosts of a farm behind sentinels read the stream from a replica, not the
// primary, and keep every logoff while the replica they read lags, is
// killed, or is promoted.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/farmCookies.h"
#include "tests/support/farmHost.h"
#include "tests/support/sentinelSet.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

constexpr auto kPatience = 60s;
constexpr int kLogoffs = 40;  // 2 s of them
constexpr int kEventAfter = 5;
constexpr auto kLogoffEvery = 50ms;
const std::string kStream = "tests:logoffs";

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class FarmReplicaReads : public ::testing::Test {
  protected:
    static SentinelSetOptions twoReplicas() {
        SentinelSetOptions options;
        options.replicas = 2;
        return options;
    }

    void SetUp() override {
        ASSERT_TRUE(set_.start());
        std::string secret = writeSecretFile(set_.directory(), kFarmSecret, 0600);
        // The default with sentinels: read from the replicas.
        EnvChanges sharing = sharingWith(set_.endpoint(), secret, kStream);
        ASSERT_TRUE(a_.start(sharing));
        ASSERT_TRUE(b_.start(sharing));
    }

    // The node the host's receiver connected to last, and whether it took it
    // as a replica; -1 before its first connection.
    int readingNode(const FarmHost& host, bool& replica) const {
        std::string trace = host.readTrace();
        std::size_t at = trace.rfind("receiver: connected to ");
        if (at == std::string::npos) {
            return -1;
        }
        std::size_t end = trace.find('\n', at);
        std::string line = trace.substr(at, end == std::string::npos ? end : end - at);
        for (int node = 0; node < 3; ++node) {
            for (const char* kind : {"replica", "primary"}) {
                if (line.find(std::string("(") + kind + " 127.0.0.1:" +
                              std::to_string(set_.nodePort(node)) + ")") != std::string::npos) {
                    replica = std::string(kind) == "replica";
                    return node;
                }
            }
        }
        return -1;
    }

    // Until both hosts read the same replica (`wanted`, when given); that
    // replica, or -1.
    int waitForBothOnAReplica(int wanted = -1) const {
        int node = -1;
        bool found = waitUntil(
            [&] {
                bool replicaA = false;
                bool replicaB = false;
                int onA = readingNode(a_, replicaA);
                int onB = readingNode(b_, replicaB);
                node = onA;
                return replicaA && replicaB && onA == onB && (wanted < 0 || onA == wanted);
            },
            kPatience, 20ms);
        return found ? node : -1;
    }

    // The clients of `node` waiting in a read of the stream.
    int readersOn(int node) const {
        Reply clients = set_.nodeCommand(node, {"CLIENT", "LIST"});
        if (!clients || clients->type != REDIS_REPLY_STRING) {
            return -1;
        }
        return static_cast<int>(occurrences(std::string(clients->str, clients->len), "cmd=xread"));
    }

    // Lines saying a host moved away from `node`, as replica, in its trace.
    std::size_t movesFrom(const FarmHost& host, int node) const {
        return occurrences(host.readTrace(), "no longer from the replica 127.0.0.1:" +
                                                 std::to_string(set_.nodePort(node)));
    }

    // A logs a cookie off every 50 ms, `event` coming after the 5th; then
    // every one is refused on B within `limit`. `settled`, when given, is
    // awaited before the check starts.
    void everyLogoffArrives(const std::string& label, const std::function<void()>& event,
                            const std::function<bool()>& settled = {}) {
        std::vector<CookieFields> cookies;
        for (int i = 0; i < kLogoffs; ++i) {
            cookies.push_back(freshCookie(label + "-" + std::to_string(i)));
        }
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kLogoffs; ++i) {
            if (i == kEventAfter) {
                event();
            }
            logOff(a_, cookies[i]);
            std::this_thread::sleep_until(start + (i + 1) * kLogoffEvery);
        }
        if (settled) {
            ASSERT_TRUE(settled()) << label;
        }
        int lost = 0;
        for (const CookieFields& cookie : cookies) {
            if (!refusedWithin(b_, cookie, kPatience)) {
                ++lost;
            }
        }
        EXPECT_EQ(lost, 0) << label << ": B said\n" << b_.readStderr();
        std::printf(
            "%s: every logoff on B %.1f s after the first\n", label.c_str(),
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        std::fflush(stdout);
    }

    HostTestLock lock_;
    SentinelSet set_{twoReplicas()};
    FarmHost a_{"host A"};
    FarmHost b_{"host B"};
};

TEST_F(FarmReplicaReads, HostsReadAReplicaAndLoseNothingWhenItLagsDiesOrIsPromoted) {
    // Both hosts bear one name here, so they prefer the same replica.
    int first = waitForBothOnAReplica();
    ASSERT_GE(first, 1) << a_.readTrace();
    // The primary serves no reads: both wait in a read on the replica.
    EXPECT_TRUE(waitUntil([&] { return readersOn(first) == 2; }, kPatience, 20ms));
    EXPECT_EQ(readersOn(0), 0);

    // Lagging: the replica stops answering. The hosts go to the other one.
    int other = 3 - first;
    std::size_t before = movesFrom(b_, first);
    everyLogoffArrives("lagging", [&] { set_.pauseNode(first); });
    EXPECT_GT(movesFrom(b_, first), before);
    set_.resumeNode(first);
    ASSERT_TRUE(set_.waitForReplica(first, kPatience));
    // Back in health, the replica the hosts prefer has them back.
    ASSERT_EQ(waitForBothOnAReplica(first), first) << b_.readTrace();

    // Killed: the replica both read is gone.
    before = movesFrom(b_, first);
    everyLogoffArrives("killed", [&] { set_.killNode(first); });
    EXPECT_GT(movesFrom(b_, first), before);

    // Promoted: the one replica left, which both read, becomes the primary,
    // and the old primary its replica.
    int promoted = waitForBothOnAReplica();
    ASSERT_EQ(promoted, other);
    everyLogoffArrives(
        "promoted",
        [&] {
            Reply started =
                set_.sentinelCommand(0, {"SENTINEL", "FAILOVER", SentinelSet::kMasterName});
            EXPECT_TRUE(started && started->type == REDIS_REPLY_STATUS);
        },
        [&] { return set_.waitForPrimary(promoted, kPatience); });
    expectSharedBothWays(a_, "from-a-after-promotion", b_, "from-b-after-promotion",
                         std::chrono::duration_cast<std::chrono::seconds>(kPatience));
}

}  // namespace
}  // namespace lctest
