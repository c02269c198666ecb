// Load the service must bear without losing a recorded logoff or an answer:
// thousands of clients that connect and say nothing, and a storm of
// connections from many threads at once. One service runs the whole suite;
// the cookies recorded at its start are asked for after every test.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/e2e/abuseSupport.h"

namespace lctest {
namespace {

using Clock = std::chrono::steady_clock;

class AbuseLoad : public ServiceSuite {
  protected:
    static void SetUpTestSuite() {
        // Tracing off: every traced line opens the trace file, and the load
        // here is about serving, not about the diagnostic channel.
        startSuite({{"VOKTRACELEVEL", std::nullopt}}, "recorded-before-load", 20);
    }
    void SetUp() override {
        ServiceSuite::SetUp();
        worker_ = service_->workerPid();
        // The first insert has started the cleanup thread; the fewest
        // threads seen for half a second, once the recording connections
        // have wound down, are what the worker runs with no client.
        idleThreads_ = threadCount(worker_);
        for (int i = 0; i < 25; ++i) {
            std::this_thread::sleep_for(20ms);
            idleThreads_ = std::min(idleThreads_, threadCount(worker_));
        }
        ASSERT_GT(idleThreads_, 0);
        idleDescriptors_ = descriptorCount(worker_);
    }

    // Once every client has gone, the worker is back to the threads and
    // descriptors it had before: nothing leaked.
    void expectWorkerBackToIdle() {
        EXPECT_TRUE(eventually([&] { return threadCount(worker_) <= idleThreads_; }, 20s))
            << threadCount(worker_) << " threads, " << idleThreads_ << " before";
        EXPECT_TRUE(eventually([&] { return descriptorCount(worker_) <= idleDescriptors_; }, 20s))
            << descriptorCount(worker_) << " descriptors, " << idleDescriptors_ << " before";
    }

    pid_t worker_ = -1;
    int idleThreads_ = 0;
    int idleDescriptors_ = 0;
};

TEST_F(AbuseLoad, TwoThousandSilentConnectionsDoNotKeepAnswersFromAWellBehavedClient) {
    constexpr int kSilent = 2000;
    constexpr int kMaxRequests = 200;
    ASSERT_GE(raiseOwnDescriptorLimit(kSilent + 512), static_cast<rlim_t>(kSilent + 512));

    std::vector<int> silent;
    for (int i = 0; i < kSilent; ++i) {
        int fd = connectTo(socket());
        ASSERT_GE(fd, 0) << "connection " << i;
        silent.push_back(fd);
    }
    // Connected is not yet accepted: the last ones may still wait in the
    // listen backlog, in front of any newcomer. Give the worker a moment to
    // take them all (a thread each), without waiting past their time-out.
    int peakThreads = 0;
    eventually(
        [&] {
            peakThreads = std::max(peakThreads, threadCount(worker_));
            return peakThreads >= idleThreads_ + kSilent;
        },
        3s);

    // While they are held, the well-behaved client records and asks, each
    // exchange within a second, for as long as the service holds them.
    auto opened = Clock::now();
    Clock::duration slowest{};
    int exchanges = 0;
    int wrong = 0;
    for (int i = 0; i < kMaxRequests && Clock::now() - opened < 4s; ++i) {
        CookieFields cookie = laterCookie("beside-silent-" + std::to_string(i));
        for (auto [payload, expected] :
             {std::pair{addPayload(cookie), -1}, std::pair{queryPayload(cookie), 1},
              std::pair{queryPayload(laterCookie("never-added")), 0}}) {
            auto begin = Clock::now();
            std::optional<int32_t> answer = ask(socket(), payload);
            auto took = Clock::now() - begin;
            slowest = std::max(slowest, took);
            EXPECT_LT(took, 1s) << "exchange " << exchanges;
            wrong += answer != expected;
            ++exchanges;
        }
        peakThreads = std::max(peakThreads, threadCount(worker_));
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GE(exchanges, 30);

    // The service drops each silent client after its receive time-out.
    int closedByService = 0;
    for (int fd : silent) {
        timeval wait{15, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char byte;
        closedByService += read(fd, &byte, 1) == 0;
        close(fd);
    }
    EXPECT_EQ(closedByService, kSilent);
    RecordProperty("exchanges", exchanges);
    RecordProperty(
        "slowest_ms",
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count()));
    RecordProperty("peak_worker_threads", peakThreads);
    std::printf(
        "silent connections %d: %d exchanges beside them, slowest %lld ms, peak worker "
        "threads %d\n",
        kSilent, exchanges,
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count()),
        peakThreads);
    expectWorkerBackToIdle();
}

TEST_F(AbuseLoad, SixtyFourReadyClientsAmongAThousandSilentOnesAreEachAnsweredWithinASecond) {
    constexpr int kReady = 64;
    constexpr int kSilent = 1000;
    ASSERT_GE(raiseOwnDescriptorLimit(kSilent + 512), static_cast<rlim_t>(kSilent + 512));
    std::vector<std::string> requests;
    for (int i = 0; i < kReady; ++i) {
        requests.push_back(encryptRequest(queryPayload(laterCookie("ready-" + std::to_string(i)))));
    }
    std::vector<std::optional<std::string>> replies(kReady);
    std::vector<Clock::duration> took(kReady);
    std::vector<int> silent(kSilent, -1);
    // Everyone starts at once: the ready clients each connect and write their
    // whole request, one more thread opens the silent connections.
    std::latch start(kReady + 1);
    std::vector<std::thread> clients;
    for (int i = 0; i < kReady; ++i) {
        clients.emplace_back([&, i] {
            start.arrive_and_wait();
            auto begin = Clock::now();
            replies[i] = roundTrip(socket(), requests[i]);
            took[i] = Clock::now() - begin;
        });
    }
    clients.emplace_back([&] {
        start.arrive_and_wait();
        for (int& fd : silent) {
            fd = connectTo(socket());
        }
    });
    for (std::thread& client : clients) {
        client.join();
    }
    std::printf("%d ready clients beside %d silent ones: slowest answered in %lld ms\n", kReady,
                kSilent,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           *std::max_element(took.begin(), took.end()))
                                           .count()));
    for (int i = 0; i < kReady; ++i) {
        ASSERT_TRUE(replies[i]) << "client " << i;
        EXPECT_EQ(decryptReply(*replies[i]), 0) << "client " << i;
        // A generous bound: served ahead of or beside the silent ones, never
        // behind their time-out.
        EXPECT_LT(took[i], 1s) << "client " << i;
    }
    for (int fd : silent) {
        EXPECT_GE(fd, 0);
        close(fd);
    }
    expectWorkerBackToIdle();
}

TEST_F(AbuseLoad, TwentyThousandConnectionsFromSixtyFourThreadsAreEachAnsweredRight) {
    constexpr int kThreads = 64;
    constexpr int kConnections = 20000;
    std::atomic<int> right{0};
    std::mutex failuresLock;
    std::vector<std::string> failures;

    // Each thread records its own cookies and asks for them back right away;
    // between them it asks for cookies never recorded and for cookies older
    // than the service, which count as logged off.
    auto client = [&](int thread) {
        const int share = kConnections / kThreads + (thread < kConnections % kThreads);
        CookieFields last;
        for (int i = 0; i < share; ++i) {
            std::string payload;
            int32_t expected = 0;
            switch (i % 4) {
                case 0:
                    last = laterCookie("storm-" + std::to_string(thread) + "-" + std::to_string(i));
                    payload = addPayload(last);
                    expected = -1;
                    break;
                case 1:
                    payload = queryPayload(last);
                    expected = 1;
                    break;
                case 2:
                    payload = queryPayload(laterCookie("storm-never-" + std::to_string(i)));
                    expected = 0;
                    break;
                default: {
                    CookieFields old = laterCookie("storm-old");
                    old.creationTime = 1;
                    payload = queryPayload(old);
                    expected = 1;
                }
            }
            std::optional<int32_t> answer = ask(socket(), payload);
            if (answer == expected) {
                ++right;
            } else {
                std::lock_guard<std::mutex> lock(failuresLock);
                if (failures.size() < 10) {
                    failures.push_back("thread " + std::to_string(thread) + " request " +
                                       std::to_string(i) + " kind " + std::to_string(i % 4) + ": " +
                                       (answer ? std::to_string(*answer) : "no reply"));
                }
            }
        }
    };
    auto begin = Clock::now();
    std::vector<std::thread> clients;
    for (int t = 0; t < kThreads; ++t) {
        clients.emplace_back(client, t);
    }
    for (std::thread& thread : clients) {
        thread.join();
    }
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin);

    EXPECT_EQ(right.load(), kConnections) << ::testing::PrintToString(failures);
    EXPECT_EQ(ask(socket(), codePayload(1, 4)), 1);
    RecordProperty("elapsed_ms", static_cast<int>(took.count()));
    std::printf("%d connections from %d threads in %lld ms\n", kConnections, kThreads,
                static_cast<long long>(took.count()));
    expectWorkerBackToIdle();
}

}  // namespace
}  // namespace lctest
