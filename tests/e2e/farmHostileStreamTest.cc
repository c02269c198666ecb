// A writer to Redis without the farm secret who tries to exhaust a host's
// memory or to silence sharing: the host steps over what it cannot afford to
// read, comes back from a position in the far future, and still takes in a
// later genuine logoff, all within a bounded amount of memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>

#include "tests/support/farmEntries.h"
#include "tests/support/farmFixture.h"
#include "tests/support/metricsReader.h"

namespace lctest {
namespace {

// Redis builds replies of hundreds of megabytes here: generous on a loaded machine.
constexpr auto kPatience = 180s;
// What a worker may hold for reading the stream, over what it held before.
constexpr long kReadingBoundKb = 32 * 1024;
// Room for the worker's threads and their arenas, far from what the hostile
// entries would cost if they were read.
constexpr std::size_t kAddressSpaceKb = 512 * 1024;

std::vector<std::string> entryOfFields(const std::string& id, int fields) {
    std::vector<std::string> xadd = {"XADD", "tests:logoffs", id};
    xadd.reserve(3 + 2 * static_cast<std::size_t>(fields));
    for (int i = 0; i < fields; ++i) {
        xadd.push_back("f" + std::to_string(i));
        xadd.push_back("v");
    }
    return xadd;
}

using FarmHostileStream = TwoHostFarm;

TEST_F(FarmHostileStream, HostStepsOverWhatItCannotAffordAndTakesTheNextGenuineLogoff) {
    std::string metrics = redis_.directory() + "/b.prom";
    // A sanitizer's runtime reserves terabytes of address space for itself:
    // there the peak resident memory alone shows the bound.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    b_.limitAddressSpace(kAddressSpaceKb);
#endif
    ASSERT_TRUE(a_.start(sharing()));
    ASSERT_TRUE(b_.start(sharingWithMetrics(metrics)));
    CookieFields before = freshCookie("genuine-before");
    logOff(a_, before);
    ASSERT_TRUE(refusedWithin(b_, before, kPatience));
    pid_t worker = b_.workerPid();
    ASSERT_GT(worker, 0);
    long baselineKb = processStatusKb(worker, "VmHWM");

    // Six entries of a million fields in one transaction, then one field of
    // 200 MB.
    ASSERT_TRUE(redis_.command({"MULTI"}));
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(redis_.command(entryOfFields("*", 1'000'000)));
    }
    Reply done = redis_.command({"EXEC"});
    ASSERT_TRUE(done);
    ASSERT_EQ(done->type, REDIS_REPLY_ARRAY);
    ASSERT_TRUE(redis_.command({"XADD", "tests:logoffs", "*", "f", std::string(200 << 20, 'x')}));

    ParsedMetrics parsed;
    ASSERT_TRUE(waitForSample(metrics, "voklogoffcookie_share_dropped_total{reason=\"malformed\"}",
                              7, kPatience, parsed));

    // An entry from the far future, then the stream deleted. (Drops are
    // traced at most once a second, so the count is what shows this one.)
    ASSERT_TRUE(redis_.command({"XADD", "tests:logoffs", "4102444800000-0", "f", "v"}));
    ASSERT_TRUE(waitForSample(metrics, "voklogoffcookie_share_dropped_total{reason=\"malformed\"}",
                              8, kPatience, parsed));
    ASSERT_TRUE(redis_.command({"DEL", "tests:logoffs"}));

    CookieFields after = freshCookie("genuine-after");
    auto sent = std::chrono::steady_clock::now();
    logOff(a_, after);
    EXPECT_TRUE(refusedWithin(b_, after, kPatience));
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    EXPECT_NE(b_.readStderr().find("lies ahead of the stream"), std::string::npos);

    EXPECT_EQ(b_.workerPid(), worker);  // the same worker, never ended
    long peakKb = processStatusKb(worker, "VmHWM");
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // (A sanitizer keeps freed memory in quarantine and adds its shadow.)
    EXPECT_LT(peakKb - baselineKb, kReadingBoundKb);
#endif
    std::printf("worker peak resident: %ld kB before, %ld kB after; last logoff took %.1f s\n",
                baselineKb, peakKb, seconds);
    ASSERT_TRUE(waitForSample(metrics, "voklogoffcookie_share_position_resets_total{}", 1,
                              kPatience, parsed));
    EXPECT_EQ(parsed.value("voklogoffcookie_share_dropped_total{reason=\"bad_hmac\"}"), 0.0);

    // One entry too large to read, alone in the stream, with the highest id
    // that leaves room after it: the host steps over it to a position ahead
    // of Redis's clock, where the stream's figures (whose reply carries that
    // entry) are what it asks for first on connecting. Given up, they must
    // not be asked for again at once, or nothing is ever read again.
    std::size_t traceBefore = b_.readTrace().size();
    ASSERT_TRUE(redis_.command({"XADD", "tests:logoffs", "MAXLEN", "1", "99999999999999-0", "pad",
                                std::string(5000, 'p')}));
    ASSERT_TRUE(waitForSample(metrics, "voklogoffcookie_share_dropped_total{reason=\"malformed\"}",
                              9, kPatience, parsed));
    CookieFields last = freshCookie("genuine-after-the-last-id");
    logOff(a_, last);
    EXPECT_TRUE(refusedWithin(b_, last, kPatience));
    // A connection or two since (a given-up reply holds the figures back
    // for a minute, and the next connection waits), not one a round trip;
    // a few more on a machine so loaded that Redis's replies time out.
    std::string trace = b_.readTrace();
    std::size_t connections = 0;
    for (std::size_t at = trace.find("receiver: connected to", traceBefore);
         at != std::string::npos; at = trace.find("receiver: connected to", at + 1)) {
        ++connections;
    }
    EXPECT_LE(connections, 10u) << "the receiver connects again and again";
}

// Old genuine entries replayed into the stream (no secret needed to copy
// them): logoffs of cookies that have expired are dropped on receipt,
// counted, and take no room in the cache.
TEST_F(FarmHostileStream, ReceivedLogoffsOfExpiredCookiesAreDroppedAndCounted) {
    std::string metrics = redis_.directory() + "/b.prom";
    ASSERT_TRUE(a_.start(sharing()));
    ASSERT_TRUE(b_.start(sharingWithMetrics(metrics)));
    FarmKey key(reinterpret_cast<const std::uint8_t*>(kFarmSecret.data()), kFarmSecret.size());
    auto now = static_cast<std::int32_t>(std::time(nullptr));
    // Past its lifetime, and past its idle timeout within its lifetime.
    FarmLogoff pastLifetime;
    pastLifetime.identity.fill(1);
    pastLifetime.times.creationTime = now - 7200;
    pastLifetime.times.lastUseTime = now - 7200;
    pastLifetime.times.maxLifetimeMinutes = 60;
    FarmLogoff pastIdle = pastLifetime;
    pastIdle.identity.fill(2);
    pastIdle.times.creationTime = now - 600;
    pastIdle.times.lastUseTime = now - 600;
    pastIdle.times.idleTimeoutMinutes = 5;
    for (const FarmLogoff& logoff : {pastLifetime, pastIdle}) {
        ASSERT_TRUE(redis_.command(xaddOfLogoff("tests:logoffs", key, logoff)));
    }
    // Read in order: once the next genuine logoff is refused, both were judged.
    ASSERT_TRUE(sharedWithin(a_, b_, "genuine-after-expired", kPatience));
    ParsedMetrics parsed;
    ASSERT_TRUE(
        waitForSample(metrics, "voklogoffcookie_share_received_total{}", 1, kPatience, parsed));
    EXPECT_EQ(parsed.value("voklogoffcookie_share_dropped_total{reason=\"expired\"}"), 2.0);
    EXPECT_EQ(parsed.value("voklogoffcookie_share_received_total{}"), 1.0);
}

}  // namespace
}  // namespace lctest
