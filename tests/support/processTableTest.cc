// Picking the worker of a service from the process table while its launcher
// still lives, and after: real processes, named as the service's are.
#include "tests/support/processTable.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/hostTestLock.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

using namespace std::chrono_literals;

// Forks a child that takes the service's name and runs `body`, then waits
// to be killed.
template <class Body>
pid_t forkNamed(Body body) {
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_NAME, "VOKLogoffCookie");
        body();
        for (;;) {
            pause();
        }
    }
    return pid;
}

// `first` adopts orphans as a namespace's first process does, starts a
// launcher that starts a monitor that starts a worker, and reaps the
// launcher when it ends on SIGTERM. The launcher's pid goes up `pipe`.
pid_t startTree(int pipe) {
    pid_t first = fork();
    if (first == 0) {
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        pid_t launcher = forkNamed([] {
            signal(SIGTERM, SIG_DFL);
            forkNamed([] { forkNamed([] {}); });
        });
        if (write(pipe, &launcher, sizeof launcher) != sizeof launcher) {
            _exit(1);
        }
        // Reaps the launcher, then whatever else ends, until killed.
        for (;;) {
            if (wait(nullptr) < 0) {
                pause();
            }
        }
    }
    return first;
}

TEST(ServiceWorkerUnder, IsNoneWhileTheLauncherLivesThenTheMonitorsChild) {
    // Processes by the service's name: no service of another test may see them.
    HostTestLock lock;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t first = startTree(fds[1]);
    ASSERT_GT(first, 0);
    pid_t launcher = -1;
    ASSERT_EQ(read(fds[0], &launcher, sizeof launcher), static_cast<ssize_t>(sizeof launcher));
    close(fds[0]);
    close(fds[1]);
    // Launcher, monitor and worker all run.
    auto childOf = [](pid_t parent) {
        for (pid_t pid : allPids()) {
            if (parentOf(pid) == parent) {
                return pid;
            }
        }
        return -1;
    };
    pid_t monitor = -1;
    pid_t worker = -1;
    ASSERT_TRUE(waitUntil(
        [&] {
            monitor = childOf(launcher);
            worker = monitor > 0 ? childOf(monitor) : -1;
            return worker > 0 && isServiceProcess(worker);
        },
        10s));

    EXPECT_EQ(serviceWorkerUnder(first), -1)
        << "the monitor " << monitor << " taken for the worker";

    kill(launcher, SIGTERM);
    ASSERT_TRUE(waitUntil([&] { return parentOf(monitor) == first; }, 10s));
    EXPECT_EQ(serviceWorkerUnder(first), worker);

    kill(worker, SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return !isAlive(worker); }, 10s));
    EXPECT_EQ(serviceWorkerUnder(first), -1);

    kill(monitor, SIGKILL);
    kill(first, SIGKILL);
    waitpid(first, nullptr, 0);
    waitUntil([&] { return !isAlive(monitor); }, 10s);
}

}  // namespace
}  // namespace lctest
