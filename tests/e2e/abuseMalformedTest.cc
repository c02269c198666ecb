// Requests that are not what a client sends: split over two writes, longer
// than one read, truncated, foreign or plain garbage. Each is dropped without
// a reply, and the same worker goes on answering, the cookies recorded before
// included.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <string>

#include "tests/e2e/abuseSupport.h"

namespace lctest {
namespace {

// A query payload long enough that its envelope text is `textLength`
// characters: the text is 4 * ceil((L + 49) / 3) for a payload of L bytes.
std::string queryWithTextLength(const CookieFields& cookie, size_t textLength) {
    size_t payloadLength = textLength / 4 * 3 - 49;
    std::string payload = queryPayload(cookie);
    payload.resize(payloadLength, '\0');
    return payload;
}

class AbuseMalformed : public ServiceSuite {
  protected:
    static void SetUpTestSuite() { startSuite({}, "recorded-before-malformed", 5); }

    // Sends `parts` one after the other, each only once the service has
    // ended the connection after what came before: the service reads once,
    // so a later part can never join an earlier one. Then reads until the
    // service closes. Returns every reply, empty when none came.
    static std::string sendInParts(const std::vector<std::string>& parts) {
        int fd = connectTo(socket());
        EXPECT_GE(fd, 0);
        // Only reached when the service waits for more than its one read.
        timeval timeout{15, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        std::string reply;
        for (size_t i = 0; i < parts.size(); ++i) {
            if (i > 0) {
                reply += readUntilClosed(fd);
            }
            // The service may have closed already: a failed send is expected.
            ssize_t sent = send(fd, parts[i].data(), parts[i].size(), MSG_NOSIGNAL);
            (void)sent;
        }
        reply += readUntilClosed(fd);
        close(fd);
        return reply;
    }
};

TEST_F(AbuseMalformed, RequestSplitOverTwoWritesIsDroppedWithoutHarm) {
    // Each cookie is made once: made again a second later it would have
    // another creation time, and so be another cookie.
    CookieFields splitAdd = laterCookie("split-add");
    for (const std::string& payload : {queryPayload(laterCookie("split")), addPayload(splitAdd)}) {
        std::string text = encryptRequest(payload);
        for (size_t cut : {size_t{4}, size_t{100}, text.size() / 2, text.size() - 4}) {
            EXPECT_EQ(sendInParts({text.substr(0, cut), text.substr(cut)}), "") << cut;
        }
    }
    // The split add recorded nothing.
    EXPECT_EQ(ask(socket(), queryPayload(splitAdd)), 0);
}

TEST_F(AbuseMalformed, RequestLongerThanOneReadIsDroppedWithoutHarm) {
    const CookieFields& cookie = recorded_->cookies().front();
    std::string longest = encryptRequest(queryWithTextLength(cookie, 4096));
    ASSERT_EQ(longest.size(), 4096u);
    EXPECT_EQ(decryptReply(sendInParts({longest})), 1) << "4096 characters fit one read";

    std::string over = encryptRequest(queryWithTextLength(cookie, 4100));
    ASSERT_EQ(over.size(), 4100u);
    EXPECT_EQ(sendInParts({over}), "");
    CookieFields overAdd = laterCookie("over-add");
    std::string add = addPayload(overAdd);
    add.resize(3100, '\0');
    EXPECT_EQ(sendInParts({encryptRequest(add)}), "");
    EXPECT_EQ(ask(socket(), queryPayload(overAdd)), 0);
    for (size_t size : {size_t{65536}, size_t{1} << 20}) {
        EXPECT_EQ(sendInParts({std::string(size, 'A')}), "") << size;
    }
}

TEST_F(AbuseMalformed, TruncatedEnvelopesAreDroppedWithoutHarm) {
    CookieFields truncated = laterCookie("truncated");
    std::string text = encryptRequest(addPayload(truncated));
    for (size_t length = 1; length < text.size(); length += 7) {
        EXPECT_EQ(sendInParts({text.substr(0, length)}), "") << length;
    }
    EXPECT_EQ(ask(socket(), queryPayload(truncated)), 0);
}

TEST_F(AbuseMalformed, HostileBytesAreDroppedWithoutHarm) {
    std::mt19937 random(20240607);
    CookieFields foreign = laterCookie("foreign");
    CookieFields crlf = laterCookie("crlf");
    std::vector<std::string> inputs = {
        std::string(4096, '\0'),
        std::string(4096, '='),
        std::string(1372, '/'),
        "AAAA",
        "====",
        encryptRequestWithForeignKey(addPayload(foreign)),
        encryptRequest(addPayload(crlf)) + "\r\n",
    };
    for (int i = 0; i < 50; ++i) {
        std::string bytes(1 + random() % 4096, '\0');
        for (char& byte : bytes) {
            byte = static_cast<char>(random());
        }
        inputs.push_back(bytes);
    }
    for (size_t i = 0; i < inputs.size(); ++i) {
        EXPECT_EQ(sendInParts({inputs[i]}), "") << "input " << i;
    }
    EXPECT_EQ(ask(socket(), queryPayload(foreign)), 0);
    EXPECT_EQ(ask(socket(), queryPayload(crlf)), 0);
}

}  // namespace
}  // namespace lctest
