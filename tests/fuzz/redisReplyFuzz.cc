// The bounded Redis reply reader on arbitrary byte streams, as a server, or
// anyone who can put data into it, may send them. The bytes are what a
// server on a Unix socket says before it closes; the link reads reply after
// reply until it fails. Every reply handed out must keep the bounds the
// link promises, and a failure must leave the link closed.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "share/redisLink.h"

namespace {

[[noreturn]] void fail() {
    std::abort();
}

std::string socketPath;
int listener = -1;

void removeSocketDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(socketPath).parent_path(), ignored);
}

// What a reply holds, by the measure the link's budget uses.
std::size_t checkedSize(const redisReply* reply, int depth) {
    if (depth > 9) {
        fail();
    }
    std::size_t size = 64;
    switch (reply->type) {
        case REDIS_REPLY_STRING:
        case REDIS_REPLY_STATUS:
        case REDIS_REPLY_ERROR:
            if (reply->len > kRedisLongestString) {
                fail();
            }
            size += reply->len;
            break;
        case REDIS_REPLY_ARRAY:
            if (reply->elements > kRedisLongestArray) {
                fail();
            }
            size += reply->elements * sizeof(void*);
            for (std::size_t i = 0; i < reply->elements; ++i) {
                size += checkedSize(reply->element[i], depth + 1);
            }
            break;
        default:
            break;
    }
    return size;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char directory[] = "/tmp/lc-fuzz-redis-XXXXXX";
    if (mkdtemp(directory) == nullptr) {
        fail();
    }
    socketPath = std::string(directory) + "/redis.sock";
    std::atexit(removeSocketDirectory);
    listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    if (listener < 0 ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 4) != 0) {
        fail();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ShareEndpoint endpoint;
    endpoint.unixSocket = true;
    endpoint.path = socketPath;
    RedisLink link;
    std::string error;
    // No password, database 0, no TLS: the connect sends nothing.
    if (link.connect(endpoint, std::chrono::seconds(5), error) != RedisLink::Outcome::Connected) {
        fail();
    }
    int server = accept(listener, nullptr, nullptr);
    if (server < 0) {
        fail();
    }
    // The inputs are far smaller than a socket's buffer: written whole at once.
    if (size > 0 && write(server, data, size) != static_cast<ssize_t>(size)) {
        fail();
    }
    close(server);

    for (;;) {
        RedisReply reply = link.nextReply(error);
        if (!reply) {
            break;
        }
        if (checkedSize(reply.get(), 0) > kRedisReplyBudget) {
            fail();
        }
    }
    if (link.connected() || error.empty()) {
        fail();
    }
    return 0;
}
