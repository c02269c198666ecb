#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/threads/RWReadersWriterLock.h"
#include "support/threads/RWSemaphore.h"
#include "support/threads/RWThreadFunction.h"
#include "support/threads/RWThreadManagerImp.h"
#include "tests/support/waitUntil.h"

namespace {

using lctest::waitUntil;

constexpr int kInitial = RWRunnableImp::kInitial;
constexpr unsigned long kLongEnough = 20000;  // ms; only reached when a test fails

// What the thread functions below share with the test that runs them.
struct Shared {
    RWSemaphore gate{0};
    cpu_set_t affinity;
    std::atomic<int> calls{0};
    std::atomic<int> argument{-1};
    std::string message;  // written by the thread before its run ends
};
Shared* shared = nullptr;
// The thread under test, for functions that act on their own thread.
RWThreadFunction self;

void recordArgument(int argument) {
    shared->argument = argument;
    shared->calls++;
}
void recordAffinity() {
    pthread_getaffinity_np(pthread_self(), sizeof shared->affinity, &shared->affinity);
    shared->calls++;
}
void countCall() {
    shared->calls++;
}
void waitForGate() {
    shared->gate.acquire();
    shared->calls++;
}
void throwForeign() {
    throw std::runtime_error("foreign");
}
void throwBoundsError() {
    throw RWTHRBoundsError("index out of range");
}
void throwRootMessage() {
    throw RWxmsg("root failure");
}
void serviceUntilCancelled() {
    for (;;) {
        self.serviceCancellation();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
void dropCancellationThenWaitForGate() {
    for (bool dropped = false; !dropped;) {
        try {
            self.serviceCancellation();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } catch (RWCancellation&) {
            dropped = true;
        }
    }
    shared->gate.acquire();
}
void cancelOwnThread() {
    try {
        self.requestCancellation(10);
    } catch (const RWTHRIllegalAccess& failure) {
        shared->message = failure.message();
    }
}

RWReadersWriterLock* contendedLock = nullptr;
void writeUnderContendedLock() {
    WriteGuard guard(*contendedLock);
    guard.release();
}

class ThreadFunction : public ::testing::Test {
  protected:
    void SetUp() override { shared = new Shared; }
    void TearDown() override {
        self = RWThreadFunction();
        delete shared;
        shared = nullptr;
    }

    static bool registered(pthread_t thread) {
        return RWThreadManagerImp::instance().isRegistered(thread);
    }
    // A thread of `function`, started.
    static RWThreadFunction started(void (*function)()) {
        RWThreadFunction thread = RWThreadFunction::make(function);
        thread.start();
        return thread;
    }
    // Waits until the run has ended and returns its completion state.
    static int finish(const RWThreadFunction& thread) {
        EXPECT_NE(thread.waitExecutionState(kInitial, kLongEnough), 0);
        return thread.completionState();
    }
};

TEST_F(ThreadFunction, StartReturnsZeroWithTheThreadRegisteredAndRunning) {
    RWThreadFunction thread = RWThreadFunction::make(waitForGate);
    EXPECT_EQ(thread.executionState(), kInitial);
    EXPECT_EQ(thread.start(), 0);

    pthread_t id;
    ASSERT_TRUE(thread.body()->runningThread(&id));
    EXPECT_TRUE(registered(id));
    EXPECT_EQ(thread.executionState(), RWRunnableImp::kRunning);
    EXPECT_EQ(thread.completionState(), RWRunnableImp::kPending);

    shared->gate.release();
    EXPECT_EQ(finish(thread), RWRunnableImp::kNormal);
    EXPECT_EQ(thread.exception(), nullptr);
    EXPECT_FALSE(registered(id));
    EXPECT_FALSE(thread.body()->runningThread(&id));
}

TEST_F(ThreadFunction, BoundArgumentReachesTheFunction) {
    RWThreadFunction thread = RWThreadFunction::make(recordArgument, 42);
    thread.start();
    EXPECT_EQ(finish(thread), RWRunnableImp::kNormal);
    EXPECT_EQ(shared->argument, 42);
    EXPECT_EQ(shared->calls, 1);
}

// A thread starts on its creator's processor only to get going at once; its
// function runs on every processor the creator may use.
TEST_F(ThreadFunction, FunctionRunsWithTheCreatorsProcessors) {
    cpu_set_t creator;
    ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof creator, &creator), 0);
    RWThreadFunction thread = started(recordAffinity);
    EXPECT_EQ(finish(thread), RWRunnableImp::kNormal);
    ASSERT_EQ(shared->calls, 1);
    EXPECT_TRUE(CPU_EQUAL(&shared->affinity, &creator))
        << CPU_COUNT(&shared->affinity) << " of " << CPU_COUNT(&creator) << " processors";
}

TEST_F(ThreadFunction, DroppingTheLastHandleLeavesTheThreadRunning) {
    RWThreadFunction thread = started(waitForGate);
    pthread_t id;
    ASSERT_TRUE(thread.body()->runningThread(&id));
    thread = RWThreadFunction();

    EXPECT_TRUE(registered(id));
    EXPECT_EQ(shared->calls, 0);
    shared->gate.release();
    EXPECT_TRUE(waitUntil([&] { return !registered(id); }));
    EXPECT_EQ(shared->calls, 1);
}

TEST_F(ThreadFunction, CopiesOfAHandleShareOneThread) {
    RWThreadFunction thread = RWThreadFunction::make(waitForGate);
    RWThreadFunction copy = thread;
    RWThreadFunction assigned;
    assigned = copy;
    assigned = assigned;
    thread.start();
    EXPECT_EQ(copy.body(), thread.body());
    EXPECT_EQ(assigned.executionState(), RWRunnableImp::kRunning);
    shared->gate.release();
    EXPECT_EQ(finish(assigned), RWRunnableImp::kNormal);
}

TEST_F(ThreadFunction, AnExceptionEndsOnlyTheThreadWithCompletionStateFailed) {
    RWThreadFunction foreign = started(throwForeign);
    EXPECT_EQ(finish(foreign), RWRunnableImp::kFailed);
    EXPECT_STREQ(foreign.exception()->message(), "Unrecognized exception");

    RWThreadFunction bounds = started(throwBoundsError);
    EXPECT_EQ(finish(bounds), RWRunnableImp::kFailed);
    std::unique_ptr<RWTHRxmsg> failure = bounds.exception();
    EXPECT_NE(dynamic_cast<RWTHRBoundsError*>(failure.get()), nullptr);
    EXPECT_STREQ(failure->message(), "index out of range");

    RWThreadFunction root = started(throwRootMessage);
    EXPECT_EQ(finish(root), RWRunnableImp::kFailed);
    EXPECT_STREQ(root.exception()->message(), "root failure");
}

TEST_F(ThreadFunction, StartWhileRunningThrowsThreadActiveAndAfterTheEndRunsAgain) {
    RWThreadFunction thread = started(waitForGate);
    try {
        thread.start();
        ADD_FAILURE() << "second start accepted";
    } catch (const RWTHRThreadActive& failure) {
        EXPECT_STREQ(failure.message(), "RWRunnableImp::start - The runnable is already started");
    }
    shared->gate.release();
    EXPECT_EQ(finish(thread), RWRunnableImp::kNormal);

    shared->gate.release();
    EXPECT_EQ(thread.start(), 0);
    EXPECT_EQ(finish(thread), RWRunnableImp::kNormal);
    EXPECT_EQ(shared->calls, 2);
}

TEST_F(ThreadFunction, EmptyHandleThrowsInvalidPointer) {
    RWThreadFunction empty;
    EXPECT_FALSE(empty.isValid());
    try {
        empty.start();
        ADD_FAILURE() << "empty handle started";
    } catch (const RWTHRInvalidPointer& failure) {
        EXPECT_STREQ(failure.message(), "Invalid pointer");
    }
}

TEST_F(ThreadFunction, EmptyFunctorMakesTheRunDoNothing) {
    RWThreadFunction thread = RWThreadFunction::make(RWFunctor0());
    thread.start();
    EXPECT_EQ(finish(thread), RWRunnableImp::kNormal);
}

TEST_F(ThreadFunction, CancellationServicedByTheFunctionEndsTheRunAsCanceled) {
    self = RWThreadFunction::make(serviceUntilCancelled);
    self.start();
    EXPECT_EQ(self.requestCancellation(kLongEnough), 1);
    EXPECT_EQ(self.completionState(), RWRunnableImp::kCanceled);
    std::unique_ptr<RWTHRxmsg> failure = self.exception();
    EXPECT_NE(dynamic_cast<RWTHROperationCanceled*>(failure.get()), nullptr);
    EXPECT_STREQ(failure->message(), "Runnable cancelled");
}

TEST_F(ThreadFunction, CancellationDroppedByTheFunctionIsReportedAsAbandoned) {
    self = RWThreadFunction::make(dropCancellationThenWaitForGate);
    self.start();
    EXPECT_EQ(self.requestCancellation(kLongEnough), 2);
    EXPECT_EQ(self.executionState(), RWRunnableImp::kRunning);
    shared->gate.release();
    EXPECT_EQ(finish(self), RWRunnableImp::kNormal);
}

TEST_F(ThreadFunction, CancellationOfABusyThreadTimesOutWithZero) {
    RWThreadFunction thread = started(waitForGate);
    EXPECT_EQ(thread.requestCancellation(20), 0);
    shared->gate.release();
    EXPECT_EQ(finish(thread), RWRunnableImp::kNormal);
}

TEST_F(ThreadFunction, CancellationBeforeStartCancelsTheStartItself) {
    RWThreadFunction thread = RWThreadFunction::make(countCall);
    EXPECT_EQ(thread.requestCancellation(kLongEnough), 1);
    EXPECT_EQ(thread.start(), RWRunnableImp::kCanceled);
    EXPECT_EQ(thread.executionState(), kInitial);
    EXPECT_STREQ(thread.exception()->message(), "Runnable cancelled");
    EXPECT_EQ(shared->calls, 0);

    EXPECT_EQ(thread.start(), 0);
    EXPECT_EQ(finish(thread), RWRunnableImp::kNormal);
    EXPECT_EQ(shared->calls, 1);
}

TEST_F(ThreadFunction, CancellationRequestedByTheThreadItselfIsIllegal) {
    self = RWThreadFunction::make(cancelOwnThread);
    self.start();
    EXPECT_EQ(finish(self), RWRunnableImp::kNormal);
    EXPECT_EQ(shared->message,
              "RWRunnableImp::requestCancellation - Internal thread illegally attempted to call "
              "this external function");
}

TEST_F(ThreadFunction, ThreadCancelledWhileWaitingForTheWriteLockLeavesNoWaitingWriter) {
    RWReadersWriterLock lock;
    contendedLock = &lock;
    lock.acquireRead();
    RWThreadFunction writer = started(writeUnderContendedLock);
    ASSERT_TRUE(waitUntil([&] { return lock.snapshot().waitingWriters == 1; }));
    pthread_t id;
    ASSERT_TRUE(writer.body()->runningThread(&id));

    pthread_cancel(id);
    EXPECT_EQ(finish(writer), RWRunnableImp::kCanceled);
    EXPECT_FALSE(registered(id));
    RWReadersWriterLock::Snapshot after = lock.snapshot();
    EXPECT_EQ(after.waitingWriters, 0);
    EXPECT_EQ(after.holders, 1);
    EXPECT_TRUE(lock.tryAcquireRead());
    lock.release();
    lock.release();
}

}  // namespace
