#include "tests/support/rawRequests.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "crypto/logoffCookiePipe_crypt.h"
#include "tests/support/serviceProcess.h"

namespace lctest {
namespace {

constexpr size_t kAttributesSize = 840;
constexpr size_t kMaxLifetimeOffset = 652;
constexpr size_t kIdleTimeoutOffset = 656;

void put(std::string& payload, size_t offset, const void* value, size_t size) {
    std::memcpy(payload.data() + offset, value, size);
}

void putText(std::string& payload, size_t offset, const std::string& text) {
    put(payload, offset, text.data(), std::min<size_t>(text.size(), 64));
}

void putAttributes(std::string& payload, size_t offset, const CookieFields& cookie) {
    put(payload, offset + kMaxLifetimeOffset, &cookie.maxLifetimeMinutes, 4);
    put(payload, offset + kIdleTimeoutOffset, &cookie.idleTimeoutMinutes, 4);
}

// A zero-filled payload of `size` bytes with the request code and the two
// texts of the cookie, which both requests hold at the same places; the rest
// differs between them.
std::string payloadOf(size_t size, int32_t code, const CookieFields& cookie) {
    std::string payload(size, '\0');
    put(payload, 0, &code, 4);
    putText(payload, 4, cookie.text);
    putText(payload, 68, cookie.bytes);
    return payload;
}

int foreignKey(unsigned char* key) {
    std::memset(key, 0x5a, PIPE_KEY_SIZE);
    return 0;
}

std::string encryptWith(PipeKeySource source, const std::string& payload) {
    char* text = nullptr;
    int length = 0;
    int result = encryptPipeDataWith(source, payload.data(), static_cast<int>(payload.size()),
                                     &text, &length, ENCRYPTION_KAE5);
    std::string encrypted = result == 0 ? std::string(text, static_cast<size_t>(length)) : "";
    std::free(text);
    return encrypted;
}

}  // namespace

CookieFields freshCookie(const std::string& text, std::chrono::seconds ahead) {
    CookieFields cookie;
    cookie.text = text;
    cookie.bytes = text + "-bytes";
    cookie.creationTime = static_cast<int32_t>(time(nullptr) + ahead.count());
    cookie.lastUseTime = cookie.creationTime;
    return cookie;
}

std::string queryPayload(const CookieFields& cookie) {
    std::string payload = payloadOf(980, 1, cookie);
    put(payload, 132, &cookie.creationTime, 4);
    put(payload, 136, &cookie.timeOffset, 4);
    putAttributes(payload, 140, cookie);
    return payload;
}

std::string addPayload(const CookieFields& cookie) {
    std::string payload = payloadOf(988, 2, cookie);
    put(payload, 132, &cookie.lastUseTime, 4);
    put(payload, 136, &cookie.creationTime, 4);
    put(payload, 140, &cookie.timeOffset, 4);
    putAttributes(payload, 144, cookie);
    put(payload, 984, &cookie.kind, 4);
    return payload;
}

std::string codePayload(int32_t code, size_t length) {
    std::string payload(length, '\0');
    std::memcpy(payload.data(), &code, std::min<size_t>(length, 4));
    return payload;
}

std::string encryptRequest(const std::string& payload) {
    return encryptWith(getHostPipeKey, payload);
}

std::string encryptRequestWithForeignKey(const std::string& payload) {
    return encryptWith(foreignKey, payload);
}

std::optional<int32_t> decryptReply(const std::string& text) {
    char buffer[4096] = {};
    if (text.empty() || text.size() >= sizeof buffer) {
        return std::nullopt;
    }
    std::memcpy(buffer, text.data(), text.size());
    int length = static_cast<int>(text.size());
    if (decryptPipeDataWith(getHostPipeKey, buffer, &length, sizeof buffer, ENCRYPTION_KAE5) != 0 ||
        length < 4) {
        return std::nullopt;
    }
    int32_t value;
    std::memcpy(&value, buffer, 4);
    return value;
}

std::string readUntilClosed(int fd) {
    std::string reply;
    char buffer[512];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        reply.append(buffer, static_cast<size_t>(n));
    }
    return reply;
}

std::optional<std::string> roundTrip(const std::string& socketPath, const std::string& request) {
    int fd = connectTo(socketPath);
    if (fd < 0) {
        return std::nullopt;
    }
    // A test must fail, not hang, when the service never closes.
    timeval timeout{15, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (!request.empty()) {
        ssize_t sent = send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        (void)sent;
    }
    std::string reply = readUntilClosed(fd);
    close(fd);
    return reply;
}

std::optional<int32_t> ask(const std::string& socketPath, const std::string& payload) {
    std::optional<std::string> reply = roundTrip(socketPath, encryptRequest(payload));
    return reply ? decryptReply(*reply) : std::nullopt;
}

}  // namespace lctest
