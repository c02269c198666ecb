// What process exit does to threads that still run. Each case runs in a child
// process, since it ends the process.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "support/threads/RWReadersWriterLock.h"
#include "support/threads/RWThreadFunction.h"
#include "tests/support/waitUntil.h"

namespace {

using lctest::waitUntil;

// A static lock built before any thread is made, as the service's locks are:
// it is destroyed after the exit handler has dealt with the threads.
RWReadersWriterLock sharedLock;
int neverWritten[2];

void holdTheWriteLockAndBlock() {
    WriteGuard guard(sharedLock);
    char byte;
    ssize_t ignored = read(neverWritten[0], &byte, 1);
    (void)ignored;
    guard.release();
}

void waitForTheReadLock() {
    ReadGuard guard(sharedLock);
    guard.release();
}

void exitTheProcess() {
    std::exit(0);
}

struct ChildOutcome {
    int status;
    double seconds;
};

template <class Body>
ChildOutcome runInChild(Body body) {
    std::fflush(nullptr);  // the child's exit must not write the parent's buffers
    auto begin = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        body();
        _exit(99);
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - begin;
    return ChildOutcome{status, elapsed.count()};
}

TEST(ProcessExit, WaitsForEachBlockedThreadInTurnThenTerminatesIt) {
    ChildOutcome outcome = runInChild([] {
        if (pipe(neverWritten) != 0) {
            _exit(98);
        }
        RWThreadFunction holder = RWThreadFunction::make(holdTheWriteLockAndBlock);
        holder.start();
        waitUntil([] { return sharedLock.snapshot().holders == -1; });
        RWThreadFunction waiter = RWThreadFunction::make(waitForTheReadLock);
        waiter.start();
        waitUntil([] { return sharedLock.snapshot().waitingReaders == 1; });
        std::exit(0);
    });
    ASSERT_TRUE(WIFEXITED(outcome.status)) << "status " << outcome.status;
    EXPECT_EQ(WEXITSTATUS(outcome.status), 0);
    // Two threads, each given the cancellation time-out of 5 s in turn.
    EXPECT_GE(outcome.seconds, 9.5);
    EXPECT_LT(outcome.seconds, 60.0);
}

TEST(ProcessExit, TheExitingThreadDoesNotWaitForItself) {
    ChildOutcome outcome = runInChild([] {
        RWThreadFunction exiting = RWThreadFunction::make(exitTheProcess);
        exiting.start();
        for (;;) {
            pause();
        }
    });
    ASSERT_TRUE(WIFEXITED(outcome.status)) << "status " << outcome.status;
    EXPECT_EQ(WEXITSTATUS(outcome.status), 0);
    EXPECT_LT(outcome.seconds, 4.0);
}

}  // namespace
