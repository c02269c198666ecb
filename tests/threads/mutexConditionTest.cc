#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/threads/RWCondition.h"
#include "support/threads/RWMutexLock.h"
#include "support/threads/RWSemaphore.h"

namespace {

// A static mutex used by an object whose constructor runs before the
// mutex's own: objects of one file are constructed in the order they are
// defined, so `lateMutex` is still zero-filled storage when `earlyUser` runs.
extern RWMutexLock lateMutex;

struct EarlyUser {
    bool heldAfterAcquire = false;
    EarlyUser() {
        lateMutex.acquire();
        heldAfterAcquire = !lateMutex.tryAcquire();
        lateMutex.release();
    }
};

EarlyUser earlyUser;
RWMutexLock lateMutex;

TEST(MutexLock, ZeroFilledMutexInitialisesItselfOnFirstAcquire) {
    EXPECT_TRUE(earlyUser.heldAfterAcquire);
    lateMutex.acquire();
    lateMutex.release();
}

TEST(MutexLock, TryAcquireOfAMutexHeldByAnotherThreadReturnsFalse) {
    RWMutexLock mutex;
    mutex.acquire();
    bool acquiredElsewhere = true;
    std::thread other([&] { acquiredElsewhere = mutex.tryAcquire(); });
    other.join();
    EXPECT_FALSE(acquiredElsewhere);
    mutex.release();
    std::thread again([&] {
        acquiredElsewhere = mutex.tryAcquire();
        mutex.release();
    });
    again.join();
    EXPECT_TRUE(acquiredElsewhere);
}

TEST(MutexLock, DestroyingAHeldMutexIsQuiet) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the race detector reports this misuse on purpose";
#endif
    // At exit a terminated thread may leave a static mutex held.
    auto* mutex = new RWMutexLock;
    mutex->acquire();
    delete mutex;
}

TEST(ConditionDeadline, AddsWholeSecondsAndMilliseconds) {
    timespec deadline = rwDeadlineAfter(timeval{100, 0}, 1500);
    EXPECT_EQ(deadline.tv_sec, 101);
    EXPECT_EQ(deadline.tv_nsec, 500000000);
}

TEST(ConditionDeadline, CarriesTheNanosecondPartIntoSeconds) {
    timespec deadline = rwDeadlineAfter(timeval{100, 600000}, 1500);
    EXPECT_EQ(deadline.tv_sec, 102);
    EXPECT_EQ(deadline.tv_nsec, 100000000);

    deadline = rwDeadlineAfter(timeval{100, 500000}, 500);
    EXPECT_EQ(deadline.tv_sec, 101);
    EXPECT_EQ(deadline.tv_nsec, 0);

    deadline = rwDeadlineAfter(timeval{100, 999999}, 0);
    EXPECT_EQ(deadline.tv_sec, 100);
    EXPECT_EQ(deadline.tv_nsec, 999999000);
}

TEST(Condition, TimedWaitReportsATimeOutWithZero) {
    RWMutexLock mutex;
    RWCondition condition(mutex);
    RWMutexLock::LockGuard guard(mutex);
    EXPECT_EQ(condition.wait(20), 0);
}

TEST(Condition, TimedWaitReportsASignalWithOne) {
    RWMutexLock mutex;
    RWCondition condition(mutex);
    bool ready = false;
    int result = -1;
    mutex.acquire();
    std::thread signaller([&] {
        RWMutexLock::LockGuard guard(mutex);
        ready = true;
        condition.signal();
    });
    while (!ready) {
        result = condition.wait(60000);
    }
    mutex.release();
    signaller.join();
    EXPECT_EQ(result, 1);
}

TEST(Condition, SignalAllWakesEveryWaiter) {
    RWMutexLock mutex;
    RWCondition condition(mutex);
    bool open = false;
    int waiting = 0;
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            RWMutexLock::LockGuard guard(mutex);
            ++waiting;
            while (!open) {
                condition.wait();
            }
        });
    }
    for (;;) {
        RWMutexLock::LockGuard guard(mutex);
        if (waiting == 3) {
            open = true;
            condition.signalAll();
            break;
        }
    }
    for (std::thread& waiter : waiters) {
        waiter.join();
    }
}

TEST(Semaphore, ReleaseBeforeAcquireLetsTheNextAcquirePass) {
    RWSemaphore semaphore(0);
    semaphore.release();
    semaphore.acquire();
    EXPECT_FALSE(semaphore.acquire(10));
}

TEST(Semaphore, AcquireWaitsForARelease) {
    RWSemaphore semaphore(0);
    std::atomic<bool> passed{false};
    std::thread waiter([&] {
        semaphore.acquire();
        passed = true;
    });
    EXPECT_FALSE(passed);
    semaphore.release();
    waiter.join();
    EXPECT_TRUE(passed);
}

TEST(Semaphore, InitialCountIsConsumedOneByOne) {
    RWSemaphore semaphore(2);
    EXPECT_TRUE(semaphore.acquire(0));
    EXPECT_TRUE(semaphore.acquire(0));
    EXPECT_FALSE(semaphore.acquire(0));
}

}  // namespace
