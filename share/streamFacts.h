// What the receiver asks Redis about the stream besides its entries: the
// server's clock, and XINFO STREAM's figures. XINFO also returns the first
// and last entries, which anyone who can write to Redis chooses: its reply
// is read within the link's bounds, and when those give it up, the figures
// that came before the entries still count.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "share/redisLink.h"
#include "share/streamId.h"

struct StreamFacts {
    std::uint64_t serverMs = 0;  // Redis's clock
    bool exists = false;
    StreamId last;   // last generated id
    StreamId first;  // of the first entry still held
    long long length = -1;
    long long added = -1;  // entries ever added; -1 when Redis does not say (before 7.0)
};

// How a question to Redis went: answered, the link failed (closed, reason in
// `error`), refused (Redis's error reply in `error`), or given up: the reply
// was beyond the link's bounds (closed, reason in `error`), and what came
// before the part at fault is filled in.
enum class FactsOutcome { Answered, LinkFailed, Refused, GivenUp };

FactsOutcome readServerTime(RedisLink& link, std::uint64_t& serverMs, std::string& error);

// Which Redis instance answers, as INFO tells it: another process (another
// run_id), or the same one since made the replica of another primary, its
// data replaced by that one's (another master_replid), is another. A
// replica also tells how it follows its primary.
struct RedisInstance {
    std::string runId;
    std::string replicationId;
    std::string role;              // "master" or "slave"
    bool linkUp = false;           // a replica's master_link_status is up
    long long lastIoSeconds = -1;  // since a replica last heard from its primary; -1: unknown

    bool known() const { return !runId.empty() || !replicationId.empty(); }
    bool replica() const { return role == "slave"; }
};
FactsOutcome readInstance(RedisLink& link, RedisInstance& instance, std::string& error);
// The value of the line "`name`:..." of an INFO reply; empty when none.
std::string infoField(std::string_view info, std::string_view name);

// Fills all but serverMs. A missing stream is answered with exists false.
// The stream's first and last entries end the reply: given up for their
// size, the figures before them are still filled in.
FactsOutcome readStreamInfo(RedisLink& link, const std::string& streamKey, StreamFacts& out,
                            std::string& error);

// The ids of the entries in a reply to XRANGE, as far as it was read: for a
// reply given up, the last is that of the entry at fault.
std::vector<StreamId> entryIdsRead(const std::vector<RedisReplyPiece>& pieces);
