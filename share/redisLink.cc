#include "share/redisLink.h"

#include "crypto/secureMemory.h"
#include "share/tlsTransport.h"

namespace {

// What one read takes from the stream at most, as hiredis's own reads.
constexpr std::size_t kReadSize = 16 * 1024;

std::string hostPort(const std::string& host, int port) {
    bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// The commands sent may hold AUTH's password.
void wipe(std::string& text) {
    if (!text.empty()) {
        secureZero(text.data(), text.size());
        text.clear();
    }
}

// The argument vector hiredis takes, pointing into `args`.
struct ArgVector {
    explicit ArgVector(const std::vector<std::string_view>& args) {
        for (std::string_view arg : args) {
            pointers.push_back(arg.data());
            lengths.push_back(arg.size());
        }
    }
    std::vector<const char*> pointers;
    std::vector<size_t> lengths;
};

// hiredis's own object functions, which the bounded ones below call once a
// piece is found within bounds. The same for every reader: taken from the
// first one made.
redisReplyObjectFunctions* defaultFunctions() {
    static redisReplyObjectFunctions* const functions = [] {
        redisReader* reader = redisReaderCreate();
        if (reader == nullptr) {
            return static_cast<redisReplyObjectFunctions*>(nullptr);
        }
        redisReplyObjectFunctions* found = reader->fn;
        redisReaderFree(reader);
        return found;
    }();
    return functions;
}

RedisReplyBudget& budgetOf(const redisReadTask* task) {
    return *static_cast<RedisReplyBudget*>(task->privdata);
}

// Every object costs its bytes and a little for its own record.
constexpr std::size_t kObjectCost = 64;

// Pieces are kept only this near the top, and only so many: enough for the
// ids of one read's entries and the facts of a stream.
constexpr int kDeepestPiece = 2;
constexpr std::size_t kMostPieces = 256;

void keepPiece(const redisReadTask* task, const char* text, std::size_t length,
               const long long* number) {
    int depth = 0;
    for (const redisReadTask* up = task->parent; up != nullptr; up = up->parent) {
        ++depth;
    }
    RedisReplyBudget& budget = budgetOf(task);
    if (depth == 0 || depth > kDeepestPiece || length > kRedisLongestPiece ||
        budget.pieces.size() >= kMostPieces) {
        return;
    }
    RedisReplyPiece piece;
    piece.depth = depth;
    piece.index = task->idx;
    piece.parentIndex = task->parent != nullptr ? task->parent->idx : -1;
    if (number != nullptr) {
        piece.integer = true;
        piece.number = *number;
    } else {
        piece.text.assign(text, length);
    }
    budget.pieces.push_back(std::move(piece));
}

void* boundedString(const redisReadTask* task, char* text, size_t length) {
    RedisReplyBudget& budget = budgetOf(task);
    if (length > kRedisLongestString || !budget.take(length + kObjectCost)) {
        budget.refused = "a string of " + std::to_string(length) + " bytes";
        return nullptr;
    }
    keepPiece(task, text, length, nullptr);
    return defaultFunctions()->createString(task, text, length);
}

void* boundedArray(const redisReadTask* task, int elements) {
    RedisReplyBudget& budget = budgetOf(task);
    auto count = static_cast<std::size_t>(elements < 0 ? 0 : elements);
    if (count > kRedisLongestArray || !budget.take(kObjectCost + count * sizeof(void*))) {
        budget.refused = "an array of " + std::to_string(count) + " elements";
        return nullptr;
    }
    return defaultFunctions()->createArray(task, elements);
}

void* boundedInteger(const redisReadTask* task, long long value) {
    if (!budgetOf(task).take(kObjectCost)) {
        budgetOf(task).refused = "too many objects";
        return nullptr;
    }
    keepPiece(task, nullptr, 0, &value);
    return defaultFunctions()->createInteger(task, value);
}

void* boundedNil(const redisReadTask* task) {
    if (!budgetOf(task).take(kObjectCost)) {
        budgetOf(task).refused = "too many objects";
        return nullptr;
    }
    return defaultFunctions()->createNil(task);
}

redisReplyObjectFunctions boundedFunctions = {boundedString, boundedArray, boundedInteger,
                                              boundedNil, freeReplyObject};

}  // namespace

bool RedisReplyBudget::take(std::size_t bytes) {
    if (bytes > bytesLeft) {
        bytesLeft = 0;
        return false;
    }
    bytesLeft -= bytes;
    return true;
}

RedisLink::~RedisLink() {
    close();
}

RedisLink::Outcome RedisLink::connect(const ShareEndpoint& endpoint,
                                      std::chrono::milliseconds ioTimeout, std::string& error) {
    close();
    tlsRefusal_.clear();
    heardFromServer_ = false;
    host_ = endpoint.unixSocket || endpoint.useTls ? std::string() : endpoint.host;
    port_ = endpoint.port;
    timeout_ = ioTimeout;
    int fd = connectSocket(endpoint, ioTimeout, error);
    if (fd < 0) {
        return Outcome::Unreachable;
    }
    auto socket = std::make_unique<SocketTransport>(fd, ioTimeout);
    if (endpoint.useTls) {
        if (!endpoint.tls) {
            error = "TLS: no TLS settings";
            return Outcome::Unreachable;
        }
        TlsTransport::Failure failure = TlsTransport::Failure::Connection;
        std::string reason;
        transport_ =
            TlsTransport::open(std::move(socket), endpoint.tls, endpoint.host, reason, failure);
        if (!transport_) {
            if (failure == TlsTransport::Failure::Unanswered &&
                serverAnswersInClear(endpoint, ioTimeout)) {
                reason =
                    "the server does not answer in TLS: it serves in clear on this port; use "
                    "redis:// (sentinel://) for it, or the port of its tls-port";
                failure = TlsTransport::Failure::Refused;
            }
            error = "TLS with " + hostPort(endpoint.host, endpoint.port) + ": " + reason;
            if (failure == TlsTransport::Failure::Refused) {
                tlsRefusal_ = error;
                return Outcome::TlsRefused;
            }
            return Outcome::Unreachable;
        }
    } else {
        transport_ = std::move(socket);
    }
    if (defaultFunctions() != nullptr) {
        reader_ = redisReaderCreateWithFunctions(&boundedFunctions);
    }
    if (reader_ == nullptr) {
        error = "connect: out of memory";
        close();
        return Outcome::Unreachable;
    }
    reader_->privdata = &budget_;

    std::vector<std::string_view> auth;
    if (endpoint.hasPassword && !endpoint.user.empty()) {
        auth = {"AUTH", endpoint.user, endpoint.password};
    } else if (endpoint.hasPassword || !endpoint.user.empty()) {
        // redis://:password@host and redis://password@host both mean the
        // default user's password.
        auth = {"AUTH", endpoint.hasPassword ? endpoint.password : endpoint.user};
    }
    std::string db = std::to_string(endpoint.db);
    std::vector<std::string_view> select;
    if (endpoint.db != 0) {
        select = {"SELECT", db};
    }
    std::vector<std::string_view> ping;
    if (endpoint.useTls && auth.empty() && select.empty()) {
        ping = {"PING"};
    }
    for (const auto& args : {auth, select, ping}) {
        if (args.empty()) {
            continue;
        }
        RedisReply reply = command(args, error);
        if (!reply) {
            return tlsRefusal_.empty() ? Outcome::Unreachable : Outcome::TlsRefused;
        }
        if (reply->type == REDIS_REPLY_ERROR) {
            error.assign(reply->str, reply->len);
            close();
            return Outcome::Refused;
        }
    }
    return Outcome::Connected;
}

void RedisLink::close() {
    transport_.reset();
    if (reader_ != nullptr) {
        redisReaderFree(reader_);
        reader_ = nullptr;
    }
    wipe(output_);
}

bool RedisLink::failed(std::string& error) {
    if (transport_ != nullptr && transport_->tlsRefused()) {
        tlsRefusal_ = "TLS: " + error;
        error = tlsRefusal_;
    } else if (transport_ != nullptr && transport_->closedByPeer() && !heardFromServer_ &&
               !host_.empty() && serverSpeaksTls(host_, port_, timeout_)) {
        // Closed before a word by a server that answers TLS: it serves TLS
        // alone, and takes the commands in clear for a broken handshake.
        tlsRefusal_ = "TLS: the server at " + hostPort(host_, port_) +
                      " speaks TLS only: use rediss:// (sentinels://) for it";
        error = tlsRefusal_;
    }
    close();
    return false;
}

RedisReply RedisLink::command(const std::vector<std::string_view>& args, std::string& error) {
    if (!append(args, error)) {
        return nullptr;
    }
    return nextReply(error);
}

bool RedisLink::append(const std::vector<std::string_view>& args, std::string& error) {
    if (transport_ == nullptr) {
        error = "not connected";
        return false;
    }
    ArgVector argv(args);
    char* formatted = nullptr;
    int length = redisFormatCommandArgv(&formatted, static_cast<int>(args.size()),
                                        argv.pointers.data(), argv.lengths.data());
    if (length < 0) {
        error = "append: out of memory";
        close();
        return false;
    }
    output_.append(formatted, static_cast<std::size_t>(length));
    // AUTH's password was in it.
    secureZero(formatted, static_cast<std::size_t>(length));
    redisFreeCommand(formatted);
    return true;
}

RedisReply RedisLink::nextReply(std::string& error) {
    replyRefused_ = false;
    if (transport_ == nullptr) {
        error = "not connected";
        return nullptr;
    }
    budget_ = RedisReplyBudget{};
    // What was appended goes out first.
    if (!output_.empty()) {
        bool sent = transport_->send(output_, error);
        wipe(output_);
        if (!sent) {
            failed(error);
            return nullptr;
        }
    }
    void* reply = nullptr;
    for (;;) {
        if (redisReaderGetReply(reader_, &reply) != REDIS_OK) {
            if (!budget_.refused.empty()) {
                replyRefused_ = true;
                error = "reply refused: " + budget_.refused;
            } else {
                error = std::string("reply: ") + reader_->errstr;
            }
            close();
            return nullptr;
        }
        if (reply != nullptr) {
            return RedisReply(static_cast<redisReply*>(reply));
        }
        // One piece more, unless what waits unparsed is too much already.
        if (reader_->len - reader_->pos > kRedisReplyBufferLimit) {
            replyRefused_ = true;
            error = "reply refused: more than " + std::to_string(kRedisReplyBufferLimit) +
                    " bytes unparsed";
            close();
            return nullptr;
        }
        char buffer[kReadSize];
        std::size_t got = transport_->receive(buffer, sizeof buffer, error);
        if (got == 0) {
            failed(error);
            return nullptr;
        }
        heardFromServer_ = true;
        if (redisReaderFeed(reader_, buffer, got) != REDIS_OK) {
            error = std::string("reply: ") + reader_->errstr;
            close();
            return nullptr;
        }
    }
}
