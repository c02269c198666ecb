#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

#include "tests/support/fileText.h"
#include "tests/support/rawRequests.h"
#include "tests/support/serviceProcess.h"

namespace lctest {
namespace {

// One service for the whole suite: starting one costs more than every test.
class Serving : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        service_ = std::make_unique<ServiceProcess>();
        ASSERT_TRUE(service_->start());
    }
    static void TearDownTestSuite() { service_.reset(); }
    void SetUp() override { ASSERT_NE(service_.get(), nullptr); }

    static std::string socket() { return service_->socketPath(); }
    static bool traced(const std::string& text) {
        return service_->readTrace().find(text) != std::string::npos;
    }
    // Until the line shows up: the connection thread traces after the close.
    static bool eventuallyTraced(const std::string& text) {
        return waitForText(service_->tracePath(), text, 5s);
    }
    static bool alive() { return ask(socket(), codePayload(1, 4)) == 1; }

    static std::unique_ptr<ServiceProcess> service_;
};

std::unique_ptr<ServiceProcess> Serving::service_;

TEST_F(Serving, ReplyIsSeventyTwoCharactersOfEnvelopeText) {
    std::optional<std::string> reply =
        roundTrip(socket(), encryptRequest(queryPayload(freshCookie("a"))));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->size(), 72u);
    EXPECT_EQ(decryptReply(*reply), 0);
}

TEST_F(Serving, AddIsAnsweredMinusOne) {
    EXPECT_EQ(ask(socket(), addPayload(freshCookie("added"))), -1);
}

TEST_F(Serving, ClientThatConnectsAndClosesGetsNothingAndOthersAreServed) {
    int fd = connectTo(socket());
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_TRUE(eventuallyTraced("logoffCookieAPI_SERVER_reader() -- Unexpected end of data"));
    EXPECT_TRUE(alive());
}

TEST_F(Serving, PayloadOfThreeBytesOrFewerGetsNoReply) {
    for (size_t length : {0u, 1u, 3u}) {
        EXPECT_EQ(roundTrip(socket(), encryptRequest(codePayload(1, length))), "") << length;
    }
}

TEST_F(Serving, ShortQueryIsAnsweredOneWithoutAskingTheCache) {
    EXPECT_EQ(ask(socket(), codePayload(1, 4)), 1);
    EXPECT_EQ(ask(socket(), queryPayload(freshCookie("short")).substr(0, 978)), 1);
}

TEST_F(Serving, QueryOf979BytesIsDecidedByTheCache) {
    EXPECT_EQ(ask(socket(), queryPayload(freshCookie("exact")).substr(0, 979)), 0);
}

TEST_F(Serving, ShortAddIsAnsweredMinusOneAndAddsNothing) {
    CookieFields cookie = freshCookie("short-add");
    EXPECT_EQ(ask(socket(), addPayload(cookie).substr(0, 986)), -1);
    EXPECT_EQ(ask(socket(), queryPayload(cookie)), 0);
}

TEST_F(Serving, UnknownFunctionCodesGetNoReply) {
    for (int32_t code : {0, 3, -1}) {
        EXPECT_EQ(roundTrip(socket(), encryptRequest(codePayload(code, 100))), "") << code;
        EXPECT_TRUE(eventuallyTraced("logoffCookieAPI_serviceDispatcher() -- Invalid func: " +
                                     std::to_string(code)));
    }
}

TEST_F(Serving, TextThatIsNotEnvelopeTextGetsNoReply) {
    EXPECT_EQ(roundTrip(socket(), "this is not base64!\n"), "");
    EXPECT_TRUE(
        eventuallyTraced("logoffCookieAPI_SERVER_reader -- decryptPipeData FAILED with error: 2"));
    EXPECT_TRUE(alive());
}

TEST_F(Serving, RequestUnderAnotherKeyGetsNoReply) {
    EXPECT_EQ(
        roundTrip(socket(), encryptRequestWithForeignKey(queryPayload(freshCookie("foreign")))),
        "");
    EXPECT_TRUE(alive());
}

TEST_F(Serving, RequestSplitOverTwoWritesIsDropped) {
    std::string text = encryptRequest(queryPayload(freshCookie("split")));
    int fd = connectTo(socket());
    ASSERT_GE(fd, 0);
    timeval timeout{15, 0};  // only reached when the service waits for the rest
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ASSERT_EQ(send(fd, text.data(), 100, MSG_NOSIGNAL), 100);
    // The rest goes only once the service has ended the connection after
    // its one read: that read had the first part alone.
    char buffer[128];
    EXPECT_EQ(read(fd, buffer, sizeof buffer), 0) << "no end of the connection";
    send(fd, text.data() + 100, text.size() - 100, MSG_NOSIGNAL);
    EXPECT_LE(read(fd, buffer, sizeof buffer), 0);
    close(fd);
    EXPECT_TRUE(
        eventuallyTraced("logoffCookieAPI_SERVER_reader -- decryptPipeData FAILED with error: "));
    EXPECT_TRUE(alive());
}

TEST_F(Serving, SecondRequestOnOneConnectionIsNotAnswered) {
    std::string text = encryptRequest(codePayload(1, 4));
    int fd = connectTo(socket());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
    EXPECT_EQ(decryptReply(readUntilClosed(fd)), 1);
    send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    char buffer[256];
    EXPECT_LE(read(fd, buffer, sizeof buffer), 0);
    close(fd);
}

TEST_F(Serving, ClientGoneBeforeTheReplyIsTracedAsBrokenPipe) {
    std::string text = encryptRequest(codePayload(1, 4));
    int fd = connectTo(socket());
    ASSERT_GE(fd, 0);
    // A client that shuts its reading side shuts the service's writing side
    // with it, before the request is even sent: the service still reads the
    // request, and its reply write fails with EPIPE whenever it comes.
    ASSERT_EQ(shutdown(fd, SHUT_RD), 0);
    ASSERT_EQ(send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
    EXPECT_TRUE(eventuallyTraced(
        "logoffCookieAPI_socketCheck() -- socket broken with errno EPIPE, val 32 -- closing..."));
    EXPECT_TRUE(eventuallyTraced("perform_cookieIsCached() -- Socket was BROKEN"));
    close(fd);
    EXPECT_TRUE(alive());
}

TEST_F(Serving, SilentClientIsDroppedAfterTheTimeOutWhileOthersAreServed) {
    int silent = connectTo(socket());
    ASSERT_GE(silent, 0);
    EXPECT_TRUE(alive());
    timeval wait{10, 0};
    setsockopt(silent, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char buffer[16];
    EXPECT_EQ(read(silent, buffer, sizeof buffer), 0);  // closed by the service
    close(silent);
    EXPECT_TRUE(eventuallyTraced("socket broken with errno EAGAIN, val 11 -- closing..."));
}

TEST_F(Serving, ManyClientsAtOnceAreEachAnsweredRight) {
    constexpr int kClients = 200;
    std::atomic<int> right{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&, i] {
            bool add = i % 2 == 0;
            CookieFields cookie = freshCookie("many-" + std::to_string(i));
            std::optional<int32_t> answer =
                ask(socket(), add ? addPayload(cookie) : queryPayload(cookie));
            if (answer == (add ? -1 : 0)) {
                ++right;
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    EXPECT_EQ(right.load(), kClients);
}

}  // namespace
}  // namespace lctest
