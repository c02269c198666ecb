// Faults on the serving side of real connections. The client loop and the
// dispatcher run in this process on a socket of their own, and allocations
// or thread creations made by their threads fail on purpose. Whatever fails,
// the client sees the end of its connection (with the right reply or none),
// the connection's slot comes back, no thread is left behind, and the next
// client is served. The loop also serves no more connections at once than it
// has slots, and pauses after an accept or a select that fails instead of
// spinning: what it is doing is read from the system call it is blocked in.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCache.h"
#include "crypto/logoffCookiePipe_crypt.h"
#include "diag/serviceMetrics.h"
#include "service/clientConnection.h"
#include "service/clientLoop.h"
#include "service/connectionSlots.h"
#include "service/listenSocket.h"
#include "service/waitingConnectionThreads.h"
#include "tests/e2e/abuseSupport.h"
#include "tests/support/faultInjection.h"
#include "tests/support/waitUntil.h"

// The cache owns the cookies these tests record and frees them only as they
// expire, which none does before the process ends: not leaks.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:logoffCookieAPI_addToCache\n";
}

// Quiet about using it: the sanitizer runs count any report file as a failure.
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}

namespace lctest {
namespace {

constexpr auto kLongEnough = std::chrono::seconds(20);  // only reached when a test fails

// The system call a thread of this process is blocked in, read through a file
// opened beforehand (a test runs out of descriptors); -1 while it runs.
class BlockedIn {
  public:
    explicit BlockedIn(pid_t tid)
        : fd(open(("/proc/self/task/" + std::to_string(tid) + "/syscall").c_str(),
                  O_RDONLY | O_CLOEXEC)) {}
    ~BlockedIn() { close(fd); }
    BlockedIn(const BlockedIn&) = delete;
    BlockedIn& operator=(const BlockedIn&) = delete;

    bool pausing() const { return now() == SYS_clock_nanosleep || now() == SYS_nanosleep; }
    bool selecting() const {
#ifdef SYS_select
        if (now() == SYS_select) {
            return true;
        }
#endif
        return now() == SYS_pselect6;
    }
    bool onALock() const {
        return now() == SYS_futex;
    }

  private:
    long now() const {
        char text[32] = {};
        if (pread(fd, text, sizeof text - 1, 0) <= 0 || !std::isdigit(text[0])) {
            return -1;
        }
        return std::strtol(text, nullptr, 10);
    }

    int fd;
};

void sendRequest(int fd, const std::string& payload) {
    const std::string text = encryptRequest(payload);
    ASSERT_EQ(send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
}

// Reads until the service ends the connection: the reply's value, or nullopt.
std::optional<int32_t> replyOn(int fd) {
    timeval timeout{20, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<size_t>(n));
    }
    return decryptReply(text);
}

// What a client saw of one request.
struct Seen {
    bool end = false;  // the service closed the connection
    std::string reply;
};

class ConnectionFaults : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/lc-connection-faults-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory_ = new std::string(pattern);
        // Before the first trace line: the trace log stays off once it has
        // found no level.
        setenv("VOKTRACELEVEL", "8", 1);
        setenv("VOKTRACEDEST", tracePath().c_str(), 1);
        // The cleanup thread's work is not under test; a thread that ends at
        // once keeps its launch under test without holding up the exit.
        LogoffCookieCacheHooks hooks;
        hooks.cleanupThread = [](LogoffCookieCache&) {};
        logoffCookieCache_useHooks(hooks);
        initLogoffCookieCache();
        setHashKeySeed();

        int fd_socket = createListeningSocket(socketPath().c_str());
        ASSERT_GE(fd_socket, 0);
        loopTid_ = startLoop(fd_socket);
        ASSERT_EQ(ask(socketPath(), codePayload(1, 4)), 1);
        ASSERT_TRUE(settled());
    }

    static void TearDownTestSuite() {
        // The loop parks at its next connection instead of starting a thread;
        // once it has closed that connection it writes no more trace lines.
        logoffCookieService_stopAccepting();
        EXPECT_EQ(roundTrip(socketPath(), ""), "");
        // A connection thread of an earlier test may still be ending and
        // write its last trace line, making the trace file anew: removed
        // until the directory is gone.
        EXPECT_TRUE(waitUntil([] {
            std::error_code ignored;
            std::filesystem::remove_all(*directory_, ignored);
            return !std::filesystem::exists(*directory_);
        }));
        delete directory_;
        directory_ = nullptr;
    }

    void TearDown() override { disarmFaults(); }

    static pid_t startLoop(int fd_socket) {
        std::promise<pid_t> started;
        std::future<pid_t> tid = started.get_future();
        std::thread([fd_socket, &started] {
            started.set_value(gettid());
            logoffCookieService_clientLoop(fd_socket);
        }).detach();
        return tid.get();
    }

    static std::string socketPath() { return *directory_ + "/logoffCookieSocket"; }
    static std::string tracePath() { return *directory_ + "/trace.log"; }
    static std::string trace() {
        std::ifstream in(tracePath());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static size_t occurrences(const std::string& wanted) {
        const std::string text = trace();
        size_t count = 0;
        for (size_t at = text.find(wanted); at != std::string::npos;
             at = text.find(wanted, at + 1)) {
            ++count;
        }
        return count;
    }

    // Holds every connection slot but `leaving`, so that the loop, woken by
    // a connection beyond those, waits before accepting it: what the client
    // writes meanwhile is there when the loop accepts.
    class LoopHeld {
      public:
        explicit LoopHeld(int leaving = 0) {
            while (held < kMaxConnectionThreads - leaving && connectionSlots().acquire(0)) {
                ++held;
            }
            EXPECT_EQ(held, kMaxConnectionThreads - leaving) << "the loop or a thread held a slot";
        }
        ~LoopHeld() { release(); }
        LoopHeld(const LoopHeld&) = delete;
        LoopHeld& operator=(const LoopHeld&) = delete;
        void release() {
            for (; held > 0; --held) {
                connectionSlots().release();
            }
        }

      private:
        int held = 0;
    };

    // Sends one request in one write and reads until the service ends the
    // connection, or gives up after a time that only a fault reaches. With
    // `alreadyThere` the request is written before the loop accepts it.
    static Seen exchange(const std::string& payload, bool alreadyThere = false) {
        Seen seen;
        std::optional<LoopHeld> held;
        if (alreadyThere) {
            held.emplace();
        }
        int fd = connectTo(socketPath());
        EXPECT_GE(fd, 0);
        timeval timeout{20, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        std::string text = encryptRequest(payload);
        ssize_t sent = send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        (void)sent;  // the service may have closed already
        held.reset();
        char buffer[256];
        ssize_t n;
        while ((n = read(fd, buffer, sizeof buffer)) > 0) {
            seen.reply.append(buffer, static_cast<size_t>(n));
        }
        seen.end = n == 0 || errno == ECONNRESET;
        close(fd);
        return seen;
    }

    // Every slot back and every thread but the client loop's gone, threads
    // waiting for a next connection dismissed first.
    static bool settled() {
        return eventually(
            [] {
                waitingConnectionThreads().dismissWaiting(kLongEnough);
                return freeSlots() == kMaxConnectionThreads && createdThreadsRunning() == 1;
            },
            kLongEnough);
    }
    static int freeSlots() {
        int count = 0;
        while (connectionSlots().acquire(0)) {
            ++count;
        }
        for (int i = 0; i < count; ++i) {
            connectionSlots().release();
        }
        return count;
    }

    // Asks for a cookie created after the cache started, which only the cache
    // can answer.
    static bool nextClientServed() {
        return ask(socketPath(), queryPayload(laterCookie("next-client"))) == 0;
    }

    // Fails the allocation after `granted` on the service's threads (and,
    // when `persistent`, every later one) for granted = 0, 1, ... until the
    // request goes through without reaching the failure.
    static void sweepAllocationFailures(const std::string& payload, int32_t answer,
                                        bool persistent) {
        for (long granted = 0;; ++granted) {
            ASSERT_LT(granted, 500) << "the request never went through";
            failAllocationAfter(granted, persistent);
            Seen seen = exchange(payload);
            ASSERT_TRUE(settled()) << "after allocation " << granted;
            long injected = injectedAllocationFailures();
            disarmFaults();

            EXPECT_TRUE(seen.end) << "the client never saw the end: " << granted;
            if (!seen.reply.empty()) {
                EXPECT_EQ(decryptReply(seen.reply), answer) << granted;
            }
            EXPECT_TRUE(nextClientServed()) << granted;
            ASSERT_TRUE(settled());
            if (injected == 0) {
                EXPECT_EQ(decryptReply(seen.reply), answer);
                return;
            }
        }
    }

    static std::string* directory_;
    static pid_t loopTid_;
};

std::string* ConnectionFaults::directory_ = nullptr;
pid_t ConnectionFaults::loopTid_ = 0;

TEST_F(ConnectionFaults, AllocationFailingAnywhereEndsOnlyThatConnection) {
    sweepAllocationFailures(queryPayload(laterCookie("query")), 0, false);
    sweepAllocationFailures(addPayload(laterCookie("add")), -1, false);
}

TEST_F(ConnectionFaults, MemoryRunningOutForGoodEndsOnlyThatConnection) {
    sweepAllocationFailures(queryPayload(laterCookie("query-out")), 0, true);
    sweepAllocationFailures(addPayload(laterCookie("add-out")), -1, true);
}

TEST_F(ConnectionFaults, RefusedConnectionThreadIsTracedAndItsConnectionEnded) {
    ASSERT_TRUE(settled());  // no thread waits to take the connection
    failThreadCreationAfter(0);
    // An add: a query that is already there when the loop accepts it would
    // be answered there, without a thread.
    Seen seen = exchange(addPayload(laterCookie("refused")));
    EXPECT_EQ(injectedThreadCreationFailures(), 1);
    EXPECT_TRUE(seen.end);
    EXPECT_EQ(seen.reply, "");
    EXPECT_TRUE(settled());
    EXPECT_NE(
        trace().find("logoffCookieAPI_ServerMain() -- Could not start a thread for fd_client "),
        std::string::npos);
    EXPECT_NE(trace().find(": pthread_create() - "), std::string::npos);
    disarmFaults();
    EXPECT_TRUE(nextClientServed());
}

TEST_F(ConnectionFaults, FirstAddWhoseCleanupThreadIsRefusedEndsItsConnection) {
    ASSERT_TRUE(settled());  // no thread waits to take the connection
    logoffCookieCache().forgetCleanupLaunch();
    failThreadCreationAfter(1);  // the connection's thread, then the cleanup thread
    CookieFields cookie = laterCookie("first-add");
    Seen seen = exchange(addPayload(cookie));
    EXPECT_EQ(injectedThreadCreationFailures(), 1);
    EXPECT_TRUE(seen.end);
    if (!seen.reply.empty()) {
        EXPECT_EQ(decryptReply(seen.reply), -1);
    }
    EXPECT_TRUE(settled());
    disarmFaults();
    EXPECT_TRUE(nextClientServed());
}

TEST_F(ConnectionFaults, AQueryAlreadyThereIsAnsweredOnTheLoopAndAnAddOnAThread) {
    ASSERT_TRUE(settled());  // no thread waits to take a connection
    failThreadCreationAfter(0);
    Seen query = exchange(queryPayload(laterCookie("there")), true);
    EXPECT_EQ(injectedThreadCreationFailures(), 0);
    EXPECT_TRUE(query.end);
    EXPECT_EQ(decryptReply(query.reply), 0);
    // An add would hold the cache's write lock on the loop: it gets a thread.
    Seen add = exchange(addPayload(laterCookie("there-add")), true);
    EXPECT_EQ(injectedThreadCreationFailures(), 1);
    EXPECT_TRUE(add.end);
    EXPECT_EQ(add.reply, "");
    EXPECT_TRUE(settled());
    disarmFaults();
    EXPECT_TRUE(nextClientServed());
}

TEST_F(ConnectionFaults, HalfARequestGoesToAConnectionThreadWhoseOneReadTakesTheHalf) {
    ASSERT_TRUE(settled());
    const std::string failedRead = "logoffCookieAPI_SERVER_reader -- decryptPipeData FAILED";
    const size_t failedBefore = occurrences(failedRead);
    std::string text = encryptRequest(queryPayload(laterCookie("half")));
    int fd = -1;
    {
        LoopHeld held;
        fd = connectTo(socketPath());
        ASSERT_GE(fd, 0);
        ASSERT_EQ(send(fd, text.data(), text.size() / 2, MSG_NOSIGNAL),
                  static_cast<ssize_t>(text.size() / 2));
    }
    // On a thread of its own, which reads once, as every connection thread
    // does: the half does not decrypt.
    EXPECT_TRUE(eventually([] { return connectionThreadCounts().live == 1; }, kLongEnough));
    EXPECT_TRUE(
        eventually([&] { return occurrences(failedRead) == failedBefore + 1; }, kLongEnough));
    ssize_t sent =
        send(fd, text.data() + text.size() / 2, text.size() - text.size() / 2, MSG_NOSIGNAL);
    (void)sent;  // the service may have closed already
    timeval timeout{20, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    char buffer[128];
    EXPECT_LE(read(fd, buffer, sizeof buffer), 0) << "no reply, only the end";
    close(fd);
    EXPECT_TRUE(settled());
    EXPECT_TRUE(nextClientServed());
}

TEST_F(ConnectionFaults, WhileACleanupPassHoldsTheCacheTheLoopHandsQueriesOnAndKeepsServing) {
    ASSERT_TRUE(settled());
    Seen behind;
    {
        WriteGuard pass(logoffCookieCache().lock());
        std::thread client([&] { behind = exchange(queryPayload(laterCookie("behind")), true); });
        // Its thread waits for the read hold; the loop does not.
        EXPECT_TRUE(eventually(
            [] { return logoffCookieCache().lock().snapshot().waitingReaders == 1; }, kLongEnough));
        Seen other = exchange(codePayload(1, 4));
        EXPECT_EQ(decryptReply(other.reply), 1) << "the loop waits behind the pass";
        pass.release();
        client.join();
    }
    EXPECT_EQ(decryptReply(behind.reply), 0);
    EXPECT_TRUE(settled());
}

// With two slots left, two silent clients take two threads; a third client
// waits in the backlog with its request until one of them has its answer.
TEST_F(ConnectionFaults, AConnectionBeyondTheSlotsWaitsForOneToComeBack) {
    ASSERT_TRUE(settled());
    BlockedIn loop(loopTid_);
    LoopHeld allButTwo(2);
    const int first = connectTo(socketPath());
    const int second = connectTo(socketPath());
    ASSERT_TRUE(eventually(
        [&] {
            return ClientConnection::openAccepted() == 2 && connectionThreadCounts().live == 2 &&
                   loop.selecting();
        },
        kLongEnough));

    const int third = connectTo(socketPath());
    sendRequest(third, codePayload(1, 4));
    // Woken by the third client, the loop waits for a slot before accepting.
    ASSERT_TRUE(eventually([&] { return loop.onALock(); }, kLongEnough));
    EXPECT_EQ(ClientConnection::openAccepted(), 2);
    EXPECT_EQ(connectionThreadCounts().live, 2);
    char byte;
    EXPECT_EQ(recv(third, &byte, 1, MSG_DONTWAIT), -1) << "answered without a slot";

    sendRequest(first, codePayload(1, 4));
    EXPECT_EQ(replyOn(first), 1);
    EXPECT_EQ(replyOn(third), 1);
    EXPECT_LE(connectionThreadCounts().live, 2);
    close(first);
    close(second);
    close(third);
    allButTwo.release();
    EXPECT_TRUE(settled());
}

// Out of descriptors, accept fails for as long as the client waits: the loop
// pauses between attempts, and serves the client once descriptors are back.
TEST_F(ConnectionFaults, FailedAcceptPausesAndTheClientIsServedOnceItSucceeds) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' own checks open a pipe to test memory: out of
    // descriptors they fail and report objects that are sound.
    GTEST_SKIP() << "needs descriptors the sanitizers' checks would lack";
#endif
    ASSERT_TRUE(settled());
    BlockedIn loop(loopTid_);
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    int client = -1;
    {
        // Connected while the loop cannot accept, so that it accepts only
        // once no descriptor is left.
        LoopHeld held;
        client = connectTo(socketPath());
        ASSERT_GE(client, 0);
        sendRequest(client, codePayload(1, 4));
        ASSERT_TRUE(eventually([&] { return loop.onALock(); }, kLongEnough));
        const int lowestFree = open("/dev/null", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(lowestFree, 0);
        close(lowestFree);
        rlimit none = limit;
        none.rlim_cur = static_cast<rlim_t>(lowestFree);
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    }
    const bool paused = eventually([&] { return loop.pausing(); }, kLongEnough);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    EXPECT_TRUE(paused) << "the loop never paused after a failed accept";
    EXPECT_EQ(replyOn(client), 1);
    close(client);
    EXPECT_TRUE(settled());
}

// A select that fails is traced with its errno, and the loop pauses before it
// selects again. A second loop, on a descriptor no longer open, which runs on:
// the last test of the process.
TEST_F(ConnectionFaults, FailedSelectIsTracedAndPaused) {
    // For good, but no test follows: the failures are counted for the alert.
    metrics_enable();
    const int opened = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int closed = fcntl(opened, F_DUPFD_CLOEXEC, 700);
    close(opened);
    ASSERT_GE(closed, 700);
    close(closed);
    testing::internal::CaptureStderr();
    BlockedIn loop(startLoop(closed));
    EXPECT_TRUE(eventually(
        [] {
            return occurrences(
                       "logoffCookieAPI_ServerMain() -- select failed with errno EBADF, "
                       "val 9 -- pausing before trying again") > 0;
        },
        kLongEnough));
    EXPECT_TRUE(eventually([&] { return loop.pausing(); }, kLongEnough));
    // Said once, before the first pause, since the trace may be off.
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "select failed with errno EBADF, val 9: no client is served while this lasts"),
              std::string::npos);
    EXPECT_GT(metrics_value(CountedMetric::LoopSelectFailures), 0u);
}

}  // namespace
}  // namespace lctest
