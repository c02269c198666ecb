// A host with sharing on that is stopped in order: its last metrics are
// written and what it still had queued reaches the stream.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>

#include "tests/support/metricsReader.h"
#include "tests/support/rawRequests.h"
#include "tests/support/redisServer.h"
#include "tests/support/serviceProcess.h"

namespace lctest {
namespace {

// `signo` to the worker, or to the monitor that passes it on, stops a
// sharing host in order.
void expectOrderlyStopPublishesAndCounts(bool toMonitor) {
    RedisServer redis;
    ASSERT_TRUE(redis.start());
    ServiceProcess service;
    std::string secret = service.installPath() + "/farm.key";
    std::ofstream(secret) << "farm secret of the tests, forty bytes long";
    chmod(secret.c_str(), 0600);
    std::string metrics = service.installPath() + "/voklogoffcookie.prom";
    ASSERT_TRUE(service.start({{"VOKLOGOFFSHARE", redis.endpoint()},
                               {"VOKLOGOFFSHAREKEY", secret},
                               {"VOKLOGOFFSHARESTREAM", "tests:logoffs"},
                               {"VOKLOGOFFMETRICS", metrics}}));
    CookieFields cookie;
    cookie.text = "logged-off-just-before-the-stop";
    cookie.creationTime = static_cast<int32_t>(time(nullptr)) + 1000;
    cookie.lastUseTime = cookie.creationTime;
    ASSERT_EQ(ask(service.socketPath(), addPayload(cookie)), -1);

    // At once, well within the writer's 10 s: only the exit writes the add.
    pid_t worker = service.workerPid();
    ASSERT_EQ(kill(toMonitor ? service.monitorPid() : worker, SIGTERM), 0);
    ASSERT_TRUE(service.waitForExit(worker, 20s).has_value());
    ParsedMetrics parsed = parseMetricsFile(metrics);
    ASSERT_TRUE(parsed.parsed) << parsed.parserOutput;
    EXPECT_EQ(parsed.value("voklogoffcookie_requests_total{outcome=\"added\"}"), 1.0);
    EXPECT_EQ(parsed.value("voklogoffcookie_share_published_total{}"), 1.0);
    Reply length = redis.command({"XLEN", "tests:logoffs"});
    ASSERT_TRUE(length);
    EXPECT_EQ(length->integer, 1);
}

TEST(FarmStop, OrderlyStopWithSharingOnWritesItsLastMetrics) {
    expectOrderlyStopPublishesAndCounts(false);
}

TEST(FarmStop, StopSentToTheMonitorPublishesTheQueuedLogoff) {
    expectOrderlyStopPublishesAndCounts(true);
}

}  // namespace
}  // namespace lctest
