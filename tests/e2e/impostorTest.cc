// Processes that only carry the service's name: another user's, and one in a
// PID namespace of its own (a container). Neither may keep the service from
// starting, and neither is reported as the running instance.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/serviceProcess.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

// A process started through `argv` that ends in `exec -a VOKLogoffCookieService
// sleep 1000`; stopped by pid with the test.
class Impostor {
  public:
    explicit Impostor(std::vector<std::string> argv) {
        std::vector<std::string> before = names();
        starter_ = fork();
        if (starter_ == 0) {
            std::vector<char*> args;
            for (std::string& arg : argv) {
                args.push_back(arg.data());
            }
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        // Found once it carries the name: the starter itself, or its child.
        waitUntil([&] {
            for (pid_t pid : ServiceProcess::runningInstances()) {
                if (std::find(before.begin(), before.end(), std::to_string(pid)) == before.end()) {
                    pid_ = pid;
                    return true;
                }
            }
            int status = 0;
            return waitpid(starter_, &status, WNOHANG) == starter_ && (starter_ = -1, true);
        });
    }
    ~Impostor() {
        for (pid_t pid : {pid_, starter_}) {
            if (pid > 0) {
                kill(pid, SIGKILL);
            }
        }
        if (starter_ > 0) {
            int status = 0;
            waitpid(starter_, &status, 0);
        }
        // The namespace's first process is reaped by us as subreaper.
        if (pid_ > 0 && pid_ != starter_) {
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    Impostor(const Impostor&) = delete;
    Impostor& operator=(const Impostor&) = delete;

    pid_t pid() const { return pid_; }

  private:
    static std::vector<std::string> names() {
        std::vector<std::string> pids;
        for (pid_t pid : ServiceProcess::runningInstances()) {
            pids.push_back(std::to_string(pid));
        }
        return pids;
    }

    pid_t starter_ = -1;
    pid_t pid_ = -1;
};

const std::string kPretend = "exec -a VOKLogoffCookieService sleep 1000";

void expectServiceStartsBeside(const Impostor& impostor) {
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    EXPECT_NE(service.monitorPid(), impostor.pid());
    EXPECT_TRUE(service.stop());
}

TEST(Impostor, AnotherUsersProcessOfTheServicesNameIsNoInstance) {
    if (getuid() != 0) {
        GTEST_SKIP() << "starting a process under another uid needs root";
    }
    Impostor impostor(
        {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "bash", "-c", kPretend});
    ASSERT_GT(impostor.pid(), 0) << "the impostor never showed";
    expectServiceStartsBeside(impostor);
}

TEST(Impostor, AnInstanceInAnotherPidNamespaceIsNoInstance) {
    if (getuid() != 0) {
        GTEST_SKIP() << "a PID namespace of its own needs root";
    }
    Impostor impostor({"unshare", "--pid", "--fork", "--kill-child", "bash", "-c", kPretend});
    ASSERT_GT(impostor.pid(), 0) << "the namespaced process never showed";
    expectServiceStartsBeside(impostor);
}

TEST(Impostor, AProcessOfTheOwnUserAndNamespaceStillCounts) {
    // A grandchild, so that the launch does not take it for a monitor it started.
    Impostor impostor({"bash", "-c", "(" + kPretend + ") & wait"});
    ASSERT_GT(impostor.pid(), 0);
    ServiceProcess service;
    LaunchResult result = service.launch();
    EXPECT_TRUE(result.exitedWith(0));
    EXPECT_EQ(result.printedPid(), impostor.pid());
}

}  // namespace
}  // namespace lctest
