// Connection threads outlive their connection for a while and serve the next
// ones; a stop does not wait for them.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/abuseSupport.h"
#include "tests/support/fileText.h"

namespace lctest {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBurst = 8;
// What the thread registry allows a worker's exit for each thread it has to
// cancel: a stop that had to wait for the waiting threads would take this
// long for each of them.
constexpr auto kRegistryCancelTimeOut = 5000ms;

// The ids of a running process's threads.
std::set<int> threadIds(pid_t pid) {
    std::set<int> ids;
    DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/task").c_str());
    if (dir == nullptr) {
        return ids;
    }
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ids.insert(std::stoi(entry->d_name));
        }
    }
    closedir(dir);
    return ids;
}

// Sends one query on each connection and reads each answer to its end.
void answerBurst(const std::vector<int>& fds) {
    for (int fd : fds) {
        std::string request = encryptRequest(codePayload(1, 4));
        ASSERT_EQ(send(fd, request.data(), request.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(request.size()));
    }
    for (int fd : fds) {
        EXPECT_EQ(decryptReply(readUntilClosed(fd)), 1);
        close(fd);
    }
}

class ConnectionThreadReuse : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(service_.start());
        worker_ = service_.workerPid();
    }

    // kBurst connections open at once, each accepted and begun on its thread
    // (its first trace line written) before this returns.
    std::vector<int> openBurst() {
        std::vector<int> fds;
        for (int i = 0; i < kBurst; ++i) {
            int fd = connectTo(service_.socketPath());
            EXPECT_GE(fd, 0);
            timeval timeout{15, 0};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
            fds.push_back(fd);
        }
        connections_ += kBurst;
        EXPECT_TRUE(eventually(
            [&] {
                return static_cast<int>(occurrences(service_.readTrace(), kConnectionBegun)) >=
                       connections_;
            },
            10s));
        return fds;
    }

    static constexpr const char* kConnectionBegun =
        "logoffCookieAPI_serviceDispatcher() -- Starting with fd_client";
    ServiceProcess service_;
    pid_t worker_ = -1;
    int connections_ = 1;  // the one start() makes to see the service listening
};

TEST_F(ConnectionThreadReuse, ABurstAfterABurstIsServedByTheThreadsTheFirstLeftWaiting) {
    answerBurst(openBurst());
    std::set<int> afterFirst = threadIds(worker_);

    // Held open, the second burst's connections each hold a thread.
    std::vector<int> second = openBurst();
    std::set<int> whileSecond = threadIds(worker_);
    int started = 0;
    for (int id : whileSecond) {
        started += afterFirst.count(id) == 0;
    }
    // A thread per connection anew would make kBurst new threads; one that
    // had not begun to wait yet when its successor came may make one more.
    EXPECT_LT(started, kBurst / 2) << started << " threads started for " << kBurst;
    answerBurst(second);
}

TEST_F(ConnectionThreadReuse, AStopDoesNotWaitForTheWaitingThreads) {
    answerBurst(openBurst());
    pid_t monitor = service_.monitorPid();

    // The worker's own orderly exit: the monitor ends once its worker has.
    auto signalled = Clock::now();
    ASSERT_EQ(kill(worker_, SIGTERM), 0);
    std::optional<int> monitorStatus = service_.waitForExit(monitor, 90s);
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - signalled);

    ASSERT_TRUE(monitorStatus.has_value());
    EXPECT_TRUE(WIFEXITED(*monitorStatus) && WEXITSTATUS(*monitorStatus) == 0) << *monitorStatus;
    EXPECT_TRUE(service_.waitForStderr("signal 15 received", 5s));
    // Waited for, the kBurst waiting threads would each take a cancel
    // time-out, one after the other.
    EXPECT_LT(took, kRegistryCancelTimeOut) << took.count() << " ms";
    std::printf("worker with %d threads waiting ended %lld ms after the stop signal\n", kBurst,
                static_cast<long long>(took.count()));
}

}  // namespace
}  // namespace lctest
