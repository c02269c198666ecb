// Who may record logoffs (VOKLOGOFFADDUSERS) and the ceiling on the records
// held (VOKLOGOFFMAXCOOKIES), through the real service and, for other users,
// the logoffcookie command run under setpriv.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <ctime>
#include <string>

#include "tests/support/commandRun.h"
#include "tests/support/fileText.h"
#include "tests/support/metricsReader.h"
#include "tests/support/rawRequests.h"
#include "tests/support/serviceProcess.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

// Users and groups of every Debian system.
const std::string kAsDaemon = "setpriv --reuid=daemon --regid=daemon --clear-groups ";
const std::string kAsNobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";
const std::string kAsNobodyInAdm = "setpriv --reuid=nobody --regid=nogroup --groups=adm ";

std::int32_t now() {
    return static_cast<std::int32_t>(std::time(nullptr));
}

CookieFields cookieCreated(const std::string& text, std::int32_t created) {
    CookieFields cookie;
    cookie.text = text;
    cookie.creationTime = created;
    cookie.lastUseTime = created;
    return cookie;
}

class AddLimits : public ::testing::Test {
  protected:
    std::string metricsPath() const { return service_.installPath() + "/voklogoffcookie.prom"; }

    // The client command as `user` (a setpriv prefix) with `arguments`.
    CommandRun client(const std::string& user, const std::string& arguments) const {
        return runCommand(user + LC_CLIENT_COMMAND + " " + arguments +
                          " --socket-wait 0 --socket " + service_.socketPath());
    }

    // The last metrics write, at an orderly stop of the worker.
    ParsedMetrics stopAndReadMetrics() {
        pid_t worker = service_.workerPid();
        EXPECT_EQ(kill(worker, SIGTERM), 0);
        EXPECT_TRUE(service_.waitForExit(worker, 15s).has_value());
        EXPECT_TRUE(service_.waitForExit(service_.monitorPid(), 15s).has_value());
        return parseMetricsFile(metricsPath());
    }

    ServiceProcess service_;
};

TEST_F(AddLimits, ListedUsersAndRootAddOthersAreClosedUnansweredYetMayQuery) {
    ASSERT_TRUE(service_.start(
        {{"VOKLOGOFFADDUSERS", "daemon,@adm"}, {"VOKLOGOFFMETRICS", metricsPath()}}));
    // The socket is open to all; its directory must be too, for other users.
    ASSERT_EQ(chmod(service_.installPath().c_str(), 0755), 0);
    const std::int32_t createdAt = now() + 1000;
    const std::string created = " --created " + std::to_string(createdAt);

    CommandRun byName = client(kAsDaemon, "add --text by-daemon" + created);
    EXPECT_EQ(byName.status, 0) << byName.out;
    CommandRun byGroup = client(kAsNobodyInAdm, "add --text by-adm" + created);
    EXPECT_EQ(byGroup.status, 0) << byGroup.out;
    CookieFields byRoot = cookieCreated("by-root", createdAt);
    byRoot.bytes = "";  // as the command sends it
    ASSERT_EQ(ask(service_.socketPath(), addPayload(byRoot)), -1);

    for (int attempt = 0; attempt < 2; ++attempt) {
        CommandRun refused = client(kAsNobody, "add --text by-nobody" + created);
        EXPECT_EQ(refused.status, 1) << refused.out;
    }
    for (const char* text : {"by-daemon", "by-adm", "by-root"}) {
        CommandRun query = client(kAsNobody, std::string("query --text ") + text + created);
        EXPECT_EQ(query.status, 0) << query.out;
        EXPECT_EQ(query.out, "cached\n") << text;
    }
    CommandRun notAdded = client(kAsNobody, "query --text by-nobody" + created);
    EXPECT_EQ(notAdded.out, "not cached\n");

    const std::string line =
        "perform_addToCache() -- Add refused for uid 65534: not allowed by VOKLOGOFFADDUSERS; 0 "
        "more refused since this was last said";
    // The second refusal, moments after the first, is only counted.
    EXPECT_EQ(occurrences(service_.readStderr(), "Add refused"), 1u);
    EXPECT_EQ(occurrences(service_.readStderr(), line), 1u);
    EXPECT_EQ(occurrences(service_.readTrace(), line), 1u);
    ParsedMetrics metrics = stopAndReadMetrics();
    ASSERT_TRUE(metrics.parsed) << metrics.parserOutput;
    EXPECT_EQ(metrics.value("voklogoffcookie_requests_refused_total{reason=\"not_allowed\"}"), 2.0);
    EXPECT_EQ(metrics.value("voklogoffcookie_requests_total{outcome=\"added\"}"), 3.0);
}

TEST_F(AddLimits, BadValuesAreRefusedAtStartWithOneLineAndNoPid) {
    struct Case {
        const char* variable;
        const char* value;
        const char* line;
    };
    const Case cases[] = {
        {"VOKLOGOFFADDUSERS", "daemon,no-such-user-lc",
         "logoffCookieAPI_ServerMain() -- VOKLOGOFFADDUSERS: no user named \"no-such-user-lc\"\n"},
        {"VOKLOGOFFMAXCOOKIES", "0",
         "logoffCookieAPI_ServerMain() -- VOKLOGOFFMAXCOOKIES must be a count from 1 to "
         "4294967295: \"0\"\n"},
    };
    for (const Case& each : cases) {
        LaunchResult result = service_.launch({{each.variable, each.value}});
        EXPECT_TRUE(result.exitedWith(1)) << each.variable;
        EXPECT_EQ(result.stdoutLines.size(), 1u) << each.variable;
        EXPECT_EQ(occurrences(service_.readStderr(), each.line), 1u) << service_.readStderr();
        EXPECT_TRUE(ServiceProcess::runningInstances().empty());
    }
}

TEST_F(AddLimits, AddPassingTheCeilingForgetsAllAndRefusesWhatCameBefore) {
    ASSERT_TRUE(service_.start({{"VOKLOGOFFMAXCOOKIES", "1000"},
                                {"VOKLOGOFFMETRICS", metricsPath()},
                                {"VOKTRACELEVEL", "8"}}));
    const std::string socket = service_.socketPath();
    // Created after the service started, so that only the flush can refuse it.
    const std::int32_t created = now() + 1;
    ASSERT_TRUE(waitUntil([created] { return now() >= created; }, 10s));
    CookieFields bystander = cookieCreated("bystander", created);
    ASSERT_EQ(ask(socket, queryPayload(bystander)), 0);

    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(ask(socket, addPayload(cookieCreated("held-" + std::to_string(i), created))), -1);
    }
    const std::string line =
        "logoffCookieAPI_addToCache() -- 1000 records held reached the ceiling of 1000 "
        "(VOKLOGOFFMAXCOOKIES): all forgotten, and every cookie created before now counts as "
        "logged off, as after a restart.";
    ASSERT_EQ(occurrences(service_.readStderr(), line), 0u);
    ASSERT_EQ(ask(socket, addPayload(cookieCreated("passing", created))), -1);
    EXPECT_EQ(occurrences(service_.readStderr(), line), 1u);
    EXPECT_EQ(occurrences(service_.readTrace(), line), 1u);

    EXPECT_EQ(ask(socket, queryPayload(bystander)), 1);
    EXPECT_EQ(ask(socket, queryPayload(cookieCreated("held-7", created))), 1);
    CookieFields newer = cookieCreated("newer", now() + 1000);
    EXPECT_EQ(ask(socket, queryPayload(newer)), 0);
    ASSERT_EQ(ask(socket, addPayload(newer)), -1);
    EXPECT_EQ(ask(socket, queryPayload(newer)), 1);

    ParsedMetrics metrics = stopAndReadMetrics();
    ASSERT_TRUE(metrics.parsed) << metrics.parserOutput;
    EXPECT_EQ(metrics.value("voklogoffcookie_cache_flushes_total{}"), 1.0);
    EXPECT_EQ(metrics.value("voklogoffcookie_cookies_cached{}"), 2.0);
}

}  // namespace
}  // namespace lctest
