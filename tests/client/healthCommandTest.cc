#include <gtest/gtest.h>
#include <sys/time.h>

#include <cstring>
#include <ctime>
#include <fstream>

#include "client/cli/healthCheck.h"
#include "client/cli/shareHealth.h"
#include "client/cli/subcommand.h"
#include "diag/metricsExposition.h"
#include "protocol/requestLayout.h"
#include "tests/client/cliRun.h"
#include "tests/client/fakeService.h"

namespace lctest {
namespace {

using namespace logoffcookie::cli;
using namespace std::chrono_literals;

CliRun runHealth(std::vector<std::string> words) {
    words.insert(words.begin(), "health");
    return runCli(words);
}

int32_t readInt32(const std::vector<uint8_t>& message, size_t offset) {
    int32_t value = 0;
    std::memcpy(&value, message.data() + offset, sizeof value);
    return value;
}

TEST(HealthCommand, FreshCookieAnsweredZeroIsHealthy) {
    std::vector<std::vector<uint8_t>> requests;
    FakeService service(answerWith(0, &requests));
    const int32_t before = static_cast<int32_t>(time(nullptr));
    CliRun first = runHealth({"--socket", service.socketPath()});
    CliRun second = runHealth({"--socket", service.socketPath()});
    EXPECT_EQ(first.status, kExitSuccess) << first.err;
    EXPECT_EQ(first.out.rfind("ok: answered in ", 0), 0u) << first.out;
    EXPECT_EQ(second.status, kExitSuccess) << second.err;

    ASSERT_EQ(requests.size(), 2u);
    for (const std::vector<uint8_t>& request : requests) {
        ASSERT_GE(request.size(), kQueryPayloadSize);
        EXPECT_EQ(readInt32(request, kOffsetFunctionCode), FUNC_COOKIE_IS_CACHED);
        // Created after the service can have started, so only the cache decides.
        EXPECT_GT(readInt32(request, kOffsetFirstTime), before);
    }
    // A new cookie each time: an earlier check's cookie cannot be in the cache.
    EXPECT_NE(std::memcmp(requests[0].data() + kOffsetCookieText,
                          requests[1].data() + kOffsetCookieText, kCookieTextSize),
              0);
}

TEST(HealthCommand, FreshCookieAnsweredOneFailsWithTheLibrarysText) {
    FakeService service(answerWith(1));
    CliRun run = runHealth({"--socket", service.socketPath()});
    EXPECT_EQ(run.status, kExitFailure);
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_NE(run.err.find("answered 1"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("(LC_CLIENT_UNEXPECTED_REPLY)"), std::string::npos) << run.err;
}

TEST(HealthCommand, NoAnswerWithinTheTimeOutFails) {
    // Reads the request and answers nothing until the client gives up.
    FakeService service([](int fd) {
        readOnce(fd);
        drainUntilClosed(fd);
    });
    CliRun run = runHealth({"--socket", service.socketPath(), "--timeout", "200"});
    EXPECT_EQ(run.status, kExitFailure);
    EXPECT_NE(run.err.find("(LC_CLIENT_TIMED_OUT)"), std::string::npos) << run.err;
}

TEST(HealthCommand, NoServiceFailsWithTheLibrarysText) {
    TempDir empty;
    CliRun run = runHealth({"--socket", empty.path() + "/logoffCookieSocket", "--timeout", "50"});
    EXPECT_EQ(run.status, kExitFailure);
    EXPECT_NE(run.err.find("(LC_CLIENT_NO_SOCKET)"), std::string::npos) << run.err;
}

TEST(HealthCommand, MetricsFileMustBeThereAndAtMostThirtySecondsOld) {
    FakeService service(answerWith(0));
    const std::string metrics = service.directory() + "/voklogoffcookie.prom";
    std::ofstream(metrics) << metrics_renderText();
    EXPECT_EQ(runHealth({"--socket", service.socketPath(), "--metrics", metrics}).status,
              kExitSuccess);

    timeval old[2] = {{time(nullptr) - 45, 0}, {time(nullptr) - 45, 0}};
    ASSERT_EQ(utimes(metrics.c_str(), old), 0);
    CliRun stale = runHealth({"--socket", service.socketPath(), "--metrics", metrics});
    EXPECT_EQ(stale.status, kExitFailure);
    EXPECT_NE(stale.err.find("was last written 4"), std::string::npos) << stale.err;

    CliRun missing =
        runHealth({"--socket", service.socketPath(), "--metrics", metrics + ".absent"});
    EXPECT_EQ(missing.status, kExitFailure);
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;
}

TEST(HealthCommand, FreshMetricsFileMustBeTheServicesInTheTextFormat) {
    FakeService service(answerWith(0));
    const std::string metrics = service.directory() + "/voklogoffcookie.prom";
    struct Case {
        std::string text;
        std::string reason;
    };
    const Case cases[] = {
        {"up 1\n", "no sample of voklogoffcookie_requests_total"},
        {metrics_renderText() + "voklogoffcookie_requests_total{outcome=\"added\"} 1\n",
         "are not together"},
        // Cut short after a whole line, as a full disk may leave it.
        {metrics_renderText().substr(0, metrics_renderText().find('\n', 200) + 1), "no sample of"},
        {metrics_renderText().substr(0, 200), "the last line has no newline"},
        {"", "the file is empty"},
    };
    for (const Case& each : cases) {
        std::ofstream(metrics, std::ios::trunc) << each.text;
        CliRun run = runHealth({"--socket", service.socketPath(), "--metrics", metrics});
        EXPECT_EQ(run.status, kExitFailure) << each.text;
        EXPECT_NE(run.err.find("metrics file " + metrics + ": "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(each.reason), std::string::npos) << run.err;
    }
}

TEST(HealthCommand, MetricsFileShowingSharingFailFailsTheCheckWithTheReason) {
    FakeService service(answerWith(0));
    const std::string metrics = service.directory() + "/voklogoffcookie.prom";
    // The service's own file, as sharing that is refused would leave it.
    std::string text = metrics_renderText();
    auto setValue = [&text](const std::string& name, const std::string& value) {
        std::size_t at = text.find("\n" + name + " ");
        ASSERT_NE(at, std::string::npos) << name;
        at += name.size() + 2;
        text.replace(at, text.find('\n', at) - at, value);
    };
    setValue("voklogoffcookie_share_seconds_since_last_read", "3");
    setValue("voklogoffcookie_share_publishing_refused", "1");
    std::ofstream(metrics) << text;
    CliRun refused = runHealth({"--socket", service.socketPath(), "--metrics", metrics});
    EXPECT_EQ(refused.status, kExitFailure);
    EXPECT_EQ(refused.err,
              "logoffcookie health: sharing: Redis refuses this host's logoffs "
              "(voklogoffcookie_share_publishing_refused is 1; its standard error or trace says "
              "why)\n");
}

TEST(ShareHealth, EachFailingConditionIsNamedAndSharingOffIsHealthy) {
    auto text = [](const char* since, int refused, int read, int bad) {
        return std::string("# HELP x y\nvoklogoffcookie_share_seconds_since_last_read ") + since +
               "\nvoklogoffcookie_share_publishing_refused " + std::to_string(refused) +
               "\nvoklogoffcookie_share_read_last_minute " + std::to_string(read) +
               "\nvoklogoffcookie_share_bad_hmac_last_minute " + std::to_string(bad) +
               "\nvoklogoffcookie_share_dropped_total{reason=\"bad_hmac\"} 99\n";
    };
    EXPECT_EQ(shareHealthProblem(text("NaN", 1, 10, 10)), "");  // sharing off
    EXPECT_EQ(shareHealthProblem(text("60", 0, 10, 5)), "");
    EXPECT_EQ(shareHealthProblem(text("61", 0, 0, 0)), "sharing: no read from Redis for 61 s");
    // Refused from the start: nothing read either, but the refusal is what to mend.
    for (const char* since : {"1", "600"}) {
        EXPECT_NE(shareHealthProblem(text(since, 1, 0, 0))
                      .find("voklogoffcookie_share_publishing_refused is 1"),
                  std::string::npos)
            << since;
    }
    EXPECT_EQ(shareHealthProblem(text("1", 0, 10, 6)),
              "sharing: 6 of 10 entries read in the last minute were not signed with the farm "
              "secret");
}

TEST(HealthCommand, AgeLimitIsInclusiveAndAFileFromTheFutureIsFresh) {
    TempDir dir;
    const std::string metrics = dir.path() + "/m.prom";
    std::ofstream(metrics) << "up 1\n";
    const auto now = std::chrono::system_clock::now();
    EXPECT_EQ(metricsFileProblem(metrics, now + 30s, 30s), "");
    EXPECT_NE(metricsFileProblem(metrics, now + 32s, 30s), "");
    EXPECT_EQ(metricsFileProblem(metrics, now - 60s, 30s), "");
}

TEST(HealthCommand, WrongCommandLinesAreUsageErrors) {
    for (const std::vector<std::string>& words : {std::vector<std::string>{"--timeout", "0"},
                                                  {"--timeout", "soon"},
                                                  {"--metrics="},
                                                  {"--timeout", "5", "--timeout", "6"},
                                                  {"--verbose"},
                                                  {"--socket", std::string(200, 's')}}) {
        CliRun run = runHealth(words);
        EXPECT_EQ(run.status, kExitUsage) << words.front();
        EXPECT_NE(run.err.find("Try 'logoffcookie health --help'"), std::string::npos);
    }
}

}  // namespace
}  // namespace lctest
