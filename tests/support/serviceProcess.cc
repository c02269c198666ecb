#include "tests/support/serviceProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/childProcess.h"
#include "tests/support/fileText.h"
#include "tests/support/processTable.h"
#include "tests/support/waitUntil.h"

extern char** environ;

namespace lctest {
namespace {

// In a child before its exec: from here the process may have no other. A
// user id nothing else on the host runs as, so that the count is this one.
void refuseForks() {
    constexpr uid_t kUserOfItsOwn = 64'917;
    if (geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(kUserOfItsOwn) != 0 || setuid(kUserOfItsOwn) != 0)) {
        _exit(126);
    }
    rlimit one{1, 1};
    if (setrlimit(RLIMIT_NPROC, &one) != 0) {
        _exit(126);
    }
}

using Clock = std::chrono::steady_clock;

// Reads lines until the writer closes or `count` lines arrived; the service's
// monitor and worker keep standard output open, so EOF cannot be awaited.
std::vector<std::string> readLines(int fd, size_t count, std::chrono::milliseconds timeout) {
    std::vector<std::string> lines;
    std::string pending;
    auto deadline = Clock::now() + timeout;
    while (lines.size() < count && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) {
            continue;
        }
        char buffer[512];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        pending.append(buffer, static_cast<size_t>(n));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            lines.push_back(pending.substr(0, end));
            pending.erase(0, end + 1);
        }
    }
    if (!pending.empty()) {
        lines.push_back(pending);
    }
    return lines;
}

}  // namespace

std::vector<std::string> serviceEnvironment(const std::string& installPath,
                                            const EnvChanges& changes) {
    // The cache never frees the cookies it holds when the worker ends (the
    // process is ending); a leak checker in a sanitizer build would report
    // each one at every orderly stop. A test may set its own LSAN_OPTIONS.
    std::string heldCookies = installPath + "/leaks.supp";
    // Cookies taken back from a state file are held alike.
    std::ofstream(heldCookies) << "leak:logoffCookieAPI_addToCache\n"
                               << "leak:LogoffCookieCacheRestore::cookie\n";
    EnvChanges all = {{"LSAN_OPTIONS", "suppressions=" + heldCookies + ":print_suppressions=0"},
                      {"WA_INSTALL_PATH", installPath},
                      {"VOKTRACELEVEL", "14"},
                      {"VOKTRACEDEST", installPath + "/trace.log"}};
    all.insert(all.end(), changes.begin(), changes.end());

    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const auto& change : all) {
            replaced = replaced || change.first == name;
        }
        if (!replaced) {
            result.push_back(text);
        }
    }
    for (const auto& [name, value] : all) {
        // A later change of the same name wins.
        std::erase_if(result, [&](const std::string& e) { return e.rfind(name + "=", 0) == 0; });
        if (value) {
            result.push_back(name + "=" + *value);
        }
    }
    return result;
}

bool LaunchResult::exitedWith(int code) const {
    return waitStatus != -1 && WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == code;
}

pid_t LaunchResult::printedPid() const {
    if (stdoutLines.size() < 2) {
        return -1;
    }
    char* end = nullptr;
    long value = std::strtol(stdoutLines[1].c_str(), &end, 10);
    return (*end == '\0' && !stdoutLines[1].empty()) ? static_cast<pid_t>(value) : -1;
}

ServiceProcess::ServiceProcess() {
    // Monitor and worker outlive the launcher; as subreaper this process gets
    // them back and can read their exit status.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
}

ServiceProcess::~ServiceProcess() {
    if (monitor_ > 0 || worker_ > 0) {
        stop();
        killRemaining();
    }
}

LaunchResult ServiceProcess::launch(const EnvChanges& env) {
    LaunchOptions options;
    options.env = env;
    return launchWith(options);
}

LaunchResult ServiceProcess::launchWith(const LaunchOptions& options) {
    LaunchResult result;
    std::vector<std::string> environment = serviceEnvironment(installPath(), options.env);
    std::vector<char*> envp = pointersTo(environment);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return result;
    }
    int errPipe[2] = {-1, -1};
    if (options.callerLeavesAfterPid && pipe2(errPipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
    }
    int err = options.callerLeavesAfterPid ? errPipe[1] : openForAppend(stderrPath());
    pid_t launcher = fork();
    if (launcher == 0) {
        attachStandardStreams(out[1], err);
        if (options.umask) {
            umask(*options.umask);
        }
        for (int fd : options.closedDescriptors) {
            close(fd);
        }
        if (options.forksRefused) {
            refuseForks();
        }
        char* argv[] = {const_cast<char*>(LC_SERVICE_BINARY), nullptr};
        execve(LC_SERVICE_BINARY, argv, envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err);
    result.stdoutLines = readLines(out[0], 2, 10s);
    close(out[0]);
    if (errPipe[0] >= 0) {
        close(errPipe[0]);
    }
    if (launcher > 0) {
        waitpid(launcher, &result.waitStatus, 0);
    }
    // A printed pid that is now our child is a monitor this launch started
    // (we adopt orphans); the pid of an instance that ran before is not.
    pid_t printed = result.printedPid();
    if (monitor_ <= 0 && printed > 0 && parentOf(printed) == getpid()) {
        monitor_ = printed;
        worker_ = findChild(monitor_, 5s).value_or(-1);
    }
    return result;
}

bool ServiceProcess::start(const EnvChanges& env) {
    LaunchOptions options;
    options.env = env;
    return startWith(options);
}

bool ServiceProcess::startWith(const LaunchOptions& options) {
    LaunchResult result = launchWith(options);
    EXPECT_TRUE(result.exitedWith(0)) << "launcher status " << result.waitStatus;
    EXPECT_EQ(result.stdoutLines.size(), 2u);
    if (monitor_ <= 0 || monitor_ != result.printedPid()) {
        ADD_FAILURE() << "no new monitor started; stdout pid " << result.printedPid()
                      << "; stderr: " << readStderr();
        return false;
    }
    if (worker_ <= 0) {
        ADD_FAILURE() << "no worker under monitor " << monitor_;
        return false;
    }
    if (!waitForSocket(10s)) {
        ADD_FAILURE() << "socket never appeared; stderr: " << readStderr();
        return false;
    }
    return true;
}

bool ServiceProcess::stop(std::chrono::milliseconds timeout) {
    return endAfterSignal(monitor_, SIGTERM, timeout);
}

bool ServiceProcess::signalWorker(int signo, std::chrono::milliseconds timeout) {
    return endAfterSignal(worker_, signo, timeout);
}

bool ServiceProcess::endAfterSignal(pid_t target, int signo, std::chrono::milliseconds timeout) {
    if (target > 0 && isAlive(target)) {
        kill(target, signo);
    }
    bool ended = true;
    for (pid_t* pid : {&monitor_, &worker_}) {
        if (*pid > 0) {
            ended = waitForExit(*pid, timeout).has_value() && ended;
        }
    }
    if (ended) {
        monitor_ = worker_ = -1;
    }
    return ended;
}

void ServiceProcess::killRemaining() {
    for (pid_t pid : {worker_, monitor_}) {
        if (pid > 0 && isAlive(pid)) {
            kill(pid, SIGKILL);
            waitForExit(pid, 5s);
        }
    }
    monitor_ = worker_ = -1;
}

std::optional<int> ServiceProcess::waitForExit(pid_t pid, std::chrono::milliseconds timeout) {
    std::optional<int> ended;
    waitUntil(
        [&] {
            int status = 0;
            pid_t reaped = waitpid(pid, &status, WNOHANG);
            if (reaped == pid) {
                ended = status;
            } else if (reaped < 0 && errno == ECHILD && !isAlive(pid)) {
                ended = kStatusUnknown;
            }
            return ended.has_value();
        },
        timeout, 10ms);
    return ended;
}

std::optional<pid_t> ServiceProcess::findChild(pid_t parent,
                                               std::chrono::milliseconds timeout) const {
    std::optional<pid_t> child;
    waitUntil(
        [&] {
            for (pid_t pid : allPids()) {
                if (parentOf(pid) == parent) {
                    child = pid;
                    return true;
                }
            }
            return !isAlive(parent);
        },
        timeout, 5ms);
    return child;
}

bool ServiceProcess::waitForSocket(std::chrono::milliseconds timeout) const {
    return waitUntil([&] { return socketAnswers(socketPath()); }, timeout, 5ms);
}

bool ServiceProcess::waitForStderr(const std::string& text,
                                   std::chrono::milliseconds timeout) const {
    return waitForText(stderrPath(), text, timeout);
}

std::string ServiceProcess::readStderr() const {
    return readFile(stderrPath());
}
std::string ServiceProcess::readTrace() const {
    return readFile(tracePath());
}

std::vector<pid_t> ServiceProcess::runningInstances() {
    std::vector<pid_t> found;
    for (pid_t pid : allPids()) {
        std::string cmdline = readFile("/proc/" + std::to_string(pid) + "/cmdline");
        std::string first = cmdline.substr(0, cmdline.find('\0'));
        std::string base =
            first.substr(first.rfind('/') == std::string::npos ? 0 : first.rfind('/') + 1);
        if (base == "VOKLogoffCookieService" && isAlive(pid)) {
            found.push_back(pid);
        }
    }
    return found;
}

int connectTo(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool socketAnswers(const std::string& path) {
    int fd = connectTo(path);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

}  // namespace lctest
