#include "share/redisLink.h"

#include <sys/time.h>

#include <atomic>

namespace {

timeval asTimeval(std::chrono::milliseconds duration) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(duration.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>(duration.count() % 1000 * 1000);
    return tv;
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
// piece is found within bounds. The same for every context.
std::atomic<redisReplyObjectFunctions*> hiredisFunctions{nullptr};

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
    if (depth == 0 || depth > kDeepestPiece || length > REDIS_LONGEST_PIECE ||
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
    if (length > REDIS_LONGEST_STRING || !budget.take(length + kObjectCost)) {
        budget.refused = "a string of " + std::to_string(length) + " bytes";
        return nullptr;
    }
    keepPiece(task, text, length, nullptr);
    return hiredisFunctions.load()->createString(task, text, length);
}

void* boundedArray(const redisReadTask* task, int elements) {
    RedisReplyBudget& budget = budgetOf(task);
    auto count = static_cast<std::size_t>(elements < 0 ? 0 : elements);
    if (count > REDIS_LONGEST_ARRAY || !budget.take(kObjectCost + count * sizeof(void*))) {
        budget.refused = "an array of " + std::to_string(count) + " elements";
        return nullptr;
    }
    return hiredisFunctions.load()->createArray(task, elements);
}

void* boundedInteger(const redisReadTask* task, long long value) {
    if (!budgetOf(task).take(kObjectCost)) {
        budgetOf(task).refused = "too many objects";
        return nullptr;
    }
    keepPiece(task, nullptr, 0, &value);
    return hiredisFunctions.load()->createInteger(task, value);
}

void* boundedNil(const redisReadTask* task) {
    if (!budgetOf(task).take(kObjectCost)) {
        budgetOf(task).refused = "too many objects";
        return nullptr;
    }
    return hiredisFunctions.load()->createNil(task);
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

RedisLink::Outcome RedisLink::connect(const ShareEndpoint& endpoint,
                                      std::chrono::milliseconds ioTimeout, std::string& error) {
    close();
    timeval tv = asTimeval(ioTimeout);
    context_ = endpoint.unixSocket
                   ? redisConnectUnixWithTimeout(endpoint.path.c_str(), tv)
                   : redisConnectWithTimeout(endpoint.host.c_str(), endpoint.port, tv);
    if (context_ == nullptr) {
        error = "connect: out of memory";
        return Outcome::Unreachable;
    }
    if (context_->err != 0) {
        failed("connect", error);
        return Outcome::Unreachable;
    }
    if (redisSetTimeout(context_, tv) != REDIS_OK) {
        failed("redisSetTimeout", error);
        return Outcome::Unreachable;
    }
    if (!endpoint.unixSocket) {
        redisEnableKeepAlive(context_);
    }
    redisReplyObjectFunctions* expected = nullptr;
    hiredisFunctions.compare_exchange_strong(expected, context_->reader->fn);
    context_->reader->fn = &boundedFunctions;
    context_->reader->privdata = &budget_;

    std::vector<std::string_view> auth;
    if (endpoint.hasPassword && !endpoint.user.empty()) {
        auth = {"AUTH", endpoint.user, endpoint.password};
    } else if (endpoint.hasPassword || !endpoint.user.empty()) {
        // redis://:password@host and redis://password@host both mean the
        // default user's password.
        auth = {"AUTH", endpoint.hasPassword ? endpoint.password : endpoint.user};
    }
    std::string db = std::to_string(endpoint.db);
    for (const auto& args : {auth, std::vector<std::string_view>{"SELECT", db}}) {
        if (args.empty() || (args[0] == "SELECT" && endpoint.db == 0)) {
            continue;
        }
        RedisReply reply = command(args, error);
        if (!reply) {
            return Outcome::Unreachable;
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
    if (context_ != nullptr) {
        redisFree(context_);
        context_ = nullptr;
    }
}

bool RedisLink::failed(const char* call, std::string& error) {
    error = std::string(call) + ": " + (context_ != nullptr ? context_->errstr : "no connection");
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
    if (context_ == nullptr) {
        error = "not connected";
        return false;
    }
    ArgVector argv(args);
    if (redisAppendCommandArgv(context_, static_cast<int>(args.size()), argv.pointers.data(),
                               argv.lengths.data()) != REDIS_OK) {
        return failed("redisAppendCommandArgv", error);
    }
    return true;
}

RedisReply RedisLink::nextReply(std::string& error) {
    replyRefused_ = false;
    if (context_ == nullptr) {
        error = "not connected";
        return nullptr;
    }
    budget_ = RedisReplyBudget{};
    // What was appended goes out first.
    int written = 0;
    while (written == 0) {
        if (redisBufferWrite(context_, &written) != REDIS_OK) {
            failed("redisBufferWrite", error);
            return nullptr;
        }
    }
    void* reply = nullptr;
    for (;;) {
        if (redisGetReplyFromReader(context_, &reply) != REDIS_OK) {
            if (!budget_.refused.empty()) {
                replyRefused_ = true;
                error = "reply refused: " + budget_.refused;
                close();
            } else {
                failed("redisGetReply", error);
            }
            return nullptr;
        }
        if (reply != nullptr) {
            return RedisReply(static_cast<redisReply*>(reply));
        }
        // One piece more, unless what waits unparsed is too much already.
        if (context_->reader->len - context_->reader->pos > REDIS_REPLY_BUFFER_LIMIT) {
            replyRefused_ = true;
            error = "reply refused: more than " + std::to_string(REDIS_REPLY_BUFFER_LIMIT) +
                    " bytes unparsed";
            close();
            return nullptr;
        }
        if (redisBufferRead(context_) != REDIS_OK) {
            failed("redisBufferRead", error);
            return nullptr;
        }
    }
}
