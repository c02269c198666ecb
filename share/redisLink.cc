#include "share/redisLink.h"

#include <sys/time.h>

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

}  // namespace

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
    if (context_ == nullptr) {
        error = "not connected";
        return nullptr;
    }
    void* reply = nullptr;
    if (redisGetReply(context_, &reply) != REDIS_OK || reply == nullptr) {
        failed("redisGetReply", error);
        return nullptr;
    }
    return RedisReply(static_cast<redisReply*>(reply));
}
