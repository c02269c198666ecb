// Connection threads waiting for their next connection: who gets a handed
// descriptor, when a waiting thread ends, and how a stop dismisses them.
#include "service/waitingConnectionThreads.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <future>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/threads/RWThreadFunction.h"
#include "support/threads/RWThreadManagerImp.h"
#include "tests/support/waitUntil.h"

namespace {

using namespace std::chrono_literals;
using lctest::waitUntil;

// Only reached when a test fails.
constexpr std::chrono::milliseconds kNeverInATest = 60s;

// What the connectionDone callbacks report to the test that runs them.
WaitingConnectionThreads* observed = nullptr;
std::atomic<int> connectionsDone{0};
std::atomic<int> waitingWhenDone{-1};

void noteConnectionDone() {
    waitingWhenDone = observed != nullptr ? observed->counts().waiting : -1;
    connectionsDone++;
}

struct Awaited {
    bool handed;
    int fd_client;
};

// One awaitNext on a thread of its own.
std::future<Awaited> awaitOnAnotherThread(WaitingConnectionThreads& threads) {
    return std::async(std::launch::async, [&threads] {
        int fd_client = -1;
        bool handed = threads.awaitNext(fd_client, noteConnectionDone);
        return Awaited{handed, fd_client};
    });
}

class WaitingConnectionThreadsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        connectionsDone = 0;
        waitingWhenDone = -1;
    }
    void TearDown() override { observed = nullptr; }

    bool waitForWaiting(const WaitingConnectionThreads& threads, int count) {
        return waitUntil([&] { return threads.counts().waiting == count; });
    }
};

TEST_F(WaitingConnectionThreadsTest, WithNoThreadWaitingTheLoopMustStartOne) {
    WaitingConnectionThreads threads(kNeverInATest);
    EXPECT_FALSE(threads.handOver(7));
    EXPECT_EQ(threads.counts().waiting, 0);
    EXPECT_EQ(threads.counts().live, 0);
}

TEST_F(WaitingConnectionThreadsTest, AWaitingThreadServesTheNextDescriptor) {
    WaitingConnectionThreads threads(kNeverInATest);
    observed = &threads;
    auto awaited = awaitOnAnotherThread(threads);
    ASSERT_TRUE(waitForWaiting(threads, 1));
    // The ended connection's slot went back only once the thread was
    // waiting, so a loop that takes that slot finds it.
    EXPECT_EQ(connectionsDone, 1);
    EXPECT_EQ(waitingWhenDone, 1);

    EXPECT_TRUE(threads.handOver(42));
    Awaited result = awaited.get();
    EXPECT_TRUE(result.handed);
    EXPECT_EQ(result.fd_client, 42);
    EXPECT_EQ(threads.counts().waiting, 0);
}

TEST_F(WaitingConnectionThreadsTest, AFailedAcceptIsHandedOnLikeAnyDescriptor) {
    WaitingConnectionThreads threads(kNeverInATest);
    auto awaited = awaitOnAnotherThread(threads);
    ASSERT_TRUE(waitForWaiting(threads, 1));
    EXPECT_TRUE(threads.handOver(-1));
    Awaited result = awaited.get();
    EXPECT_TRUE(result.handed);
    EXPECT_EQ(result.fd_client, -1);
}

TEST_F(WaitingConnectionThreadsTest, TheThreadThatBeganWaitingLastIsHandedToFirst) {
    WaitingConnectionThreads threads(kNeverInATest);
    auto first = awaitOnAnotherThread(threads);
    ASSERT_TRUE(waitForWaiting(threads, 1));
    auto second = awaitOnAnotherThread(threads);
    ASSERT_TRUE(waitForWaiting(threads, 2));

    EXPECT_TRUE(threads.handOver(11));
    EXPECT_EQ(second.get().fd_client, 11);
    EXPECT_TRUE(threads.handOver(12));
    EXPECT_EQ(first.get().fd_client, 12);
    EXPECT_FALSE(threads.handOver(13));
}

// Woken on the loop's processor when nothing else is served, the thread runs
// wherever it may again once it has its descriptor: otherwise every connection
// thread would end up tied to the loop's processor.
TEST_F(WaitingConnectionThreadsTest, AHandedThreadKeepsAllOfItsProcessors) {
    cpu_set_t before;
    ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
    if (CPU_COUNT(&before) < 2) {
        GTEST_SKIP() << "one processor: nowhere to be moved to";
    }
    WaitingConnectionThreads threads(kNeverInATest);
    auto awaited = std::async(std::launch::async, [&threads] {
        threads.threadStarted();  // the only connection thread, and idle
        int fd_client = -1;
        threads.awaitNext(fd_client, [] {});
        cpu_set_t after;
        CPU_ZERO(&after);
        sched_getaffinity(0, sizeof after, &after);
        threads.threadEnded();
        return after;
    });
    ASSERT_TRUE(waitForWaiting(threads, 1));
    EXPECT_TRUE(threads.handOver(3));
    cpu_set_t after = awaited.get();
    EXPECT_TRUE(CPU_EQUAL(&before, &after));
}

TEST_F(WaitingConnectionThreadsTest, AThreadNobodyNeedsEndsAfterItsWait) {
    WaitingConnectionThreads threads(20ms);
    Awaited result = awaitOnAnotherThread(threads).get();
    EXPECT_FALSE(result.handed);
    EXPECT_EQ(connectionsDone, 1);
    EXPECT_EQ(threads.counts().waiting, 0);
    // The thread that gave up is gone from the stack: nothing is handed to it.
    EXPECT_FALSE(threads.handOver(5));
}

TEST_F(WaitingConnectionThreadsTest, CloseDismissesTheWaitingAndTurnsLaterOnesAway) {
    WaitingConnectionThreads threads(kNeverInATest);
    auto first = awaitOnAnotherThread(threads);
    auto second = awaitOnAnotherThread(threads);
    ASSERT_TRUE(waitForWaiting(threads, 2));

    EXPECT_EQ(threads.close(kNeverInATest), 2);
    EXPECT_FALSE(first.get().handed);
    EXPECT_FALSE(second.get().handed);
    EXPECT_EQ(threads.counts().waiting, 0);

    // A connection that ends after the stop gives its slot back and ends.
    Awaited late = awaitOnAnotherThread(threads).get();
    EXPECT_FALSE(late.handed);
    EXPECT_EQ(connectionsDone, 3);
    EXPECT_FALSE(threads.handOver(9));
    EXPECT_EQ(threads.close(kNeverInATest), 0);
}

// Handing over while the wait runs out, again and again: every descriptor is
// either served by the thread or left to the loop, never both, never neither.
TEST_F(WaitingConnectionThreadsTest, NoDescriptorIsLostWhenAHandOverMeetsTheEndOfAWait) {
    constexpr int kDescriptors = 20000;
    WaitingConnectionThreads threads(std::chrono::milliseconds(1));
    std::atomic<bool> stop{false};
    std::vector<int> served;
    std::thread worker([&] {
        while (!stop) {
            int fd_client = -1;
            if (threads.awaitNext(fd_client, noteConnectionDone)) {
                served.push_back(fd_client);
            }
        }
    });
    std::vector<int> keptByLoop;
    for (int fd = 0; fd < kDescriptors; ++fd) {
        if (!threads.handOver(fd)) {
            keptByLoop.push_back(fd);
        }
    }
    stop = true;
    threads.close(kNeverInATest);
    worker.join();

    std::set<int> all(served.begin(), served.end());
    all.insert(keptByLoop.begin(), keptByLoop.end());
    EXPECT_EQ(served.size() + keptByLoop.size(), static_cast<size_t>(kDescriptors));
    EXPECT_EQ(all.size(), static_cast<size_t>(kDescriptors));
    EXPECT_EQ(threads.counts().waiting, 0);
}

// What serveUntilIdle's thread served, for the test that hands it work.
std::vector<int>* servedDescriptors = nullptr;
WaitingConnectionThreads* serving = nullptr;
std::atomic<int> liveWhileServing{-1};

void recordServed(int fd_client) {
    liveWhileServing = serving->counts().live;
    servedDescriptors->push_back(fd_client);
}

TEST_F(WaitingConnectionThreadsTest, AThreadServesItsFirstConnectionThenEachHandedOne) {
    WaitingConnectionThreads threads(kNeverInATest);
    std::vector<int> served;
    servedDescriptors = &served;
    serving = &threads;
    std::thread thread([&] { threads.serveUntilIdle(4, recordServed, noteConnectionDone); });
    ASSERT_TRUE(waitForWaiting(threads, 1));
    EXPECT_EQ(liveWhileServing, 1);
    EXPECT_TRUE(threads.handOver(5));
    ASSERT_TRUE(waitUntil([&] { return connectionsDone == 2; }));
    ASSERT_TRUE(waitForWaiting(threads, 1));

    threads.close(kNeverInATest);
    thread.join();
    EXPECT_EQ(served, (std::vector<int>{4, 5}));
    EXPECT_EQ(threads.counts().live, 0);
    servedDescriptors = nullptr;
    serving = nullptr;
}

void serveAndFail(int) {
    throw std::runtime_error("the connection's work failed");
}

TEST_F(WaitingConnectionThreadsTest, AThreadWhoseWorkFailsNoLongerCountsAsLive) {
    WaitingConnectionThreads threads(kNeverInATest);
    EXPECT_THROW(threads.serveUntilIdle(4, serveAndFail, noteConnectionDone), std::runtime_error);
    EXPECT_EQ(threads.counts().live, 0);
    EXPECT_EQ(threads.counts().waiting, 0);
}

// The exit's shutdown of registered threads would wait for each waiting
// thread and pause after it; close() leaves it none of them.
WaitingConnectionThreads* registered = nullptr;
std::atomic<pthread_t> registeredThread{};

void waitAsAConnectionThread() {
    registeredThread = pthread_self();
    registered->threadStarted();
    int fd_client = -1;
    while (registered->awaitNext(fd_client, [] {})) {
    }
    registered->threadEnded();
}

TEST_F(WaitingConnectionThreadsTest, DismissedThreadsHaveLeftTheRegistryWhenCloseReturns) {
    WaitingConnectionThreads threads(kNeverInATest);
    registered = &threads;
    RWThreadFunction thread = RWThreadFunction::make(waitAsAConnectionThread);
    thread.start();
    ASSERT_TRUE(waitForWaiting(threads, 1));
    EXPECT_EQ(threads.counts().live, 1);
    ASSERT_TRUE(RWThreadManagerImp::instance().isRegistered(registeredThread.load()));

    EXPECT_EQ(threads.close(kNeverInATest), 1);
    EXPECT_FALSE(RWThreadManagerImp::instance().isRegistered(registeredThread.load()));
    EXPECT_TRUE(waitUntil([&] { return threads.counts().live == 0; }));
    registered = nullptr;
}

}  // namespace
