// Runs the real service executable the way its callers do: a fresh
// WA_INSTALL_PATH, standard output through a pipe, processes stopped by pid.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/threads/uncopyable.h"
#include "tests/support/hostTestLock.h"
#include "tests/support/scratchDirectory.h"

namespace lctest {

using namespace std::chrono_literals;

// Environment changes for one launch: a value sets the variable, nullopt
// removes it.
using EnvChanges = std::vector<std::pair<std::string, std::optional<std::string>>>;

// The environment a service of the tests starts with: this process's, with
// the install path, full tracing into the install path, the leak checker's
// allowance for the cookies the cache still holds at the stop, and `changes`.
std::vector<std::string> serviceEnvironment(const std::string& installPath,
                                            const EnvChanges& changes);

// How a launch departs from the plain one.
struct LaunchOptions {
    EnvChanges env;
    // Standard error goes to a pipe whose reading end, like standard
    // output's, is closed once the pid line is read: the caller went away, as
    // a start script that exits does. Otherwise it goes to stderrPath().
    bool callerLeavesAfterPid = false;
    // Standard descriptors (0, 1, 2) the program starts with closed.
    std::vector<int> closedDescriptors;
    // The file-mode mask the program starts with; the test's own otherwise.
    std::optional<mode_t> umask;
    // Every fork the launcher tries is refused with EAGAIN: it starts as a
    // user id of its own (no process limit binds root) whose process limit
    // is its one process.
    bool forksRefused = false;
};

struct LaunchResult {
    int waitStatus = -1;  // the launcher's status as waitpid gives it
    std::vector<std::string> stdoutLines;

    bool exitedWith(int code) const;
    // The pid line (the second line of standard output), or -1.
    pid_t printedPid() const;
};

// A process that ended without our being its parent: its status is unknown.
inline constexpr int kStatusUnknown = -1;

class ServiceProcess : private Uncopyable {
  public:
    // Takes the host-wide test lock (only one instance may run per host),
    // makes a fresh install directory and adopts orphaned service processes.
    ServiceProcess();
    ~ServiceProcess();

    const std::string& installPath() const { return install_.path(); }
    std::string socketPath() const { return installPath() + "/logoffCookieSocket"; }
    std::string stderrPath() const { return installPath() + "/stderr.txt"; }
    std::string tracePath() const { return installPath() + "/trace.log"; }

    // Starts the executable and returns once the launcher has ended. Tracing
    // goes to tracePath() at level 14 unless `env` says otherwise. A monitor
    // the launch started is remembered and stopped by the destructor.
    LaunchResult launch(const EnvChanges& env = {});
    LaunchResult launchWith(const LaunchOptions& options);

    // launch(), then the pids of monitor and worker and the socket ready.
    // Fails the current test (and returns false) when any of it does not happen.
    bool start(const EnvChanges& env = {});
    bool startWith(const LaunchOptions& options);

    pid_t monitorPid() const { return monitor_; }
    pid_t workerPid() const { return worker_; }

    // SIGTERM to the monitor; true when both processes ended in time.
    bool stop(std::chrono::milliseconds timeout = 15s);
    // `signo` to the worker, as the packaged unit stops it with SIGTERM;
    // true when both processes ended in time.
    bool signalWorker(int signo, std::chrono::milliseconds timeout = 20s);

    // The wait status of `pid` once it ended (kStatusUnknown when another
    // process reaped it), nullopt when it still runs after `timeout`.
    std::optional<int> waitForExit(pid_t pid, std::chrono::milliseconds timeout);

    bool waitForSocket(std::chrono::milliseconds timeout) const;
    bool waitForStderr(const std::string& text, std::chrono::milliseconds timeout) const;
    std::string readStderr() const;
    std::string readTrace() const;

    // The pids of running processes called VOKLogoffCookieService.
    static std::vector<pid_t> runningInstances();

  private:
    bool endAfterSignal(pid_t target, int signo, std::chrono::milliseconds timeout);
    std::optional<pid_t> findChild(pid_t parent, std::chrono::milliseconds timeout) const;
    void killRemaining();

    HostTestLock lock_;  // first: held before anything else is made
    ScratchDirectory install_{"lc-e2e"};
    pid_t monitor_ = -1;
    pid_t worker_ = -1;
};

// Connects to a local stream socket; -1 on failure.
int connectTo(const std::string& path);
// True when a connection to the socket is accepted (and closed again): the
// service behind it is up.
bool socketAnswers(const std::string& path);

}  // namespace lctest
