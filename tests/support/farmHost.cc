#include "tests/support/farmHost.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace lctest {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kHostLockPath = "/tmp/VOKLogoffCookieService.tests.lock";

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string namespaceOf(const std::string& pid) {
    char target[256] = {};
    std::string link = "/proc/" + pid + "/ns/pid";
    ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

// The PID namespace of the first child of `parent` (unshare's child is the
// namespace's first process), or "" when there is none.
std::string pidNamespaceOfChild(pid_t parent) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string pid = entry.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::string stat = readFile("/proc/" + pid + "/stat");
        std::size_t close = stat.rfind(')');
        int parentPid = 0;
        char state = 0;
        if (close != std::string::npos &&
            std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parentPid) == 2 &&
            parentPid == parent) {
            return namespaceOf(pid);
        }
    }
    return "";
}

// Processes in the PID namespace `id` that have not yet ended (a zombie's
// namespace can no longer be read).
int processesInNamespace(const std::string& id) {
    int count = 0;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
        std::string pid = entry.path().filename();
        if (pid.find_first_not_of("0123456789") == std::string::npos && namespaceOf(pid) == id) {
            ++count;
        }
    }
    return count;
}

}  // namespace

HostTestLock::HostTestLock() {
    fd_ = open(kHostLockPath, O_CREAT | O_RDWR | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
        flock(fd_, LOCK_EX);
    }
}

HostTestLock::~HostTestLock() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

FarmHost::FarmHost(std::string name) : name_(std::move(name)) {
    char pattern[] = "/tmp/lc-farm-XXXXXX";
    if (char* dir = mkdtemp(pattern)) {
        installPath_ = dir;
    }
}

FarmHost::~FarmHost() {
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(installPath_, ignored);
}

bool FarmHost::start(const EnvChanges& env) {
    std::vector<std::string> environment = serviceEnvironment(installPath_, env);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    std::string out = installPath_ + "/stdout.txt";
    std::string err = installPath_ + "/stderr.txt";
    // The shell is the namespace's first process: it outlives the launcher,
    // so the monitor and worker live on beside it.
    std::string limit =
        addressSpaceKb_ == 0 ? "" : "ulimit -v " + std::to_string(addressSpaceKb_) + "; ";
    std::string scriptText = limit + "\"$0\" || exit $?; exec sleep infinity";
    holder_ = fork();
    if (holder_ == 0) {
        int outFd = open(out.c_str(), O_CREAT | O_WRONLY | O_APPEND, 0644);
        int errFd = open(err.c_str(), O_CREAT | O_WRONLY | O_APPEND, 0644);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(outFd, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        dup2(devnull, STDIN_FILENO);
        const char* script = scriptText.c_str();
        char* argv[] = {const_cast<char*>("unshare"),
                        const_cast<char*>("--pid"),
                        const_cast<char*>("--fork"),
                        const_cast<char*>("--mount-proc"),
                        const_cast<char*>("--kill-child"),
                        const_cast<char*>("/bin/sh"),
                        const_cast<char*>("-c"),
                        const_cast<char*>(script),
                        const_cast<char*>(LC_SERVICE_BINARY),
                        nullptr};
        execvpe("unshare", argv, envp.data());
        _exit(127);
    }
    auto deadline = Clock::now() + 10s;
    while (Clock::now() < deadline) {
        int status = 0;
        if (waitpid(holder_, &status, WNOHANG) == holder_) {
            holder_ = -1;
            ADD_FAILURE() << name_ << " ended at start, status " << status
                          << "; stderr: " << readStderr();
            return false;
        }
        int fd = connectTo(socketPath());
        if (fd >= 0) {
            close(fd);
            return true;
        }
        std::this_thread::sleep_for(5ms);
    }
    ADD_FAILURE() << name_ << ": socket never appeared; stderr: " << readStderr();
    return false;
}

void FarmHost::stop() {
    if (holder_ <= 0) {
        return;
    }
    std::string namespaceId = pidNamespaceOfChild(holder_);
    // unshare ignores SIGTERM while it waits; its end takes the namespace.
    kill(holder_, SIGKILL);
    int status = 0;
    waitpid(holder_, &status, 0);
    holder_ = -1;
    // Every process of the namespace is killed with its first one, but not
    // at once: wait until none is left, so the next start (here or in
    // another test) finds no instance running.
    auto deadline = Clock::now() + 10s;
    while (!namespaceId.empty() && Clock::now() < deadline &&
           processesInNamespace(namespaceId) > 0) {
        std::this_thread::sleep_for(5ms);
    }
}

bool FarmHost::stopWorker(std::chrono::milliseconds timeout) {
    pid_t worker = workerPid();
    if (worker <= 0 || kill(worker, SIGTERM) != 0) {
        return false;
    }
    // Ended once it is gone or a zombie: its parent, the monitor, may be
    // gone too, and the namespace's first process reaps nobody.
    std::string statPath = "/proc/" + std::to_string(worker) + "/stat";
    auto ended = [&] {
        std::string stat = readFile(statPath);
        std::size_t close = stat.rfind(')');
        return close == std::string::npos || stat.compare(close, 3, ") Z") == 0;
    };
    auto deadline = Clock::now() + timeout;
    while (!ended() && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    bool done = ended();
    stop();
    return done;
}

pid_t FarmHost::workerPid() const {
    std::string namespaceId = holder_ > 0 ? pidNamespaceOfChild(holder_) : "";
    if (namespaceId.empty()) {
        return -1;
    }
    auto isService = [](const std::string& pid) {
        return readFile("/proc/" + pid + "/comm") == "VOKLogoffCookie\n" ||
               readFile("/proc/" + pid + "/cmdline").find("VOKLogoffCookieService") !=
                   std::string::npos;
    };
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
        std::string pid = entry.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos ||
            namespaceOf(pid) != namespaceId || !isService(pid)) {
            continue;
        }
        std::string stat = readFile("/proc/" + pid + "/stat");
        std::size_t close = stat.rfind(')');
        int parentPid = 0;
        char state = 0;
        if (close != std::string::npos &&
            std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parentPid) == 2 &&
            isService(std::to_string(parentPid))) {
            return static_cast<pid_t>(std::stoi(pid));
        }
    }
    return -1;
}

long processStatusKb(pid_t pid, const std::string& field) {
    std::string status = readFile("/proc/" + std::to_string(pid) + "/status");
    std::size_t at = status.find("\n" + field + ":");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + field.size() + 2);
}

std::string FarmHost::readTrace() const {
    return readFile(installPath_ + "/trace.log");
}
std::string FarmHost::readStderr() const {
    return readFile(installPath_ + "/stderr.txt");
}

bool FarmHost::waitForTrace(const std::string& text, std::chrono::milliseconds timeout) const {
    auto deadline = Clock::now() + timeout;
    do {
        if (readTrace().find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    } while (Clock::now() < deadline);
    return false;
}

}  // namespace lctest
