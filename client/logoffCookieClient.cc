// The client's request path: check the fields, build and encrypt the
// payload, then one connection for one request and one reply.
#include "client/logoffCookieClient.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

#include "client/requestBuilder.h"
#include "client/serviceSocket.h"
#include "crypto/logoffCookiePipe_crypt.h"
#include "crypto/secureMemory.h"
#include "protocol/requestLayout.h"

namespace logoffcookie {

namespace {

// The reply is 72 characters of text; room for a few times that lets a
// longer, foreign reply be read whole and refused by the envelope.
constexpr size_t kReplyCapacity = 512;

// The envelope's text, released on every way out.
struct EncryptedText {
    char* text = nullptr;
    int length = 0;
    ~EncryptedText() { std::free(text); }
};

class Connection {
  public:
    explicit Connection(int fd) : fd_(fd) {}
    ~Connection() {
        int saved = errno;
        close(fd_);
        errno = saved;
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

// The pipe key of the call running on this thread: derived from the host
// facts once per call, for the request and its reply alike. Trivially
// destructible, so that a module holding it can still be unloaded.
thread_local unsigned char callKey[PIPE_KEY_SIZE];

int keyOfThisCall(unsigned char* key) {
    std::memcpy(key, callKey, PIPE_KEY_SIZE);
    return 0;
}

// Derives the call's key and wipes it when the call ends.
class CallKey {
  public:
    CallKey() { getHostPipeKey(callKey); }
    ~CallKey() { secureZero(callKey, sizeof callKey); }
    CallKey(const CallKey&) = delete;
    CallKey& operator=(const CallKey&) = delete;
};

// What the envelope's failure was: this process short of memory (malloc
// leaves ENOMEM in errno), or `otherwise`. Call with errno cleared before
// the envelope ran.
ClientStatus envelopeFailure(ClientError otherwise) {
    if (errno == ENOMEM) {
        return ClientStatus{LC_CLIENT_SYSTEM_ERROR, ENOMEM};
    }
    return ClientStatus{otherwise, 0};
}

bool optionsValid(const ClientOptions& options) {
    return options.timeout.count() > 0 && options.socketWait.count() >= 0;
}

// The reply's message is its 4-byte value and the envelope's trailing zero.
ClientStatus decryptReplyValue(char* reply, size_t length, int32_t& value) {
    int messageLength = static_cast<int>(length);
    errno = 0;
    if (decryptPipeDataWith(keyOfThisCall, reply, &messageLength, static_cast<int>(kReplyCapacity),
                            ENCRYPTION_KAE5) != 0) {
        // Short of memory is no reason to suspect the reply.
        return envelopeFailure(LC_CLIENT_REPLY_UNDECRYPTABLE);
    }
    if (messageLength != kReplyLength + 1) {
        return ClientStatus{LC_CLIENT_UNEXPECTED_REPLY, 0};
    }
    std::memcpy(&value, reply, sizeof value);
    return {};
}

}  // namespace

Cookie::Cookie(std::string_view cookieText)
    : text(cookieText), creationTime(currentTime()), lastUseTime(creationTime) {}

int32_t currentTime() {
    // Requests carry 32-bit times; the wrap after 2038 is the service's too.
    return static_cast<int32_t>(static_cast<uint32_t>(std::time(nullptr)));
}

ClientStatus exchangePayload(const void* payload, size_t length, int32_t& replyValue,
                             const ClientOptions& options) {
    if ((payload == nullptr && length > 0) ||
        length > static_cast<size_t>(std::numeric_limits<int>::max()) || !optionsValid(options)) {
        return ClientStatus{LC_CLIENT_BAD_ARGUMENT, 0};
    }
    sockaddr_un address;
    ClientStatus status = resolveSocketAddress(options.socketPath, address);
    if (!status.ok()) {
        return status;
    }
    // Encrypted before connecting, so the service never waits on our crypto.
    CallKey key;
    EncryptedText request;
    errno = 0;
    if (encryptPipeDataWith(keyOfThisCall, payload, static_cast<int>(length), &request.text,
                            &request.length, ENCRYPTION_KAE5) != 0) {
        return envelopeFailure(LC_CLIENT_ENCRYPT_FAILED);
    }

    int fd = -1;
    Clock::time_point deadline;
    status = connectToService(address, options.socketWait, options.timeout, fd, deadline);
    if (!status.ok()) {
        return status;
    }
    Connection connection(fd);
    status =
        sendRequest(connection.fd(), request.text, static_cast<size_t>(request.length), deadline);
    if (!status.ok()) {
        return status;
    }
    char reply[kReplyCapacity];
    size_t replyLength = 0;
    status = receiveReply(connection.fd(), reply, sizeof reply, deadline, replyLength);
    if (!status.ok()) {
        return status;
    }
    return decryptReplyValue(reply, replyLength, replyValue);
}

namespace {

// A query or an add of `cookie`: checks its fields, builds the payload with
// `build` and exchanges it; `value` is the reply's.
template <size_t size>
ClientStatus exchangeCookie(const Cookie& cookie, void (*build)(const Cookie&, uint8_t (&)[size]),
                            int32_t& value, const ClientOptions& options) {
    if (!cookieFitsRequest(cookie)) {
        return ClientStatus{LC_CLIENT_BAD_ARGUMENT, 0};
    }
    uint8_t payload[size];
    build(cookie, payload);
    return exchangePayload(payload, sizeof payload, value, options);
}

}  // namespace

ClientStatus cookieIsCached(const Cookie& cookie, bool& cached, const ClientOptions& options) {
    int32_t value = 0;
    ClientStatus status = exchangeCookie(cookie, buildQueryPayload, value, options);
    if (status.ok()) {
        if (value != kQueryReplyCached && value != kQueryReplyNotCached) {
            return ClientStatus{LC_CLIENT_UNEXPECTED_REPLY, 0};
        }
        cached = value == kQueryReplyCached;
    }
    return status;
}

ClientStatus addToCache(const Cookie& cookie, const ClientOptions& options) {
    int32_t value = 0;
    ClientStatus status = exchangeCookie(cookie, buildAddPayload, value, options);
    if (status.ok() && value != kAddReplyValue) {
        return ClientStatus{LC_CLIENT_UNEXPECTED_REPLY, 0};
    }
    return status;
}

}  // namespace logoffcookie
