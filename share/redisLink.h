// One connection to Redis through hiredis, owned once and closed once. A
// failure of the connection closes it; an error reply is a reply.
#pragma once

#include <hiredis/hiredis.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "share/shareConfig.h"

struct RedisReplyFree {
    void operator()(redisReply* reply) const { freeReplyObject(reply); }
};
using RedisReply = std::unique_ptr<redisReply, RedisReplyFree>;

class RedisLink {
  public:
    RedisLink() = default;
    ~RedisLink() { close(); }
    RedisLink(const RedisLink&) = delete;
    RedisLink& operator=(const RedisLink&) = delete;

    enum class Outcome { Connected, Unreachable, Refused };
    // Connects, authenticates and selects the database; every read and write
    // afterwards gives up after `ioTimeout`. Unreachable with the reason in
    // `error`, or Refused with Redis's error reply to AUTH or SELECT there.
    Outcome connect(const ShareEndpoint& endpoint, std::chrono::milliseconds ioTimeout,
                    std::string& error);
    bool connected() const { return context_ != nullptr; }
    void close();

    // Sends one command and reads its reply; nullptr when the connection
    // failed (it is closed then).
    RedisReply command(const std::vector<std::string_view>& args, std::string& error);
    // Pipelining: queue commands, then read one reply per queued command.
    bool append(const std::vector<std::string_view>& args, std::string& error);
    RedisReply nextReply(std::string& error);

  private:
    bool failed(const char* call, std::string& error);

    redisContext* context_ = nullptr;
};
