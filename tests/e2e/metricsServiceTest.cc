#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/cli/subcommand.h"
#include "tests/support/metricsReader.h"
#include "tests/support/rawRequests.h"
#include "tests/support/serviceProcess.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

const std::string kRequests = "voklogoffcookie_requests_total";

std::string outcome(const std::string& name) {
    return kRequests + "{outcome=\"" + name + "\"}";
}

bool fileExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// Sends an add and makes sure the reply cannot be delivered: the client has
// shut its reading side before the request leaves, so the service's write
// fails whatever the timing. Returns once the service has closed its end.
bool addWhileGoingAway(const std::string& socketPath, const CookieFields& cookie) {
    int fd = connectTo(socketPath);
    if (fd < 0) {
        return false;
    }
    shutdown(fd, SHUT_RD);
    std::string request = encryptRequest(addPayload(cookie));
    bool sent = write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size());
    pollfd closed{fd, POLLRDHUP, 0};
    while (sent && poll(&closed, 1, 10'000) < 0 && errno == EINTR) {
    }
    close(fd);
    return sent;
}

class MetricsServiceTest : public ::testing::Test {
  protected:
    std::string metricsPath() const { return service_.installPath() + "/voklogoffcookie.prom"; }

    bool startWithMetrics() { return service_.start({{"VOKLOGOFFMETRICS", metricsPath()}}); }

    // Parses the file until `ready` holds for what it says: the worker
    // rewrites it every 10 s.
    ParsedMetrics waitForFile(const std::function<bool(const ParsedMetrics&)>& ready) {
        ParsedMetrics parsed;
        waitUntil(
            [&] {
                parsed = parseMetricsFile(metricsPath());
                return parsed.parsed && ready(parsed);
            },
            30s, 100ms);
        return parsed;
    }

    // SIGTERM to the worker, as the systemd unit stops it: it ends in order.
    void stopWorker() {
        pid_t worker = service_.workerPid();
        ASSERT_EQ(kill(worker, SIGTERM), 0);
        ASSERT_TRUE(service_.waitForExit(worker, 15s).has_value());
        ASSERT_TRUE(service_.waitForExit(service_.monitorPid(), 15s).has_value());
    }

    ServiceProcess service_;
};

TEST_F(MetricsServiceTest, FileIsWrittenBeforeTheSocketExistsAndParses) {
    time_t before = time(nullptr);
    ASSERT_TRUE(startWithMetrics());
    ASSERT_TRUE(fileExists(metricsPath()));
    ParsedMetrics parsed = parseMetricsFile(metricsPath());
    ASSERT_TRUE(parsed.parsed) << parsed.parserOutput;
    double started = parsed.value("voklogoffcookie_start_time_seconds{}");
    EXPECT_GE(started, static_cast<double>(before));
    EXPECT_LE(started, static_cast<double>(time(nullptr)));
    EXPECT_EQ(parsed.value(outcome("added")), 0.0);
    // Without sharing there has never been a read.
    EXPECT_TRUE(std::isnan(parsed.value("voklogoffcookie_share_seconds_since_last_read{}")));
}

TEST_F(MetricsServiceTest, CountsMatchTheRequestsSentWhileRunningAndAfterTheStop) {
    ASSERT_TRUE(startWithMetrics());
    const std::string socket = service_.socketPath();
    // Silent from the start: the receive time-out drops it while the rest runs.
    int silent = connectTo(socket);
    ASSERT_GE(silent, 0);

    // The queries ask for the very cookies added: a cookie made again a
    // second later has another creation time, and so is another cookie.
    std::vector<CookieFields> added;
    for (const char* text : {"a", "b", "c"}) {
        added.push_back(freshCookie(text));
        ASSERT_EQ(ask(socket, addPayload(added.back())), -1);
    }
    for (std::size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(ask(socket, queryPayload(added[i])), 1);
    }
    for (const char* text : {"d", "e", "f", "g"}) {
        ASSERT_EQ(ask(socket, queryPayload(freshCookie(text))), 0);
    }
    CookieFields old = freshCookie("old");
    old.creationTime = 1000;
    ASSERT_EQ(ask(socket, queryPayload(old)), 1);
    EXPECT_FALSE(ask(socket, codePayload(7, 980)));
    // A query with nothing after its function code is refused unread.
    EXPECT_EQ(ask(socket, codePayload(1, 4)), 1);
    // Closed without a reply.
    EXPECT_EQ(roundTrip(socket, encryptRequestWithForeignKey(queryPayload(freshCookie("x")))),
              std::optional<std::string>(""));
    ASSERT_TRUE(addWhileGoingAway(socket, freshCookie("h")));
    // The start's probe of the socket, a connection that sends nothing, and
    // one connection for each request above.
    const double connections = 1 + 1 + 3 + 2 + 4 + 1 + 1 + 1 + 1 + 1;

    auto expectCounts = [&](const ParsedMetrics& parsed) {
        EXPECT_EQ(parsed.value(outcome("added")), 4.0);
        EXPECT_EQ(parsed.value(outcome("logged_off")), 2.0);
        EXPECT_EQ(parsed.value(outcome("not_logged_off")), 4.0);
        EXPECT_EQ(parsed.value(outcome("before_start")), 1.0);
        EXPECT_EQ(parsed.value(outcome("invalid_function")), 1.0);
        EXPECT_EQ(parsed.value(outcome("too_short")), 1.0);
        EXPECT_EQ(parsed.value(outcome("undecryptable")), 1.0);
        EXPECT_EQ(parsed.value(outcome("client_gone")), 1.0);
        EXPECT_EQ(parsed.value("voklogoffcookie_connections_accepted_total{}"), connections);
        EXPECT_EQ(parsed.value("voklogoffcookie_connections_timed_out_total{}"), 1.0);
        EXPECT_EQ(parsed.value("voklogoffcookie_connections_refused_total{}"), 0.0);
        EXPECT_EQ(parsed.value("voklogoffcookie_cookies_cached{}"), 4.0);
        EXPECT_EQ(parsed.value("voklogoffcookie_cookies_queued{}"), 4.0);
        // The first add started the cleanup thread, which runs a pass at once.
        EXPECT_EQ(parsed.value("voklogoffcookie_cleanup_passes_total{}"), 1.0);
        // Every thread still alive waits for a next connection.
        EXPECT_EQ(parsed.value("voklogoffcookie_connection_threads{}"),
                  parsed.value("voklogoffcookie_connection_threads_waiting{}"));
    };

    // The periodic rewrite brings them while the service runs.
    ParsedMetrics running = waitForFile([&](const ParsedMetrics& parsed) {
        return parsed.value("voklogoffcookie_connections_timed_out_total{}") == 1.0 &&
               parsed.value("voklogoffcookie_cleanup_passes_total{}") == 1.0 &&
               parsed.value(outcome("client_gone")) == 1.0 &&
               parsed.value("voklogoffcookie_connection_threads{}") ==
                   parsed.value("voklogoffcookie_connection_threads_waiting{}");
    });
    ASSERT_TRUE(running.parsed) << running.parserOutput;
    expectCounts(running);
    close(silent);

    // The last write at the stop: one more request, seen only through it.
    ASSERT_EQ(ask(socket, queryPayload(freshCookie("z"))), 0);
    stopWorker();
    ParsedMetrics stopped = parseMetricsFile(metricsPath());
    ASSERT_TRUE(stopped.parsed) << stopped.parserOutput;
    EXPECT_EQ(stopped.value(outcome("not_logged_off")), 5.0);
    EXPECT_EQ(stopped.value("voklogoffcookie_connections_accepted_total{}"), connections + 1);
}

// The systemd unit's ExecStartPost: the check runs the moment the launcher
// has ended, before the socket may exist, within the cache's first second.
TEST_F(MetricsServiceTest, HealthCheckRightAfterTheLaunchPassesWithTheMetricsFile) {
    LaunchResult launched = service_.launch({{"VOKLOGOFFMETRICS", metricsPath()}});
    ASSERT_TRUE(launched.exitedWith(0));
    std::vector<std::string> words = {"health",    "--socket",    service_.socketPath(),
                                      "--metrics", metricsPath(), "--timeout",
                                      "5000"};
    logoffcookie::cli::Arguments args(words.begin(), words.end());
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(logoffcookie::cli::runCommandLine(args, out, err), 0) << err.str();
    EXPECT_EQ(out.str().rfind("ok: answered in ", 0), 0u) << out.str();
}

TEST_F(MetricsServiceTest, WithoutTheVariableNothingIsWrittenOrStarted) {
    ASSERT_TRUE(service_.start());
    ASSERT_EQ(ask(service_.socketPath(), queryPayload(freshCookie("q"))), 0);
    stopWorker();
    EXPECT_FALSE(fileExists(metricsPath()));
    EXPECT_EQ(service_.readTrace().find("metrics"), std::string::npos);
}

}  // namespace
}  // namespace lctest
