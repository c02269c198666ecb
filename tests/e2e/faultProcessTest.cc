// Faults of the service's own processes: a worker killed outright, and a stop
// signal to the monitor while clients are busy. A logoff recorded before the
// fault is never lost: the next start answers every cookie created before it
// as logged off.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/e2e/abuseSupport.h"

namespace lctest {
namespace {

using Clock = std::chrono::steady_clock;

// What the monitor allows a worker's orderly stop before it kills it.
constexpr auto kMonitorStopBound = 15000ms;

// Records cookies created after the cache started, so that only the cache
// can answer for them while this service runs.
RecordedCookies recordAfterStart(const std::string& socket, const std::string& prefix) {
    int32_t started = secondsNow();
    // The cache start time is at most the current second: wait for the next.
    EXPECT_TRUE(eventually([&] { return secondsNow() > started; }, 3s));
    RecordedCookies recorded;
    for (int i = 0; i < 10; ++i) {
        CookieFields cookie = laterCookie(prefix + "-" + std::to_string(i));
        cookie.creationTime = secondsNow();
        cookie.lastUseTime = cookie.creationTime;
        EXPECT_EQ(ask(socket, addPayload(cookie)), -1);
        recorded.add(cookie);
    }
    EXPECT_EQ(recorded.notAnswered(socket), std::vector<std::string>{});
    return recorded;
}

bool isSocketFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

TEST(FaultProcess, WorkerKilledOutrightLeavesAStaleSocketTheNextStartReplaces) {
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    RecordedCookies recorded = recordAfterStart(service.socketPath(), "before-kill");
    pid_t monitor = service.monitorPid();

    ASSERT_EQ(kill(service.workerPid(), SIGKILL), 0);
    std::optional<int> monitorStatus = service.waitForExit(monitor, 10s);
    ASSERT_TRUE(monitorStatus.has_value()) << "the monitor outlived its worker";
    EXPECT_TRUE(WIFEXITED(*monitorStatus) && WEXITSTATUS(*monitorStatus) == 0) << *monitorStatus;
    ASSERT_TRUE(service.stop());

    // Nobody removed the socket file, and nobody answers on it.
    ASSERT_TRUE(isSocketFile(service.socketPath()));
    int fd = connectTo(service.socketPath());
    EXPECT_LT(fd, 0);
    EXPECT_EQ(errno, ECONNREFUSED);

    // A socket file cannot be bound twice: serving again means it was replaced.
    ASSERT_TRUE(service.start());
    struct stat info {};
    ASSERT_EQ(stat(service.socketPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0777u);

    EXPECT_EQ(ask(service.socketPath(), codePayload(1, 4)), 1);
    EXPECT_EQ(recorded.notAnswered(service.socketPath()), std::vector<std::string>{});
    EXPECT_EQ(ask(service.socketPath(), queryPayload(laterCookie("after-kill"))), 0);
}

// A start script reads the pid and exits, closing the pipes that the monitor
// writes its signal line into: the line is lost, the stop must not be.
TEST(FaultProcess, StopSignalToTheMonitorAfterItsCallerLeftEndsBoth) {
    ServiceProcess service;
    LaunchOptions options;
    options.callerLeavesAfterPid = true;
    ASSERT_TRUE(service.startWith(options));
    pid_t monitor = service.monitorPid();
    pid_t worker = service.workerPid();

    ASSERT_EQ(kill(monitor, SIGTERM), 0);
    std::optional<int> monitorStatus = service.waitForExit(monitor, 10s);
    ASSERT_TRUE(monitorStatus.has_value());
    EXPECT_TRUE(WIFEXITED(*monitorStatus) && WEXITSTATUS(*monitorStatus) == 0) << *monitorStatus;
    EXPECT_TRUE(service.waitForExit(worker, 10s).has_value()) << "the worker serves on";
}

TEST(FaultProcess, StopSignalToTheMonitorUnderLoadEndsBothWithinTheMonitorsBound) {
    constexpr int kClients = 16;
    constexpr int kMaxExchangesPerClient = 20000;
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    RecordedCookies recorded = recordAfterStart(service.socketPath(), "before-stop");
    pid_t monitor = service.monitorPid();
    pid_t worker = service.workerPid();

    std::atomic<bool> stopping{false};
    std::atomic<int> answered{0};
    std::atomic<int> wrongBeforeStop{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            for (int i = 0; i < kMaxExchangesPerClient && !stopping; ++i) {
                CookieFields cookie =
                    laterCookie("load-" + std::to_string(c) + "-" + std::to_string(i));
                bool add = i % 2 == 0;
                std::optional<int32_t> answer =
                    ask(service.socketPath(), add ? addPayload(cookie) : queryPayload(cookie));
                if (answer == (add ? -1 : 0)) {
                    ++answered;
                } else if (!stopping) {
                    ++wrongBeforeStop;
                }
            }
        });
    }
    EXPECT_TRUE(eventually([&] { return answered >= 500; }, 30s));

    auto signalled = Clock::now();
    stopping = true;
    ASSERT_EQ(kill(monitor, SIGTERM), 0);
    std::optional<int> monitorStatus = service.waitForExit(monitor, 30s);
    bool workerEnded = eventually([&] { return threadCount(worker) < 0; }, 30s);
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - signalled);
    for (std::thread& client : clients) {
        client.join();
    }

    ASSERT_TRUE(monitorStatus.has_value());
    EXPECT_TRUE(workerEnded);
    // Passed on to the worker, which stops in order, within the bound.
    EXPECT_LE(took, kMonitorStopBound);
    // An orderly end: status 0, no signal, so no core.
    EXPECT_TRUE(WIFEXITED(*monitorStatus) && WEXITSTATUS(*monitorStatus) == 0) << *monitorStatus;
    EXPECT_TRUE(service.waitForStderr("signal 15 received", 5s));
    EXPECT_EQ(wrongBeforeStop.load(), 0);
    std::printf("stopped under load after %d answers, both processes gone in %lld ms\n",
                answered.load(), static_cast<long long>(took.count()));
    ASSERT_TRUE(service.stop());

    ASSERT_TRUE(service.start());
    EXPECT_EQ(recorded.notAnswered(service.socketPath()), std::vector<std::string>{});
}

}  // namespace
}  // namespace lctest

namespace lctest {
namespace {

// The wait status of a process that has ended but not been reaped yet, from
// its stat file; nullopt while it runs or once it is gone.
std::optional<int> zombieStatus(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(stat.substr(close + 2));
    std::vector<std::string> values;
    for (std::string value; fields >> value;) {
        values.push_back(value);
    }
    // Field 3 is the state, field 52 the exit code.
    if (values.size() < 50 || values[0] != "Z") {
        return std::nullopt;
    }
    return std::stoi(values[49]);
}

// ThreadSanitizer reports a race on a thread body's reference count when the
// exit terminates a thread blocked in sleep, nanosleep or poll (the cache's
// cleanup thread), though the count is only touched under the body's mutex;
// the same thread blocked in read gives no report. Under that sanitizer the
// load here therefore only asks, so that no cleanup thread runs
// (docs/reliability.md tells more).
#ifdef __SANITIZE_THREAD__
constexpr bool kLoadRecords = false;
#else
constexpr bool kLoadRecords = true;
#endif

TEST(FaultProcess, StopSignalToTheWorkerUnderLoadEndsItWithStatusZero) {
    constexpr int kClients = 16;
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    pid_t monitor = service.monitorPid();
    pid_t worker = service.workerPid();
    if (kLoadRecords) {
        // Starts the cleanup thread, which the exit must terminate.
        ASSERT_EQ(ask(service.socketPath(), addPayload(laterCookie("starts-the-cleanup"))), -1);
    }

    std::atomic<bool> stopping{false};
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            for (int i = 0; i < 20000 && !stopping; ++i) {
                CookieFields cookie =
                    laterCookie("load-" + std::to_string(c) + "-" + std::to_string(i));
                bool record = kLoadRecords && i % 2 == 0;
                answered +=
                    ask(service.socketPath(), record ? addPayload(cookie) : queryPayload(cookie))
                        .has_value();
            }
        });
    }
    EXPECT_TRUE(eventually([&] { return answered >= 500; }, 30s));

    // A stopped monitor cannot reap the worker, so its status stays readable.
    ASSERT_EQ(kill(monitor, SIGSTOP), 0);
    auto signalled = Clock::now();
    ASSERT_EQ(kill(worker, SIGTERM), 0);
    std::optional<int> status;
    eventually([&] { return (status = zombieStatus(worker)).has_value(); }, 60s);
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - signalled);
    stopping = true;
    kill(monitor, SIGCONT);
    for (std::thread& client : clients) {
        client.join();
    }
    ASSERT_TRUE(status.has_value()) << "the worker still runs";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "wait status " << *status;
    std::printf("worker ended %lld ms after the stop signal, wait status %d\n",
                static_cast<long long>(took.count()), *status);
    std::optional<int> monitorStatus = service.waitForExit(monitor, 10s);
    ASSERT_TRUE(monitorStatus.has_value());
    EXPECT_TRUE(WIFEXITED(*monitorStatus) && WEXITSTATUS(*monitorStatus) == 0);
}

}  // namespace
}  // namespace lctest
