// What the receiver asks Redis about the stream besides its entries: the
// server's clock, and XINFO STREAM's figures. XINFO also returns the first
// and last entries, which anyone who can write to Redis chooses: its reply
// is read within the link's bounds, and when those give it up, the figures
// that came before the entries still count.
#pragma once

#include <string>
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
// `error`), or refused (Redis's error reply in `error`).
enum class FactsOutcome { Answered, LinkFailed, Refused };

FactsOutcome readServerTime(RedisLink& link, std::uint64_t& serverMs, std::string& error);

// Fills all but serverMs. A missing stream is answered with exists false.
FactsOutcome readStreamInfo(RedisLink& link, const std::string& streamKey, StreamFacts& out,
                            std::string& error);

// The ids of the entries in a reply to XRANGE, as far as it was read: for a
// reply given up, the last is that of the entry at fault.
std::vector<StreamId> entryIdsRead(const std::vector<RedisReplyPiece>& pieces);
