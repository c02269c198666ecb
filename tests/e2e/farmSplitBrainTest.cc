// A partition cuts the primary, one sentinel and host A off from the rest
// of the farm: the two other sentinels promote the replica, each side takes
// logoffs, and once the partition heals each host has the other side's.
// The partition is simulated by pausing (SIGSTOP) one side while the other
// acts, then the other, then neither.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdint>
#include <ctime>

#include "tests/support/farmCookies.h"
#include "tests/support/farmEntries.h"
#include "tests/support/farmHost.h"
#include "tests/support/metricsReader.h"
#include "tests/support/sentinelSet.h"

namespace lctest {
namespace {

constexpr auto kPatience = 60s;
// Sentinels resumed after a pause stay in their tilt for 30 s before they
// act again, and only then demote the old primary.
constexpr auto kHealPatience = 120s;
const std::string kStream = "tests:logoffs";
const std::string kPublished = "voklogoffcookie_share_published_total{}";

class FarmSplitBrain : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(set_.start());
        secretPath_ = writeSecretFile(set_.directory(), kFarmSecret, 0600);
        ASSERT_TRUE(a_.start(sharing(metricsOf(a_))));
        ASSERT_TRUE(b_.start(sharing(metricsOf(b_))));
    }

    EnvChanges sharing(const std::string& metrics) const {
        EnvChanges env = sharingWith(set_.endpoint(), secretPath_, kStream);
        env.push_back({"VOKLOGOFFMETRICS", metrics});
        return env;
    }
    std::string metricsOf(const FarmHost& host) const {
        return set_.directory() + "/" + (&host == &a_ ? "a" : "b") + ".prom";
    }

    // Logs `cookie` off on `host`, the `count`th logoff there, and waits
    // until Redis took it.
    void logOffAndWaitPublished(const FarmHost& host, const CookieFields& cookie, int count) {
        logOff(host, cookie);
        ParsedMetrics parsed;
        ASSERT_TRUE(waitForSample(metricsOf(host), kPublished, count, kPatience, parsed))
            << host.name() << " never published " << cookie.text;
    }

    // A host's worker stopped or let go on, as if cut off with its side.
    static void pauseHost(const FarmHost& host, bool paused) {
        pid_t worker = host.workerPid();
        ASSERT_GT(worker, 0) << host.name();
        ASSERT_EQ(kill(worker, paused ? SIGSTOP : SIGCONT), 0);
    }

    // A logoff of a third host, written straight to `node`.
    void logOffElsewhere(int node, const CookieFields& cookie) {
        FarmKey key(reinterpret_cast<const std::uint8_t*>(kFarmSecret.data()), kFarmSecret.size());
        char text[64] = {};
        char bytes[64] = {};
        cookie.text.copy(text, sizeof text - 1);
        cookie.bytes.copy(bytes, sizeof bytes - 1);
        FarmLogoff logoff;
        computeFarmIdentity(key, text, bytes, cookie.creationTime, logoff.identity);
        logoff.times.creationTime = cookie.creationTime;
        logoff.times.lastUseTime = cookie.lastUseTime;
        logoff.times.maxLifetimeMinutes = cookie.maxLifetimeMinutes;
        logoff.times.idleTimeoutMinutes = cookie.idleTimeoutMinutes;
        Reply added = set_.nodeCommand(node, xaddOfLogoff(kStream, key, logoff));
        ASSERT_TRUE(added && added->type == REDIS_REPLY_STRING);
    }

    HostTestLock lock_;
    SentinelSet set_;
    std::string secretPath_;
    FarmHost a_{"host A"};
    FarmHost b_{"host B"};
};

TEST_F(FarmSplitBrain, EachSideHasTheOtherSidesLogoffsOnceThePartitionHeals) {
    CookieFields warmUp = freshCookie("split-warm-up");
    logOffAndWaitPublished(b_, warmUp, 1);
    ASSERT_TRUE(refusedWithin(a_, warmUp, kPatience));

    // B's side: the primary, sentinel 0 and host A are cut off; sentinels 1
    // and 2 promote node 1, and B logs a cookie off there.
    pauseHost(a_, true);
    set_.pauseNode(0);
    set_.pauseSentinel(0);
    ASSERT_TRUE(set_.waitForPrimary(1, kPatience));
    // Only once B publishes to node 1: a write sent to the paused node would
    // wait in its socket and be taken when it resumes.
    ASSERT_TRUE(b_.waitForTrace("publisher: connected to " + set_.endpoint() +
                                    " (primary 127.0.0.1:" + std::to_string(set_.nodePort(1)) + ")",
                                kPatience));
    CookieFields onB = freshCookie("split-on-b");
    logOffAndWaitPublished(b_, onB, 2);

    // A's side, the other half of the partition: the old primary still takes
    // writes, from A and from a third host of A's side.
    pauseHost(b_, true);
    set_.pauseNode(1);
    set_.pauseSentinel(1);
    set_.pauseSentinel(2);
    set_.resumeNode(0);
    set_.resumeSentinel(0);
    pauseHost(a_, false);
    CookieFields elsewhere = freshCookie("split-on-a-third-host");
    logOffElsewhere(0, elsewhere);
    // Read by A: its read position is past B's logoff now, on the old primary.
    ASSERT_TRUE(refusedWithin(a_, elsewhere, kPatience));
    CookieFields onA = freshCookie("split-on-a");
    logOffAndWaitPublished(a_, onA, 1);

    // Healed: the old primary becomes the new one's replica, its writes of
    // the partition replaced by the new primary's data.
    set_.resumeNode(1);
    set_.resumeSentinel(1);
    set_.resumeSentinel(2);
    pauseHost(b_, false);
    ASSERT_TRUE(set_.waitForReplica(0, kHealPatience));

    EXPECT_TRUE(refusedWithin(a_, onB, kPatience))
        << "A skipped B's side of the partition; A said:\n"
        << a_.readStderr();
    EXPECT_TRUE(refusedWithin(b_, onA, kPatience))
        << "A's logoff of the partition was lost; A said:\n"
        << a_.readStderr();
}

}  // namespace
}  // namespace lctest
