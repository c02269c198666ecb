// Connection threads waiting for their next connection: who gets a handed
// connection, when a waiting thread ends, what happens to connection slots,
// and how a stop dismisses them.
#include "service/waitingConnectionThreads.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/threads/RWSemaphore.h"
#include "support/threads/RWThreadFunction.h"
#include "support/threads/RWThreadManagerImp.h"
#include "tests/support/waitUntil.h"

namespace {

using namespace std::chrono_literals;
using lctest::waitUntil;

// Only reached when a test fails.
constexpr std::chrono::milliseconds kNeverInATest = 60s;

// A descriptor of our own to hand around (closing it harms nothing).
int openDescriptor() {
    return open("/dev/null", O_RDONLY | O_CLOEXEC);
}

// Slots given back so far, taken back again by counting them.
int slotsGivenBack(RWSemaphore& slots) {
    int count = 0;
    while (slots.acquire(0)) {
        ++count;
    }
    return count;
}

struct Awaited {
    bool handed;
    int descriptor;
};

// One awaitNext, on a thread of its own, after a connection that held one of
// `slots`.
std::future<Awaited> awaitOnAnotherThread(WaitingConnectionThreads& threads, RWSemaphore* slots) {
    return std::async(std::launch::async, [&threads, slots] {
        ClientConnection ended(-1, slots);
        bool handed = threads.awaitNext(ended);
        int descriptor = ended.descriptor();
        ended.forget();
        return Awaited{handed, descriptor};
    });
}

bool waitForWaiting(const WaitingConnectionThreads& threads, int count) {
    return waitUntil([&] { return threads.counts().waiting == count; });
}

TEST(WaitingConnectionThreads, WithNoThreadWaitingTheLoopKeepsTheConnection) {
    WaitingConnectionThreads threads(kNeverInATest);
    ClientConnection connection(openDescriptor());
    EXPECT_FALSE(threads.handOver(connection));
    EXPECT_TRUE(connection.isOpen());
    EXPECT_EQ(threads.counts().waiting, 0);
    EXPECT_EQ(threads.counts().live, 0);
}

TEST(WaitingConnectionThreads, AWaitingThreadIsHandedTheNextConnection) {
    WaitingConnectionThreads threads(kNeverInATest);
    RWSemaphore slots(0);
    auto awaited = awaitOnAnotherThread(threads, &slots);
    // The ended connection's slot comes back with the thread already
    // waiting, so a loop that takes that slot finds it.
    ASSERT_TRUE(waitUntil([&] { return slots.acquire(0); }));
    EXPECT_EQ(threads.counts().waiting, 1);

    int descriptor = openDescriptor();
    ClientConnection connection(descriptor);
    EXPECT_TRUE(threads.handOver(connection));
    EXPECT_FALSE(connection.isOpen());
    Awaited result = awaited.get();
    EXPECT_TRUE(result.handed);
    EXPECT_EQ(result.descriptor, descriptor);
    EXPECT_EQ(threads.counts().waiting, 0);
    close(descriptor);
}

TEST(WaitingConnectionThreads, AFailedAcceptIsHandedOnLikeAnyConnection) {
    WaitingConnectionThreads threads(kNeverInATest);
    auto awaited = awaitOnAnotherThread(threads, nullptr);
    ASSERT_TRUE(waitForWaiting(threads, 1));
    ClientConnection failed(-1);
    EXPECT_TRUE(threads.handOver(failed));
    Awaited result = awaited.get();
    EXPECT_TRUE(result.handed);
    EXPECT_EQ(result.descriptor, -1);
}

TEST(WaitingConnectionThreads, TheThreadThatBeganWaitingLastIsHandedToFirst) {
    WaitingConnectionThreads threads(kNeverInATest);
    auto first = awaitOnAnotherThread(threads, nullptr);
    ASSERT_TRUE(waitForWaiting(threads, 1));
    auto second = awaitOnAnotherThread(threads, nullptr);
    ASSERT_TRUE(waitForWaiting(threads, 2));

    int one = openDescriptor();
    int two = openDescriptor();
    ClientConnection toSecond(one);
    ClientConnection toFirst(two);
    EXPECT_TRUE(threads.handOver(toSecond));
    EXPECT_EQ(second.get().descriptor, one);
    EXPECT_TRUE(threads.handOver(toFirst));
    EXPECT_EQ(first.get().descriptor, two);
    ClientConnection third(-1);
    EXPECT_FALSE(threads.handOver(third));
    close(one);
    close(two);
}

// Woken on the loop's processor when nothing else is served, the thread runs
// wherever it may again once it has its connection: otherwise every
// connection thread would end up tied to the loop's processor.
TEST(WaitingConnectionThreads, AHandedThreadKeepsAllOfItsProcessors) {
    cpu_set_t before;
    ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
    if (CPU_COUNT(&before) < 2) {
        GTEST_SKIP() << "one processor: nowhere to be moved to";
    }
    WaitingConnectionThreads threads(kNeverInATest);
    auto awaited = std::async(std::launch::async, [&threads] {
        threads.threadStarted();  // the only connection thread, and idle
        ClientConnection ended;
        threads.awaitNext(ended);
        cpu_set_t after;
        CPU_ZERO(&after);
        sched_getaffinity(0, sizeof after, &after);
        threads.threadEnded();
        return after;
    });
    ASSERT_TRUE(waitForWaiting(threads, 1));
    ClientConnection failed(-1);
    EXPECT_TRUE(threads.handOver(failed));
    cpu_set_t after = awaited.get();
    EXPECT_TRUE(CPU_EQUAL(&before, &after));
}

TEST(WaitingConnectionThreads, AThreadNobodyNeedsEndsAfterItsWait) {
    WaitingConnectionThreads threads(20ms);
    RWSemaphore slots(0);
    Awaited result = awaitOnAnotherThread(threads, &slots).get();
    EXPECT_FALSE(result.handed);
    EXPECT_EQ(slotsGivenBack(slots), 1);
    EXPECT_EQ(threads.counts().waiting, 0);
    // The thread that gave up is gone from the stack: nothing is handed to it.
    ClientConnection failed(-1);
    EXPECT_FALSE(threads.handOver(failed));
}

TEST(WaitingConnectionThreads, CloseDismissesTheWaitingAndTurnsLaterOnesAway) {
    WaitingConnectionThreads threads(kNeverInATest);
    RWSemaphore slots(0);
    auto first = awaitOnAnotherThread(threads, &slots);
    auto second = awaitOnAnotherThread(threads, &slots);
    ASSERT_TRUE(waitForWaiting(threads, 2));

    EXPECT_EQ(threads.close(kNeverInATest), 2);
    EXPECT_FALSE(first.get().handed);
    EXPECT_FALSE(second.get().handed);
    EXPECT_EQ(threads.counts().waiting, 0);

    // A connection that ends after the stop gives its slot back and the
    // thread ends.
    EXPECT_FALSE(awaitOnAnotherThread(threads, &slots).get().handed);
    EXPECT_EQ(slotsGivenBack(slots), 3);
    ClientConnection failed(-1);
    EXPECT_FALSE(threads.handOver(failed));
    EXPECT_EQ(threads.close(kNeverInATest), 0);
}

// Handing over while the wait runs out, again and again: every connection is
// either served by the thread or kept by the loop, never both, never neither,
// and each gives its slot back exactly once.
TEST(WaitingConnectionThreads, NoConnectionIsLostWhenAHandOverMeetsTheEndOfAWait) {
    constexpr int kConnections = 20000;
    WaitingConnectionThreads threads(std::chrono::milliseconds(1));
    RWSemaphore slots(0);
    std::atomic<bool> stop{false};
    int served = 0;
    std::thread worker([&] {
        ClientConnection current;
        while (!stop) {
            served += threads.awaitNext(current);
        }
    });
    int keptByLoop = 0;
    for (int i = 0; i < kConnections; ++i) {
        ClientConnection connection(-1, &slots);
        keptByLoop += !threads.handOver(connection);
    }
    stop = true;
    threads.close(kNeverInATest);
    worker.join();

    EXPECT_EQ(served + keptByLoop, kConnections);
    EXPECT_EQ(slotsGivenBack(slots), kConnections);
    EXPECT_EQ(threads.counts().waiting, 0);
}

// What serveUntilIdle's thread served, for the tests that hand it work.
std::vector<int>* servedDescriptors = nullptr;
WaitingConnectionThreads* serving = nullptr;
RWSemaphore* servingSlots = nullptr;
std::atomic<int> liveWhileServing{-1};
std::atomic<int> slotsBackWhileServing{-1};
std::atomic<int> servedCount{0};

void recordServed(ClientConnection connection) {
    liveWhileServing = serving->counts().live;
    if (servedCount == 0) {
        slotsBackWhileServing = slotsGivenBack(*servingSlots);
    }
    servedDescriptors->push_back(connection.descriptor());
    servedCount++;
    connection.forget();
}

TEST(WaitingConnectionThreads, AThreadServesItsFirstConnectionThenEachHandedOne) {
    WaitingConnectionThreads threads(kNeverInATest);
    RWSemaphore slots(0);
    std::vector<int> served;
    servedCount = 0;
    servedDescriptors = &served;
    serving = &threads;
    servingSlots = &slots;
    std::thread thread([&] { threads.serveUntilIdle(ClientConnection(4, &slots), recordServed); });
    ASSERT_TRUE(waitForWaiting(threads, 1));
    EXPECT_EQ(liveWhileServing, 1);
    // The slot stays taken while the connection is served.
    EXPECT_EQ(slotsBackWhileServing, 0);
    ClientConnection next(5, &slots);
    EXPECT_TRUE(threads.handOver(next));
    ASSERT_TRUE(waitUntil([&] { return servedCount == 2; }));
    ASSERT_TRUE(waitForWaiting(threads, 1));

    threads.close(kNeverInATest);
    thread.join();
    EXPECT_EQ(served, (std::vector<int>{4, 5}));
    EXPECT_EQ(slotsGivenBack(slots), 2);
    EXPECT_EQ(threads.counts().live, 0);
    servedDescriptors = nullptr;
    serving = nullptr;
    servingSlots = nullptr;
}

void serveAndFail(ClientConnection) {
    throw std::runtime_error("the connection's work failed");
}

TEST(WaitingConnectionThreads, AThreadWhoseWorkFailsGivesItsSlotBackAndEnds) {
    WaitingConnectionThreads threads(kNeverInATest);
    RWSemaphore slots(0);
    EXPECT_THROW(threads.serveUntilIdle(ClientConnection(-1, &slots), serveAndFail),
                 std::runtime_error);
    EXPECT_EQ(slotsGivenBack(slots), 1);
    EXPECT_EQ(threads.counts().live, 0);
    EXPECT_EQ(threads.counts().waiting, 0);
}

// The exit's shutdown of registered threads would wait for each waiting
// thread and pause after it; close() leaves it none of them.
WaitingConnectionThreads* registered = nullptr;
std::atomic<pthread_t> registeredThread{};

void waitAsAConnectionThread() {
    registeredThread = pthread_self();
    registered->serveUntilIdle(ClientConnection(-1), [](ClientConnection) {});
}

TEST(WaitingConnectionThreads, DismissedThreadsHaveLeftTheRegistryWhenCloseReturns) {
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

// What an orderly stop waits on: a connection served on a thread counts as
// accepted until the work has ended it, though its slot stays with the thread.
std::atomic<int> acceptedWhileServing{-1};

void recordAccepted(ClientConnection) {
    acceptedWhileServing = ClientConnection::openAccepted();
}

TEST(WaitingConnectionThreads, AServedConnectionCountsAsAcceptedUntilItsWorkEnds) {
    WaitingConnectionThreads threads(kNeverInATest);
    RWSemaphore slots(0);
    const int before = ClientConnection::openAccepted();
    std::thread thread([&] {
        threads.serveUntilIdle(ClientConnection(openDescriptor(), &slots), recordAccepted);
    });
    ASSERT_TRUE(waitForWaiting(threads, 1));
    EXPECT_EQ(acceptedWhileServing, before + 1);
    EXPECT_EQ(ClientConnection::openAccepted(), before);

    threads.close(kNeverInATest);
    thread.join();
    EXPECT_EQ(slotsGivenBack(slots), 1);
}

}  // namespace
