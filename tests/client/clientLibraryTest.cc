#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include "client/logoffCookieClient.hpp"
#include "protocol/requestLayout.h"
#include "tests/client/fakeService.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

using namespace std::chrono_literals;
using logoffcookie::ClientOptions;
using logoffcookie::ClientStatus;
using logoffcookie::Cookie;

ClientOptions optionsFor(const std::string& socketPath) {
    ClientOptions options;
    options.socketPath = socketPath;
    options.timeout = 2s;
    options.socketWait = 0ms;
    return options;
}

int32_t int32At(const std::vector<uint8_t>& payload, size_t offset) {
    int32_t value;
    std::memcpy(&value, payload.data() + offset, sizeof value);
    return value;
}

std::string textAt(const std::vector<uint8_t>& payload, size_t offset, size_t size) {
    return std::string(reinterpret_cast<const char*>(payload.data() + offset), size);
}

Cookie sampleCookie() {
    Cookie cookie("session-text");
    cookie.bytes = "second-text";
    cookie.creationTime = 1'700'000'000;
    cookie.lastUseTime = 1'700'000'500;
    cookie.timeOffset = -3600;
    cookie.maxLifetimeMinutes = 480;
    cookie.idleTimeoutMinutes = 30;
    cookie.cookieKind = 2;
    return cookie;
}

// The one decrypted request a call sent to a service answering `answer`.
template <typename Call>
std::vector<uint8_t> captureRequest(int32_t answer, Call call) {
    std::vector<std::vector<uint8_t>> requests;
    {
        FakeService fake(answerWith(answer, &requests));
        call(optionsFor(fake.socketPath()));
    }  // joined: the requests are complete
    return requests.size() == 1 ? requests[0] : std::vector<uint8_t>{};
}

ClientStatus queryWith(const ClientOptions& options, bool* cached = nullptr) {
    bool answer = false;
    ClientStatus status = logoffcookie::cookieIsCached(Cookie("abc"), answer, options);
    if (cached != nullptr) {
        *cached = answer;
    }
    return status;
}

// ---- Request layout -------------------------------------------------------

TEST(ClientRequest, QueryCarriesEachFieldAtItsOffset) {
    bool cached = false;
    std::vector<uint8_t> message = captureRequest(1, [&](const ClientOptions& options) {
        EXPECT_TRUE(logoffcookie::cookieIsCached(sampleCookie(), cached, options).ok());
    });
    EXPECT_TRUE(cached);
    // The service counts the envelope's trailing zero: 980 bytes arrive as 981.
    ASSERT_EQ(message.size(), 981u);
    EXPECT_EQ(int32At(message, 0), FUNC_COOKIE_IS_CACHED);
    EXPECT_EQ(textAt(message, 4, 64), std::string("session-text") + std::string(52, '\0'));
    EXPECT_EQ(textAt(message, 68, 64), std::string("second-text") + std::string(53, '\0'));
    EXPECT_EQ(int32At(message, 132), 1'700'000'000);
    EXPECT_EQ(int32At(message, 136), -3600);
    EXPECT_EQ(int32At(message, 140 + 652), 480);
    EXPECT_EQ(int32At(message, 140 + 656), 30);
    std::vector<uint8_t> attributes(message.begin() + 140, message.begin() + 980);
    attributes.erase(attributes.begin() + 652, attributes.begin() + 660);
    EXPECT_EQ(attributes, std::vector<uint8_t>(832, 0));
}

TEST(ClientRequest, AddCarriesEachFieldAtItsOffset) {
    std::vector<uint8_t> message = captureRequest(-1, [](const ClientOptions& options) {
        EXPECT_TRUE(logoffcookie::addToCache(sampleCookie(), options).ok());
    });
    ASSERT_EQ(message.size(), 989u);
    EXPECT_EQ(int32At(message, 0), FUNC_ADD_TO_CACHE);
    EXPECT_EQ(textAt(message, 4, 12), "session-text");
    EXPECT_EQ(textAt(message, 68, 11), "second-text");
    EXPECT_EQ(int32At(message, 132), 1'700'000'500);  // lastUseTime first
    EXPECT_EQ(int32At(message, 136), 1'700'000'000);
    EXPECT_EQ(int32At(message, 140), -3600);
    EXPECT_EQ(int32At(message, 144 + 652), 480);
    EXPECT_EQ(int32At(message, 144 + 656), 30);
    EXPECT_EQ(int32At(message, 984), 2);
}

TEST(ClientRequest, TextOfSixtyFourBytesFillsItsFieldWithoutTerminator) {
    std::string text(64, 'x');
    std::vector<uint8_t> message = captureRequest(0, [&](const ClientOptions& options) {
        bool cached = true;
        EXPECT_TRUE(logoffcookie::cookieIsCached(Cookie(text), cached, options).ok());
        EXPECT_FALSE(cached);
    });
    ASSERT_EQ(message.size(), 981u);
    EXPECT_EQ(textAt(message, 4, 64), text);
    EXPECT_EQ(message[68], 0);
}

TEST(ClientRequest, TextsThatDoNotFitAreRefusedBeforeConnecting) {
    FakeService fake(answerWith(0));
    bool cached = false;
    Cookie longText(std::string(65, 'x'));
    EXPECT_EQ(logoffcookie::cookieIsCached(longText, cached, optionsFor(fake.socketPath())).error,
              LC_CLIENT_BAD_ARGUMENT);
    Cookie longBytes("abc");
    std::string bytes(65, 'y');
    longBytes.bytes = bytes;
    EXPECT_EQ(logoffcookie::addToCache(longBytes, optionsFor(fake.socketPath())).error,
              LC_CLIENT_BAD_ARGUMENT);
    // A NUL inside would end the text early on the service's side.
    Cookie inner(std::string_view("ab\0cd", 5));
    EXPECT_EQ(logoffcookie::addToCache(inner, optionsFor(fake.socketPath())).error,
              LC_CLIENT_BAD_ARGUMENT);
    EXPECT_EQ(fake.connections(), 0);
}

// ---- Replies --------------------------------------------------------------

TEST(ClientReply, IsReadUntilTheServiceCloses) {
    FakeService fake([](int fd) {
        readOnce(fd);
        std::string reply = encryptValue(1);
        writeAll(fd, reply.substr(0, 30));
        std::this_thread::sleep_for(50ms);
        writeAll(fd, reply.substr(30));
    });
    bool cached = false;
    ASSERT_TRUE(queryWith(optionsFor(fake.socketPath()), &cached).ok());
    EXPECT_TRUE(cached);
}

TEST(ClientReply, ClosingWithoutReplyIsNoReply) {
    FakeService fake([](int fd) { readOnce(fd); });
    EXPECT_EQ(queryWith(optionsFor(fake.socketPath())).error, LC_CLIENT_NO_REPLY);
}

TEST(ClientReply, TextThatIsNotAnEnvelopeDoesNotDecrypt) {
    FakeService fake([](int fd) {
        readOnce(fd);
        writeAll(fd, "this is no envelope text");
    });
    EXPECT_EQ(queryWith(optionsFor(fake.socketPath())).error, LC_CLIENT_REPLY_UNDECRYPTABLE);
}

int otherHostKey(unsigned char* key) {
    std::memset(key, 0x5a, PIPE_KEY_SIZE);
    return 0;
}

TEST(ClientReply, ReplyUnderAnotherKeyDoesNotDecrypt) {
    FakeService fake([](int fd) {
        readOnce(fd);
        writeAll(fd, encryptValue(1, otherHostKey));
    });
    EXPECT_EQ(queryWith(optionsFor(fake.socketPath())).error, LC_CLIENT_REPLY_UNDECRYPTABLE);
}

TEST(ClientReply, AnswersOutsideTheRequestsValuesAreUnexpected) {
    {
        FakeService fake(answerWith(7));
        EXPECT_EQ(queryWith(optionsFor(fake.socketPath())).error, LC_CLIENT_UNEXPECTED_REPLY);
    }
    {
        FakeService fake(answerWith(1));
        EXPECT_EQ(logoffcookie::addToCache(Cookie("abc"), optionsFor(fake.socketPath())).error,
                  LC_CLIENT_UNEXPECTED_REPLY);
    }
    {
        // A well-encrypted reply of 8 bytes is not this service's 4-byte reply.
        FakeService fake([](int fd) {
            readOnce(fd);
            int64_t wide = 1;
            writeAll(fd, encryptPayload(&wide, sizeof wide));
        });
        EXPECT_EQ(queryWith(optionsFor(fake.socketPath())).error, LC_CLIENT_UNEXPECTED_REPLY);
    }
}

TEST(ClientReply, OverlongReplyIsUnexpected) {
    FakeService fake([](int fd) {
        readOnce(fd);
        writeAll(fd, std::string(8192, 'A'));
    });
    EXPECT_EQ(queryWith(optionsFor(fake.socketPath())).error, LC_CLIENT_UNEXPECTED_REPLY);
}

TEST(ClientReply, SilentServiceTimesOut) {
    FakeService fake([](int fd) { drainUntilClosed(fd); });
    ClientOptions options = optionsFor(fake.socketPath());
    options.timeout = 200ms;
    EXPECT_EQ(queryWith(options).error, LC_CLIENT_TIMED_OUT);
}

// The scheduler's state of a thread of this process: 'S' while it sleeps in
// a blocking call, 'R' while it runs.
char threadState(pid_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text{std::istreambuf_iterator<char>(stat), std::istreambuf_iterator<char>()};
    size_t nameEnd = text.rfind(')');
    return nameEnd != std::string::npos && nameEnd + 2 < text.size() ? text[nameEnd + 2] : '?';
}

TEST(ClientReply, TimeOutBeyondAnIntsMillisecondsIsALongWaitNotNone) {
    for (std::chrono::milliseconds timeout :
         {std::chrono::milliseconds(int64_t{1} << 31), std::chrono::milliseconds(int64_t{1} << 32),
          std::chrono::milliseconds::max()}) {
        std::atomic<pid_t> caller{0};
        std::atomic<bool> callEnded{false};
        // The answer comes only once the caller sleeps waiting for it, or has
        // given up: a wait cut to nothing shows as a time-out.
        FakeService fake([&](int fd) {
            readOnce(fd);
            waitUntil([&] { return callEnded || threadState(caller) == 'S'; });
            writeAll(fd, encryptValue(1));
        });
        ClientOptions options = optionsFor(fake.socketPath());
        options.timeout = timeout;
        options.socketWait = std::chrono::milliseconds::max();
        ClientStatus status;
        std::thread call([&] {
            caller = gettid();
            status = queryWith(options);
            callEnded = true;
        });
        call.join();
        EXPECT_TRUE(status.ok()) << timeout.count() << " ms: " << status.message();
    }
}

// ---- Connecting -----------------------------------------------------------

TEST(ClientConnect, MissingSocketFileIsNoSocket) {
    TempDir dir;
    ClientStatus status = queryWith(optionsFor(dir.path() + "/logoffCookieSocket"));
    EXPECT_EQ(status.error, LC_CLIENT_NO_SOCKET);
    EXPECT_EQ(status.systemError, ENOENT);
}

TEST(ClientConnect, SocketWithoutListenerIsRefused) {
    TempDir dir;
    std::string path = dir.path() + "/logoffCookieSocket";
    int fd = bindLocalSocket(path, -1);
    ASSERT_GE(fd, 0);
    ClientOptions options = optionsFor(path);
    options.socketWait = 50ms;  // retried, then reported as what it is
    ClientStatus status = queryWith(options);
    EXPECT_EQ(status.error, LC_CLIENT_REFUSED);
    EXPECT_EQ(status.systemError, ECONNREFUSED);
    close(fd);
}

TEST(ClientConnect, PathThatIsNotASocketFailsAtOnceWithoutWaiting) {
    TempDir dir;
    std::string file = dir.path() + "/regular";
    std::ofstream(file) << "not a socket";
    for (const std::string& path : {dir.path(), file}) {
        ClientOptions options = optionsFor(path);
        // Retried for this long, it would end as LC_CLIENT_REFUSED.
        options.socketWait = 60s;
        ClientStatus status = queryWith(options);
        EXPECT_EQ(status.error, LC_CLIENT_CONNECT_FAILED) << path;
        EXPECT_EQ(status.systemError, ENOTSOCK) << path;
    }
}

TEST(ClientConnect, SocketThatAppearsWithinTheWaitIsUsed) {
    TempDir dir;
    std::string path = dir.path() + "/logoffCookieSocket";
    std::thread late([&] {
        std::this_thread::sleep_for(150ms);
        int fd = bindLocalSocket(path, 4);
        int client = accept(fd, nullptr, nullptr);
        readOnce(client);
        writeAll(client, encryptValue(0));
        close(client);
        close(fd);
    });
    ClientOptions options = optionsFor(path);
    options.socketWait = 10s;
    bool cached = true;
    ClientStatus status = queryWith(options, &cached);
    late.join();
    EXPECT_TRUE(status.ok()) << status.message();
    EXPECT_FALSE(cached);
}

// A backlog of 0 holds one waiting connection: this one, so that the
// client's is the next and waits. The waiting socket, or -1.
int fillBacklog(const std::string& path) {
    int waiting = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (connect(waiting, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(waiting);
        return -1;
    }
    return waiting;
}

// A listener whose backlog of 0 is filled: a client's connection waits.
struct FullBacklog {
    FullBacklog() : listening(bindLocalSocket(path, 0)), waiting(fillBacklog(path)) {}
    ~FullBacklog() {
        close(waiting);
        close(listening);
    }

    TempDir dir;
    std::string path = dir.path() + "/logoffCookieSocket";
    int listening;
    int waiting;  // -1 when the listener is missing
};

TEST(ClientConnect, ServiceThatAcceptsNothingTimesOut) {
    FullBacklog backlog;
    ASSERT_GE(backlog.listening, 0);
    ASSERT_GE(backlog.waiting, 0);
    ClientOptions options = optionsFor(backlog.path);
    options.timeout = 200ms;
    EXPECT_EQ(queryWith(options).error, LC_CLIENT_TIMED_OUT);
}

void ignoreSignal(int) {}

bool inConnect(pid_t tid) {
    std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long call = -1;
    return (file >> call) && call == SYS_connect;
}

// The overload case: a full backlog, the socket wait of 0 a module uses, and
// a signal the host process catches (a web server's reload, say) arriving
// during the connect. The call still waits out its time-out and says so,
// rather than failing at once with a non-transient error.
TEST(ClientConnect, SignalDuringTheWaitForAFullBacklogDoesNotEndIt) {
    FullBacklog backlog;
    ASSERT_GE(backlog.listening, 0);
    ASSERT_GE(backlog.waiting, 0);

    struct sigaction caught {};
    struct sigaction previous {};
    caught.sa_handler = ignoreSignal;
    sigemptyset(&caught.sa_mask);
    caught.sa_flags = SA_RESTART;  // the system does not restart it all the same
    ASSERT_EQ(sigaction(SIGUSR2, &caught, &previous), 0);
    ClientOptions options = optionsFor(backlog.path);
    options.timeout = 2s;
    std::atomic<pid_t> caller{0};
    ClientStatus status;
    std::thread call([&] {
        caller = gettid();
        status = queryWith(options);
    });
    bool blocked = waitUntil([&] { return caller != 0 && inConnect(caller); });
    pthread_kill(call.native_handle(), SIGUSR2);
    call.join();
    sigaction(SIGUSR2, &previous, nullptr);
    ASSERT_TRUE(blocked) << "the call never waited in connect";
    EXPECT_EQ(status.error, LC_CLIENT_TIMED_OUT) << status.message();
    EXPECT_TRUE(status.transient());
}

class ClientInstallPath : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* value = std::getenv("WA_INSTALL_PATH")) {
            saved_ = value;
        }
    }
    void TearDown() override {
        if (saved_.empty()) {
            unsetenv("WA_INSTALL_PATH");
        } else {
            setenv("WA_INSTALL_PATH", saved_.c_str(), 1);
        }
    }

  private:
    std::string saved_;
};

TEST_F(ClientInstallPath, DefaultSocketIsTheOneUnderTheInstallPath) {
    FakeService fake(answerWith(1));
    setenv("WA_INSTALL_PATH", fake.directory().c_str(), 1);
    bool cached = false;
    ASSERT_TRUE(queryWith(optionsFor(""), &cached).ok());
    EXPECT_TRUE(cached);
}

TEST_F(ClientInstallPath, NoPathAndNoInstallPathIsItsOwnError) {
    unsetenv("WA_INSTALL_PATH");
    EXPECT_EQ(queryWith(optionsFor("")).error, LC_CLIENT_NO_INSTALL_PATH);
    setenv("WA_INSTALL_PATH", "", 1);
    EXPECT_EQ(queryWith(optionsFor("")).error, LC_CLIENT_NO_INSTALL_PATH);
}

TEST(ClientConnect, PathBeyondTheSocketAddressIsRefused) {
    EXPECT_EQ(queryWith(optionsFor("/tmp/" + std::string(200, 'd') + "/logoffCookieSocket")).error,
              LC_CLIENT_PATH_TOO_LONG);
}

TEST(ClientConnect, TimeoutMustBePositive) {
    FakeService fake(answerWith(1));
    ClientOptions options = optionsFor(fake.socketPath());
    options.timeout = 0ms;
    EXPECT_EQ(queryWith(options).error, LC_CLIENT_BAD_ARGUMENT);
    options.timeout = 1s;
    options.socketWait = -1ms;
    EXPECT_EQ(queryWith(options).error, LC_CLIENT_BAD_ARGUMENT);
    EXPECT_EQ(fake.connections(), 0);
}

// ---- Error descriptions ---------------------------------------------------

TEST(ClientErrors, EachErrorHasItsOwnNameAndSentence) {
    std::set<std::string> names;
    std::set<std::string> texts;
    for (int error = LC_CLIENT_OK; error <= LC_CLIENT_SYSTEM_ERROR; ++error) {
        names.insert(logoffCookieClient_errorName(error));
        texts.insert(logoffCookieClient_errorText(error));
    }
    EXPECT_EQ(names.size(), static_cast<size_t>(LC_CLIENT_SYSTEM_ERROR + 1));
    EXPECT_EQ(texts.size(), static_cast<size_t>(LC_CLIENT_SYSTEM_ERROR + 1));
    EXPECT_STREQ(logoffCookieClient_errorName(LC_CLIENT_NO_SOCKET), "LC_CLIENT_NO_SOCKET");
    EXPECT_STREQ(logoffCookieClient_errorName(LC_CLIENT_SYSTEM_ERROR + 1),
                 "LC_CLIENT_UNKNOWN_ERROR");
    EXPECT_STREQ(logoffCookieClient_errorName(-1), "LC_CLIENT_UNKNOWN_ERROR");
}

// The two kinds a module on a web server tells apart: the service absent or
// slow (let the cookie through) against a wrong setting or an answer that
// cannot be trusted (refuse it).
TEST(ClientErrors, OnlyAnAbsentOrSlowServiceIsTransient) {
    const std::set<int> transient = {LC_CLIENT_NO_SOCKET,      LC_CLIENT_REFUSED,
                                     LC_CLIENT_ENCRYPT_FAILED, LC_CLIENT_SEND_FAILED,
                                     LC_CLIENT_TIMED_OUT,      LC_CLIENT_RECEIVE_FAILED,
                                     LC_CLIENT_NO_REPLY,       LC_CLIENT_SYSTEM_ERROR};
    for (int error = -1; error <= LC_CLIENT_SYSTEM_ERROR + 1; ++error) {
        bool expected = transient.count(error) != 0;
        EXPECT_EQ(logoffCookieClient_errorIsTransient(error), expected ? 1 : 0)
            << logoffCookieClient_errorName(error);
        if (error >= LC_CLIENT_OK && error <= LC_CLIENT_SYSTEM_ERROR) {
            ClientStatus status{static_cast<logoffcookie::ClientError>(error), 0};
            EXPECT_EQ(status.transient(), expected);
        }
    }
}

TEST(ClientErrors, MessageAddsTheSystemsReason) {
    ClientStatus status{LC_CLIENT_REFUSED, ECONNREFUSED};
    EXPECT_EQ(status.message(), std::string(logoffCookieClient_errorText(LC_CLIENT_REFUSED)) +
                                    ": " + std::strerror(ECONNREFUSED));
    EXPECT_EQ(ClientStatus{LC_CLIENT_NO_REPLY}.message(),
              logoffCookieClient_errorText(LC_CLIENT_NO_REPLY));
}

// ---- The C interface ------------------------------------------------------

TEST(ClientCInterface, InitialisedCookieHasTheDocumentedDefaults) {
    logoffCookieClient_cookie cookie;
    int32_t before = logoffcookie::currentTime();
    logoffCookieClient_initCookie(&cookie, "abc");
    EXPECT_STREQ(cookie.cookieText, "abc");
    EXPECT_EQ(cookie.cookieBytes, nullptr);
    EXPECT_GE(cookie.creationTime, before);
    EXPECT_EQ(cookie.lastUseTime, cookie.creationTime);
    EXPECT_EQ(cookie.timeOffset, 0);
    EXPECT_EQ(cookie.maxLifetimeMinutes, 120u);
    EXPECT_EQ(cookie.idleTimeoutMinutes, 0u);
    EXPECT_EQ(cookie.cookieKind, 0);
}

TEST(ClientCInterface, CarriesTheAnswerAndTheFields) {
    std::vector<std::vector<uint8_t>> requests;
    int cached = -1;
    int result = -1;
    {
        FakeService fake(answerWith(1, &requests));
        std::string path = fake.socketPath();
        logoffCookieClient_options options;
        logoffCookieClient_initOptions(&options);
        options.socketPath = path.c_str();
        logoffCookieClient_cookie cookie;
        logoffCookieClient_initCookie(&cookie, "c-text");
        cookie.cookieBytes = "c-bytes";
        cookie.creationTime = 12345;
        result = logoffCookieClient_cookieIsCached(&options, &cookie, &cached);
    }
    EXPECT_EQ(result, LC_CLIENT_OK);
    EXPECT_EQ(cached, 1);
    ASSERT_EQ(requests.size(), 1u);
    ASSERT_EQ(requests[0].size(), 981u);
    EXPECT_EQ(textAt(requests[0], 4, 7), std::string("c-text", 7));
    EXPECT_EQ(textAt(requests[0], 68, 8), std::string("c-bytes", 8));
    EXPECT_EQ(int32At(requests[0], 132), 12345);
}

TEST(ClientCInterface, RefusesMissingAndOverlongArguments) {
    logoffCookieClient_cookie cookie;
    logoffCookieClient_initCookie(&cookie, "abc");
    int cached = 0;
    EXPECT_EQ(logoffCookieClient_cookieIsCached(nullptr, nullptr, &cached), LC_CLIENT_BAD_ARGUMENT);
    EXPECT_EQ(logoffCookieClient_cookieIsCached(nullptr, &cookie, nullptr), LC_CLIENT_BAD_ARGUMENT);
    EXPECT_EQ(logoffCookieClient_addToCache(nullptr, nullptr), LC_CLIENT_BAD_ARGUMENT);
    std::string longText(65, 'x');
    cookie.cookieText = longText.c_str();
    EXPECT_EQ(logoffCookieClient_addToCache(nullptr, &cookie), LC_CLIENT_BAD_ARGUMENT);
    cookie.cookieText = nullptr;
    EXPECT_EQ(logoffCookieClient_addToCache(nullptr, &cookie), LC_CLIENT_BAD_ARGUMENT);
    logoffCookieClient_options options;
    logoffCookieClient_initOptions(&options);
    options.timeoutMs = 0;
    cookie.cookieText = "abc";
    EXPECT_EQ(logoffCookieClient_addToCache(&options, &cookie), LC_CLIENT_BAD_ARGUMENT);
}

TEST(ClientCInterface, LeavesTheSystemsReasonInErrno) {
    TempDir dir;
    std::string path = dir.path() + "/logoffCookieSocket";
    logoffCookieClient_options options;
    logoffCookieClient_initOptions(&options);
    options.socketPath = path.c_str();
    options.socketWaitMs = 0;
    logoffCookieClient_cookie cookie;
    logoffCookieClient_initCookie(&cookie, "abc");
    errno = 0;
    EXPECT_EQ(logoffCookieClient_addToCache(&options, &cookie), LC_CLIENT_NO_SOCKET);
    EXPECT_EQ(errno, ENOENT);
}

}  // namespace
}  // namespace lctest
