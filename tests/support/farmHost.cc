#include "tests/support/farmHost.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "tests/support/childProcess.h"
#include "tests/support/fileText.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

// The first child of `parent`: unshare's one child is the namespace's first
// process. -1 when there is none.
pid_t firstChildOf(pid_t parent) {
    for (pid_t pid : allPids()) {
        if (parentOf(pid) == parent) {
            return pid;
        }
    }
    return -1;
}

std::string pidNamespaceOfChild(pid_t parent) {
    pid_t first = firstChildOf(parent);
    return first > 0 ? pidNamespaceOf(first) : "";
}

// Processes in the PID namespace `id` that have not yet ended (a zombie's
// namespace can no longer be read).
int processesInNamespace(const std::string& id) {
    int count = 0;
    for (pid_t pid : allPids()) {
        count += pidNamespaceOf(pid) == id ? 1 : 0;
    }
    return count;
}

}  // namespace

FarmHost::FarmHost(std::string name) : name_(std::move(name)) {}

FarmHost::~FarmHost() {
    stop();
}

bool FarmHost::start(const EnvChanges& env) {
    std::vector<std::string> environment = serviceEnvironment(install_.path(), env);
    std::vector<char*> envp = pointersTo(environment);

    std::string out = install_.path() + "/stdout.txt";
    std::string err = install_.path() + "/stderr.txt";
    // The shell is the namespace's first process: it outlives the launcher,
    // so the monitor and worker live on beside it.
    std::string limit =
        addressSpaceKb_ == 0 ? "" : "ulimit -v " + std::to_string(addressSpaceKb_) + "; ";
    std::string scriptText = limit + "\"$0\" || exit $?; exec sleep infinity";
    holder_ = fork();
    if (holder_ == 0) {
        attachStandardStreams(openForAppend(out), openForAppend(err));
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
    int status = 0;
    bool ended = false;
    bool up = waitUntil(
        [&] {
            ended = waitpid(holder_, &status, WNOHANG) == holder_;
            return ended || socketAnswers(socketPath());
        },
        10s, 5ms);
    if (ended) {
        holder_ = -1;
        ADD_FAILURE() << name_ << " ended at start, status " << status
                      << "; stderr: " << readStderr();
        return false;
    }
    if (!up) {
        ADD_FAILURE() << name_ << ": socket never appeared; stderr: " << readStderr();
        return false;
    }
    // Started once the launcher has ended too: what a test reads of the
    // host's processes from here on is the monitor and its worker.
    if (!waitUntil([&] { return workerPid() > 0; }, 30s, 5ms)) {
        ADD_FAILURE() << name_
                      << ": the launcher never ended, or no worker runs; stderr: " << readStderr();
        return false;
    }
    return true;
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
    if (!namespaceId.empty()) {
        waitUntil([&] { return processesInNamespace(namespaceId) == 0; }, 10s, 5ms);
    }
}

bool FarmHost::stopWorker(std::chrono::milliseconds timeout) {
    pid_t worker = workerPid();
    if (worker <= 0 || kill(worker, SIGTERM) != 0) {
        return false;
    }
    // Ended once it is gone or a zombie: its parent, the monitor, may be
    // gone too, and the namespace's first process reaps nobody.
    bool done = waitUntil([&] { return !isAlive(worker); }, timeout, 10ms);
    stop();
    return done;
}

pid_t FarmHost::workerPid() const {
    pid_t first = holder_ > 0 ? firstChildOf(holder_) : -1;
    // The shell runs sleep once the launcher has ended: until then the
    // service processes below it may be the launcher and the monitor.
    if (first <= 0 || readFile("/proc/" + std::to_string(first) + "/comm") != "sleep\n") {
        return -1;
    }
    return serviceWorkerUnder(first);
}

std::string FarmHost::readTrace() const {
    return readFile(install_.path() + "/trace.log");
}
std::string FarmHost::readStderr() const {
    return readFile(install_.path() + "/stderr.txt");
}

bool FarmHost::waitForTrace(const std::string& text, std::chrono::milliseconds timeout) const {
    return waitForText(install_.path() + "/trace.log", text, timeout);
}

}  // namespace lctest
