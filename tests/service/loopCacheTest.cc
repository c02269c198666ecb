// The loop's look at the cache and the add that passes the ceiling, on a
// socket pair: the loop answers only a whole query it has without waiting,
// leaves anything else untouched for a connection thread, and the client of
// a flushing add has its reply and the end of its connection before the
// flushed records are freed.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "cache/cacheCeiling.h"
#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCache.h"
#include "crypto/logoffCookiePipe_crypt.h"
#include "protocol/requestLayout.h"
#include "service/clientConnection.h"
#include "service/readyRequest.h"
#include "service/serviceDispatcher.h"
#include "tests/support/rawRequests.h"

namespace {

using lctest::decryptReply;
using lctest::encryptRequest;

// What the client of the flushing add had received when the freeing began.
int flushingClient = -1;
int freeings = 0;
bool endSeenBeforeFree = false;
std::optional<int32_t> replySeenBeforeFree;

void lookAtTheClient() {
    ++freeings;
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = recv(flushingClient, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
        text.append(buffer, static_cast<size_t>(n));
    }
    endSeenBeforeFree = n == 0;
    replySeenBeforeFree = decryptReply(text);
}

std::optional<int32_t> replyOn(int fd) {
    return decryptReply(lctest::readUntilClosed(fd));
}

class LoopCache : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        LogoffCookieCacheHooks hooks;
        hooks.cleanupThread = [](LogoffCookieCache&) {};
        hooks.freeingFlushed = lookAtTheClient;
        logoffCookieCache_useHooks(hooks);
        initLogoffCookieCache();
        setHashKeySeed();
    }
    void SetUp() override { ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0); }
    void TearDown() override {
        close(ends[1]);
        logoffCookieCache_setCeiling(kCacheDefaultMaxCookies);
        logoffCookieCache().forgetAll();
    }

    void send(const std::string& text, size_t from = 0, size_t length = std::string::npos) {
        std::string part = text.substr(from, length);
        ASSERT_EQ(write(ends[1], part.data(), part.size()), static_cast<ssize_t>(part.size()));
    }
    // Served as a connection thread serves it.
    std::optional<int32_t> serveOnAThread(const std::string& text) {
        int pair[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        EXPECT_EQ(write(pair[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
        logoffCookieAPI_serviceDispatcher(ClientConnection(pair[0]));
        std::optional<int32_t> reply = replyOn(pair[1]);
        close(pair[1]);
        return reply;
    }

    int ends[2] = {-1, -1};
};

TEST_F(LoopCache, AddSplitAroundTheLoopsLookIsLeftWholeForAConnectionThread) {
    lctest::CookieFields cookie = lctest::freshCookie("split-add");
    const std::string text = encryptRequest(lctest::addPayload(cookie));
    ASSERT_EQ(text.size(), static_cast<size_t>(kCompleteAddTextLength));
    // When the loop looks, as much of the add has come as a whole query.
    send(text, 0, kCompleteQueryTextLength);
    ClientConnection connection(ends[0]);
    EXPECT_FALSE(logoffCookieService_answerQueryAtOnce(connection, bytesAlreadyReceived(ends[0])));
    EXPECT_EQ(bytesAlreadyReceived(ends[0]), kCompleteQueryTextLength)
        << "the loop took bytes off the connection";

    // The rest comes; the connection's thread reads the add whole.
    send(text, kCompleteQueryTextLength);
    logoffCookieAPI_serviceDispatcher(std::move(connection));
    EXPECT_EQ(replyOn(ends[1]), kAddReplyValue);
    EXPECT_EQ(serveOnAThread(encryptRequest(lctest::queryPayload(cookie))), 1);
}

TEST_F(LoopCache, LoopAnswersAWholeQueryOnlyWhenTheCacheIsFreeAtOnce) {
    const std::string text = encryptRequest(lctest::queryPayload(lctest::freshCookie("asked")));
    send(text);
    ClientConnection connection(ends[0]);
    {
        // A pass or an insert holds the cache: the loop does not wait for it.
        WriteGuard pass(logoffCookieCache().lock());
        EXPECT_FALSE(
            logoffCookieService_answerQueryAtOnce(connection, bytesAlreadyReceived(ends[0])));
        pass.release();
    }
    EXPECT_EQ(bytesAlreadyReceived(ends[0]), static_cast<int>(text.size()));
    EXPECT_TRUE(logoffCookieService_answerQueryAtOnce(connection, bytesAlreadyReceived(ends[0])));
    connection.close();
    EXPECT_EQ(replyOn(ends[1]), 0);
}

TEST_F(LoopCache, ClientOfTheAddPassingTheCeilingHasItsReplyAndEndBeforeTheFree) {
    logoffCookieCache_setCeiling(1);
    ASSERT_EQ(serveOnAThread(encryptRequest(lctest::addPayload(lctest::freshCookie("first")))),
              kAddReplyValue);
    freeings = 0;
    flushingClient = ends[1];
    send(encryptRequest(lctest::addPayload(lctest::freshCookie("second"))));
    logoffCookieAPI_serviceDispatcher(ClientConnection(ends[0]));

    ASSERT_EQ(freeings, 1) << "the add passed the ceiling and its records were freed";
    EXPECT_EQ(replySeenBeforeFree, kAddReplyValue);
    EXPECT_TRUE(endSeenBeforeFree) << "the connection was still open while the records went";
}

}  // namespace
