#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/support/rawRequests.h"
#include "tests/support/serviceProcess.h"

namespace lctest {
namespace {

constexpr const char* kStartLine = "logoffCookieAPI_ServerMain() -- Starting.";

bool endedWithStatusZero(std::optional<int> status) {
    return status &&
           (*status == kStatusUnknown || (WIFEXITED(*status) && WEXITSTATUS(*status) == 0));
}

TEST(ServiceStart, PrintsStartLineAndMonitorPidThenServesOnSocketOpenToAll) {
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    struct stat info {};
    ASSERT_EQ(stat(service.socketPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0777u);
    EXPECT_NE(service.monitorPid(), service.workerPid());

    std::string trace = service.readTrace();
    EXPECT_NE(trace.find("logoffCookieAPI_ServerMain() -- chmod command: chmod 777 " +
                         service.socketPath()),
              std::string::npos);
    EXPECT_NE(trace.find("I'm the REAL Work-horse pid, " + std::to_string(service.workerPid())),
              std::string::npos);
}

TEST(ServiceStart, LauncherWritesExactlyTheStartLineAndOnePidLine) {
    ServiceProcess service;
    LaunchResult result = service.launch();
    ASSERT_TRUE(result.exitedWith(0));
    ASSERT_EQ(result.stdoutLines.size(), 2u);
    EXPECT_EQ(result.stdoutLines[0], kStartLine);
    pid_t monitor = result.printedPid();
    ASSERT_GT(monitor, 0);
    // Adopt what was started so the fixture stops it by pid.
    ASSERT_TRUE(service.waitForSocket(10s));
    kill(monitor, SIGTERM);
    EXPECT_TRUE(service.waitForExit(monitor, 15s).has_value());
}

// Names of the files whose attributes (the mode among them) changed in the
// watched directory, as far as the watch has queued them.
std::vector<std::string> attributeChanges(int watch) {
    std::vector<std::string> names;
    alignas(inotify_event) char buffer[4096];
    ssize_t length;
    while ((length = read(watch, buffer, sizeof buffer)) > 0) {
        for (char* p = buffer; p < buffer + length;) {
            auto* event = reinterpret_cast<inotify_event*>(p);
            if ((event->mask & IN_ATTRIB) != 0 && event->len > 0) {
                names.emplace_back(event->name);
            }
            p += sizeof(inotify_event) + event->len;
        }
    }
    return names;
}

TEST(ServiceStart, SocketIsBornOpenToAllUnderARestrictiveMaskAndNoModeIsChangedByPath) {
    ServiceProcess service;
    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, service.installPath().c_str(), IN_ATTRIB), 0);
    LaunchOptions options;
    options.umask = 077;
    ASSERT_TRUE(service.startWith(options));

    struct stat info {};
    ASSERT_EQ(stat(service.socketPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0777u);
    // A mode set by path after bind would follow a link put there meanwhile.
    // The socket listens, so every change made at its creation is queued.
    EXPECT_EQ(attributeChanges(watch), std::vector<std::string>{});
    close(watch);
}

TEST(ServiceStart, WarnsOfAnInstallDirectoryOthersMayWriteWithoutTheStickyBit) {
    constexpr const char* kWarning = "has no sticky bit";
    ServiceProcess service;
    for (auto [mode, warns] : {std::pair{0777, true}, {01777, false}, {0755, false}}) {
        std::ofstream(service.stderrPath(), std::ios::trunc).close();
        std::ofstream(service.tracePath(), std::ios::trunc).close();
        ASSERT_EQ(chmod(service.installPath().c_str(), static_cast<mode_t>(mode)), 0);
        // The warning comes before the socket exists, and it starts anyway.
        ASSERT_TRUE(service.start());
        EXPECT_EQ(service.readStderr().find(kWarning) != std::string::npos, warns)
            << std::oct << mode;
        EXPECT_EQ(service.readTrace().find(kWarning) != std::string::npos, warns)
            << std::oct << mode;
        ASSERT_TRUE(service.stop());
    }
}

// With 0 and 2 closed, the worker's socket and a client's connection would
// take those numbers, and trace lines to standard error would reach a client.
TEST(ServiceStart, ClosedStandardDescriptorsNeverCarryLinesIntoAConnection) {
    ServiceProcess service;
    LaunchOptions options;
    options.env = {{"VOKTRACEDEST", std::nullopt}};  // tracing on, to standard error
    options.closedDescriptors = {STDIN_FILENO, STDERR_FILENO};
    ASSERT_TRUE(service.startWith(options));

    // One after the other, so that a descriptor freed by one connection is
    // the lowest free one when the next is accepted.
    for (int i = 0; i < 3; ++i) {
        std::optional<std::string> reply =
            roundTrip(service.socketPath(), encryptRequest(queryPayload(CookieFields{})));
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->size(), 72u) << "exchange " << i;
        EXPECT_EQ(decryptReply(*reply), 1) << "exchange " << i;
    }
}

TEST(ServiceStart, StaleSocketFileIsReplaced) {
    ServiceProcess service;
    { std::ofstream(service.socketPath()) << "left over"; }
    chmod(service.socketPath().c_str(), 0600);
    ASSERT_TRUE(service.start());
    struct stat info {};
    ASSERT_EQ(stat(service.socketPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0777u);
}

TEST(ServiceStart, SecondStartPrintsRunningPidAndForksNothing) {
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    std::vector<pid_t> before = ServiceProcess::runningInstances();

    LaunchResult second = service.launch();
    EXPECT_TRUE(second.exitedWith(0));
    ASSERT_EQ(second.stdoutLines.size(), 2u);
    EXPECT_EQ(second.stdoutLines[0], kStartLine);
    pid_t printed = second.printedPid();
    EXPECT_TRUE(printed == service.monitorPid() || printed == service.workerPid()) << printed;
    EXPECT_EQ(ServiceProcess::runningInstances(), before);
    EXPECT_NE(service.readTrace().find("is NOT equal to current pid"), std::string::npos);
}

// `signo` to the monitor ends it with status 0 and the worker with it, and
// the monitor says `line` on standard error.
void expectSignalToMonitorEndsBoth(int signo, const std::string& line) {
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    pid_t monitor = service.monitorPid();
    pid_t worker = service.workerPid();
    kill(monitor, signo);
    EXPECT_TRUE(endedWithStatusZero(service.waitForExit(monitor, 10s)));
    EXPECT_TRUE(service.waitForExit(worker, 10s).has_value());
    EXPECT_NE(service.readStderr().find(line), std::string::npos);
}

TEST(ServiceSignals, TermToMonitorEndsBothProcesses) {
    expectSignalToMonitorEndsBoth(SIGTERM, "signal 15 received\n");
}

TEST(ServiceSignals, ResetToMonitorEndsBothProcesses) {
    expectSignalToMonitorEndsBoth(SIGUSR1, "reset 10 received\n");
}

TEST(ServiceSignals, WorkerThatDoesNotStopIsKilledAfterTheBound) {
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    pid_t monitor = service.monitorPid();
    pid_t worker = service.workerPid();
    // A stopped process takes the forwarded SIGTERM only when continued.
    ASSERT_EQ(kill(worker, SIGSTOP), 0);
    kill(monitor, SIGTERM);
    EXPECT_TRUE(endedWithStatusZero(service.waitForExit(monitor, 40s)));
    EXPECT_TRUE(service.waitForExit(worker, 5s).has_value());
    EXPECT_NE(service.readStderr().find("worker " + std::to_string(worker) +
                                        " did not stop within 15 seconds: killed\n"),
              std::string::npos)
        << service.readStderr();
}

TEST(ServiceSignals, TermToWorkerEndsWorkerThenMonitor) {
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    pid_t monitor = service.monitorPid();
    pid_t worker = service.workerPid();
    kill(worker, SIGTERM);
    EXPECT_TRUE(service.waitForExit(worker, 15s).has_value());
    EXPECT_TRUE(endedWithStatusZero(service.waitForExit(monitor, 15s)));
    EXPECT_NE(service.readStderr().find("signal 15 received\n"), std::string::npos);
    EXPECT_NE(service.readTrace().find("Wait for ServicePid2, " + std::to_string(worker) +
                                       ", finally ended."),
              std::string::npos);
}

TEST(ServiceStart, RefusedForkExitsOneWithoutPidLine) {
    ServiceProcess service;
    LaunchOptions options;
    options.forksRefused = true;
    // The leak check at the exit needs a thread of its own, refused here too.
    const char* asan = std::getenv("ASAN_OPTIONS");
    options.env = {{"ASAN_OPTIONS", std::string(asan ? asan : "") + ":detect_leaks=0"}};
    LaunchResult result = service.launchWith(options);

    EXPECT_TRUE(result.exitedWith(1)) << result.waitStatus;
    ASSERT_EQ(result.stdoutLines.size(), 1u);
    EXPECT_EQ(result.stdoutLines[0], kStartLine);
    EXPECT_NE(service.readStderr().find("fork: Resource temporarily unavailable\n"),
              std::string::npos)
        << service.readStderr();
    EXPECT_TRUE(ServiceProcess::runningInstances().empty());
}

TEST(ServiceEnvironment, MissingInstallPathExitsOneWithoutPidLine) {
    ServiceProcess service;
    for (const char* value : std::initializer_list<const char*>{"", nullptr}) {
        EnvChanges env = {
            {"WA_INSTALL_PATH", value ? std::optional<std::string>(value) : std::nullopt}};
        LaunchResult result = service.launch(env);
        EXPECT_TRUE(result.exitedWith(1));
        ASSERT_EQ(result.stdoutLines.size(), 1u);
        EXPECT_EQ(result.stdoutLines[0], kStartLine);
    }
    EXPECT_NE(service.readStderr().find("WA_INSTALL_PATH is not set"), std::string::npos);
    EXPECT_TRUE(ServiceProcess::runningInstances().empty());
}

TEST(ServiceEnvironment, SocketPathTooLongExitsOne) {
    ServiceProcess service;
    std::string longPath = service.installPath() + "/" + std::string(100, 'd');
    LaunchResult result = service.launch({{"WA_INSTALL_PATH", longPath}});
    EXPECT_TRUE(result.exitedWith(1));
    EXPECT_EQ(result.stdoutLines.size(), 1u);
    EXPECT_NE(service.readStderr().find("too long"), std::string::npos);
}

TEST(ServiceEnvironment, InstallPathThatIsNoDirectoryIsRefusedBeforeAnyFork) {
    ServiceProcess service;
    const std::string file = service.installPath() + "/file";
    std::ofstream(file) << "not a directory";
    for (const std::string& path : {service.installPath() + "/absent", file}) {
        LaunchResult result = service.launch({{"WA_INSTALL_PATH", path}});
        EXPECT_TRUE(result.exitedWith(1)) << path << ": " << result.waitStatus;
        ASSERT_EQ(result.stdoutLines.size(), 1u) << path;
        EXPECT_EQ(result.stdoutLines[0], kStartLine);
        EXPECT_NE(service.readStderr().find("WA_INSTALL_PATH " + path + ": "), std::string::npos)
            << service.readStderr();
        EXPECT_TRUE(ServiceProcess::runningInstances().empty());
    }
    EXPECT_NE(service.readStderr().find("No such file or directory"), std::string::npos);
    EXPECT_NE(service.readStderr().find("Not a directory"), std::string::npos);
}

}  // namespace
}  // namespace lctest
