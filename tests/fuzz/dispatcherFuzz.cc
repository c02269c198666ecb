// The request dispatcher on arbitrary decrypted payloads. Each payload is
// sealed in the envelope under the service's key and written into one end of
// a socket pair; the dispatcher serves the other end on this thread, as a
// connection thread would, and whatever comes back is read and checked
// against the reply rules:
//   text longer than one read  -> no reply
//   payload of 3 bytes or less -> no reply
//   function code 1            -> 72 characters holding 1 or 0 (1 when short)
//   function code 2            -> 72 characters holding -1
//   any other code             -> no reply
// and the dispatcher must have closed its end on every path.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cache/logoffCookieAPI.h"
#include "crypto/logoffCookiePipe_crypt.h"
#include "service/clientRequest.h"
#include "service/serviceDispatcher.h"

namespace {

constexpr size_t kReplyTextLength = 72;
// Payloads up to here still fit one read once enveloped, and a little beyond.
constexpr size_t kLargestPayload = 3100;

[[noreturn]] void fail() {
    std::abort();
}

// Everything the dispatcher sent, up to its close; fails when it never closed.
std::string readUntilClosed(int fd) {
    fcntl(fd, F_SETFL, O_NONBLOCK);
    std::string reply;
    char chunk[256];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n > 0) {
            reply.append(chunk, static_cast<size_t>(n));
        } else if (n == 0 || errno == ECONNRESET) {
            // A reset: it closed with part of a long request still unread.
            return reply;
        } else if (errno != EINTR) {
            fail();  // EAGAIN: the dispatcher left its end open
        }
    }
}

int32_t replyValue(const std::string& text) {
    if (text.size() != kReplyTextLength) {
        fail();
    }
    char buffer[kRequestCapacity] = {};
    std::memcpy(buffer, text.data(), text.size());
    int length = static_cast<int>(text.size());
    if (decryptPipeData(buffer, &length, kRequestCapacity, ENCRYPTION_KAE5) != 0 ||
        length != kReplyLength + 1) {
        fail();
    }
    int32_t value;
    std::memcpy(&value, buffer, sizeof value);
    return value;
}

}  // namespace

// The cache owns the cookies recorded by the inputs and never frees those it
// still holds when the process ends: not leaks.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:logoffCookieAPI_addToCache\n";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    signal(SIGPIPE, SIG_IGN);
    initLogoffCookieCache();
    setHashKeySeed();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kLargestPayload) {
        return 0;
    }
    char* text = nullptr;
    int textLength = 0;
    if (encryptPipeData(data, static_cast<int>(size), &text, &textLength, ENCRYPTION_KAE5) != 0) {
        fail();
    }
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) {
        fail();
    }
    if (write(ends[0], text, static_cast<size_t>(textLength)) != textLength) {
        fail();
    }
    std::free(text);

    logoffCookieAPI_serviceDispatcher(ClientConnection(ends[1]));
    std::string reply = readUntilClosed(ends[0]);
    close(ends[0]);

    // The message the dispatcher sees is the payload and one zero byte.
    const size_t count = size + 1;
    int32_t code = 0;
    std::memcpy(&code, data, size < 4 ? size : 4);
    const bool decodable = textLength <= kRequestCapacity;
    if (!decodable || count <= 4 || (code != FUNC_COOKIE_IS_CACHED && code != FUNC_ADD_TO_CACHE)) {
        if (!reply.empty()) {
            fail();
        }
    } else if (code == FUNC_COOKIE_IS_CACHED) {
        int32_t value = replyValue(reply);
        if (value != 1 && (value != 0 || count < static_cast<size_t>(kMinQueryCount))) {
            fail();
        }
    } else if (replyValue(reply) != kAddReplyValue) {
        fail();
    }
    return 0;
}
