#include "service/serverMain.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cache/logoffCookieAPI.h"
#include "crypto/logoffCookiePipe_crypt.h"
#include "diag/traceLog.h"
#include "service/addLimits.h"
#include "service/clientLoop.h"
#include "service/listenSocket.h"
#include "service/metricsWriter.h"
#include "service/serviceSignals.h"
#include "service/shareStart.h"
#include "service/singleInstance.h"
#include "service/standardDescriptors.h"
#include "service/stateStart.h"
#include "service/workerMonitor.h"

namespace {

constexpr int kDescriptorsExamined = 1024;
constexpr size_t kPathBufferSize = 512;

void installStopHandlers() {
    installSignalHandler(SIGINT, logoffCookieAPI_signalHandler);
    installSignalHandler(SIGUSR1, logoffCookieAPI_signalHandler);
    installSignalHandler(SIGTERM, logoffCookieAPI_signalHandler);
}

void unblockStopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

// Exits with 1 when no socket path can be made from the environment: without
// it the worker could only fail later, after the caller was told all is well.
void requireSocketPath(char* socketPath) {
    char error[256];
    if (!composeSocketPath(socketPath, kPathBufferSize, error, sizeof error) ||
        !checkSocketDirectory(error, sizeof error)) {
        TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_ServerMain() -- %s", error);
        std::fprintf(stderr, "logoffCookieAPI_ServerMain() -- %s\n", error);
        std::exit(1);
    }
}

// The launcher's last word: the pid of the instance that serves, for
// whoever started it.
[[noreturn]] void exitTellingPid(pid_t pid) {
    std::printf("%d\n", static_cast<int>(pid));
    std::exit(0);
}

// Ends the launcher with the pid of an instance that already runs, if any.
void exitIfAnotherInstanceRuns(pid_t self) {
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_ServerMain() -- checkserver: %s.", checkserver);
    std::fprintf(stderr, "%s\n", checkserver);

    pid_t running =
        findRunningInstance("/proc", kServiceProcessName, self, ownInstanceOwner("/proc"));
    if (running == kProcUnreadable) {
        TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_ServerMain() -- popen failed on checkserver.");
        std::fprintf(stderr, "pipe failed\n");
        std::exit(1);
    }
    if (running == kNoInstance) {
        return;
    }
    TRACE_LOG(TRACE_DETAIL,
              "logoffCookieAPI_ServerMain() -- pid obtained on fscanf of checkserver: %d.",
              static_cast<int>(running));
    TRACE_LOG(TRACE_DETAIL,
              "logoffCookieAPI_ServerMain() -- Scanned pid, %d, is NOT equal to current pid, %d, "
              "so we do a printf of pid to whomever is listening and exit.",
              static_cast<int>(running), static_cast<int>(self));
    exitTellingPid(running);
}

// Inherited files and sockets would stay open for the daemon's whole life;
// pipes, terminals and devices are the caller's and stay.
void closeInheritedDescriptors(pid_t self) {
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_ServerMain() -- Closing file descriptors for pid: %d.",
              static_cast<int>(self));
    for (int fd = 0; fd < kDescriptorsExamined; ++fd) {
        if (fd == STDOUT_FILENO || fd == STDERR_FILENO) {
            continue;
        }
        struct stat info {};
        if (fstat(fd, &info) == 0 && (S_ISREG(info.st_mode) || S_ISSOCK(info.st_mode))) {
            close(fd);
            std::fprintf(stderr, " close file descriptor %d \n", fd);
        }
    }
}

// fork(2), or the end of this process: a split that cannot be made is
// refused with the call and its reason, never taken for a running service.
pid_t forkOrRefuse() {
    std::fflush(nullptr);
    pid_t child = fork();
    if (child < 0) {
        const int error = errno;
        TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_ServerMain() -- fork failed: %s",
                  std::strerror(error));
        std::fprintf(stderr, "fork: %s\n", std::strerror(error));
        std::exit(1);
    }
    return child;
}

[[noreturn]] void runMonitor(pid_t self) {
    forgetShareSecrets();
    TRACE_LOG(TRACE_DETAIL,
              "logoffCookieAPI_ServerMain() -- After fork for signal setup.  I'm, %d, forked child "
              "is, %d",
              static_cast<int>(self), static_cast<int>(ServicePid2));
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_ServerMain() -- About to wait on ServicePid2: %d",
              static_cast<int>(ServicePid2));
    logoffCookieService_superviseWorker(ServicePid2, kWorkerStopBoundSeconds);
    TRACE_LOG(TRACE_DETAIL,
              "logoffCookieAPI_ServerMain() -- Wait for ServicePid2, %d, finally ended.  I'm pid, "
              "%d",
              static_cast<int>(ServicePid2), static_cast<int>(self));
    std::exit(0);
}

[[noreturn]] void runWorker(pid_t self, const char* socketPath) {
    TRACE_LOG(TRACE_DETAIL,
              "logoffCookieAPI_ServerMain() -- I'm the REAL Work-horse pid, %d, with MORE signal "
              "setup to go FORTH and DO",
              static_cast<int>(self));
    installStopHandlers();

    logoffCookieService_initMetrics();
    initLogoffCookieCache();
    setHashKeySeed();
    // Before the socket: the first request must find what the state holds.
    loadConfiguredState();

    // Before any thread exists: the socket's creation clears the process-wide
    // file-mode mask for a moment.
    int fd_socket = createListeningSocket(socketPath);
    if (fd_socket < 0) {
        std::exit(1);
    }
    startWorkerSignalThread();
    // Every other thread after the stop signals are blocked: a thread made
    // earlier would take a stop signal itself and end the worker without its
    // exit handlers. Sharing's threads start before the first request.
    startConfiguredSharing();
    resumeConfiguredState();
    logoffCookieService_startMetricsWriter();
    logoffCookieService_clientLoop(fd_socket);
}

}  // namespace

void logoffCookieAPI_ServerMain() {
    if (!openClosedStandardDescriptors()) {
        // Serving now could put start-up and trace lines into a connection.
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieAPI_ServerMain() -- cannot open /dev/null onto a closed standard "
                  "descriptor: %s",
                  std::strerror(errno));
        std::exit(1);
    }
    // Inherited by monitor and worker. A caller that has gone away leaves
    // standard output and error without a reader; a line written there is
    // lost, but a stop signal must still kill and reap the worker, and a
    // client that leaves before its reply must not end the worker.
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("logoffCookieAPI_ServerMain() -- Starting.\n");
    // Flushed now so that forked children do not carry the line again.
    std::fflush(stdout);
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_ServerMain() -- Starting.");

    unblockStopSignals();
    installStopHandlers();

    pid_t self = getpid();
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_ServerMain() -- ORIGINAL PID: %d.",
              static_cast<int>(self));

    char socketPath[kPathBufferSize];
    requireSocketPath(socketPath);
    requireShareConfig();
    requireAddLimits();
    requireStateConfig();
    exitIfAnotherInstanceRuns(self);
    closeInheritedDescriptors(self);

    pid_t monitor = forkOrRefuse();
    if (monitor != 0) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieAPI_ServerMain() -- I parent, %d, just forked to get child, %d.  I "
                  "will printf to listening party and exit",
                  static_cast<int>(self), static_cast<int>(monitor));
        exitTellingPid(monitor);
    }

    self = getpid();
    TRACE_LOG(TRACE_DETAIL,
              "logoffCookieAPI_ServerMain() -- Continuing on for pid, %d, to setup signals.",
              static_cast<int>(self));
    // Blocked before the fork: a stop sent to the monitor at once waits for
    // it instead of ending it with the worker left running.
    sigset_t workerSignals;
    blockMonitorSignals(&workerSignals);
    ServicePid2 = forkOrRefuse();
    if (ServicePid2 != 0) {
        runMonitor(self);
    }
    sigprocmask(SIG_SETMASK, &workerSignals, nullptr);
    runWorker(getpid(), socketPath);
}
