// One connection to Redis, owned once and closed once, in clear or over TLS
// (share/linkTransport.h): commands are formatted and replies read by
// hiredis's protocol reader alone, whichever stream carries them. A failure
// of the connection closes it; an error reply is a reply.
//
// Whatever Redis sends (and so whatever anyone who can write to it put in
// the stream) costs a bounded amount of memory: a reply is read piece by
// piece, and the link gives up on it, closing the connection, when more than
// kRedisReplyBufferLimit bytes of it wait unparsed (one long string), when
// an array or a string is longer than any reply of ours can be, or when the
// reply as a whole would take more than kRedisReplyBudget bytes.
#pragma once

#include <hiredis/hiredis.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "share/linkTransport.h"
#include "share/shareConfig.h"

inline constexpr std::size_t kRedisReplyBufferLimit = 1 << 20;
inline constexpr std::size_t kRedisReplyBudget = 1 << 20;
inline constexpr std::size_t kRedisLongestArray = 1024;
inline constexpr std::size_t kRedisLongestString = 4096;

// A short string or an integer near the top of a reply, kept as it is read:
// when a reply is given up, what came before the part at fault is still
// known (the id of an entry too large to read comes before its fields).
struct RedisReplyPiece {
    int depth = 0;  // 1: an element of the reply's array, 2: of one of those
    int index = 0;  // within its array
    int parentIndex = -1;
    bool integer = false;
    long long number = 0;
    std::string text;
};
inline constexpr std::size_t kRedisLongestPiece = 64;

// What a reply being read may still take; the reply object functions draw
// from it.
struct RedisReplyBudget {
    std::size_t bytesLeft = kRedisReplyBudget;
    std::string refused;  // why the reply was given up, empty while it is not
    std::vector<RedisReplyPiece> pieces;

    bool take(std::size_t bytes);
};

struct RedisReplyFree {
    void operator()(redisReply* reply) const { freeReplyObject(reply); }
};
using RedisReply = std::unique_ptr<redisReply, RedisReplyFree>;

class RedisLink {
  public:
    RedisLink() = default;
    ~RedisLink();
    RedisLink(const RedisLink&) = delete;
    RedisLink& operator=(const RedisLink&) = delete;

    enum class Outcome { Connected, Unreachable, Refused, TlsRefused };
    // Connects, authenticates and selects the database; every read and write
    // afterwards gives up after `ioTimeout`. Unreachable with the reason in
    // `error`, Refused with Redis's error reply to AUTH or SELECT there, or
    // TlsRefused with tlsRefusal() in `error`. Over TLS one round trip is
    // always made, so that a server refusing our certificate, which it says
    // only after the handshake, is found here.
    Outcome connect(const ShareEndpoint& endpoint, std::chrono::milliseconds ioTimeout,
                    std::string& error);
    bool connected() const { return transport_ != nullptr; }
    void close();
    // What TLS refused on the last connection, made or in use (a
    // certificate, TLS on one side only), with what to mend; empty when
    // nothing did. Kept after the link closes, until the next connect.
    const std::string& tlsRefusal() const { return tlsRefusal_; }

    // Sends one command and reads its reply; nullptr when the connection
    // failed (it is closed then).
    RedisReply command(const std::vector<std::string_view>& args, std::string& error);
    // Pipelining: queue commands, then read one reply per queued command.
    bool append(const std::vector<std::string_view>& args, std::string& error);
    RedisReply nextReply(std::string& error);
    // Whether the last failure was a reply given up for its size or shape:
    // what Redis holds, not the connection, is at fault then.
    bool replyRefused() const { return replyRefused_; }
    // The pieces of the last reply read, whole or given up.
    const std::vector<RedisReplyPiece>& pieces() const { return budget_.pieces; }

  private:
    // The transport failed with `error`: closes the link, and tells TLS
    // refused apart. Returns false.
    bool failed(std::string& error);

    std::unique_ptr<LinkTransport> transport_;
    redisReader* reader_ = nullptr;
    std::string output_;  // commands appended, not yet sent
    RedisReplyBudget budget_;
    bool replyRefused_ = false;
    bool heardFromServer_ = false;  // a byte read since the connect
    std::string tlsRefusal_;
    // Where a link in clear went, to ask whether TLS was wanted there.
    std::string host_;
    int port_ = 0;
    std::chrono::milliseconds timeout_{0};
};
