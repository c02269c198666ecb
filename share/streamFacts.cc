#include "share/streamFacts.h"

#include <cstdlib>
#include <string_view>

namespace {

long long numberOf(const RedisReplyPiece& piece) {
    return piece.integer ? piece.number : std::strtoll(piece.text.c_str(), nullptr, 10);
}

// XINFO STREAM's figures from the pieces of its reply: names and values
// alternate at the top, the first entry's id is the first element of the
// value after "first-entry".
void factsFromPieces(const std::vector<RedisReplyPiece>& pieces, StreamFacts& out) {
    std::string name;
    int firstEntryIndex = -1;
    for (const RedisReplyPiece& piece : pieces) {
        if (piece.depth == 1 && piece.index % 2 == 0) {
            name = piece.text;
            if (name == "first-entry") {
                firstEntryIndex = piece.index + 1;
            }
        } else if (piece.depth == 1) {
            if (name == "length") {
                out.length = numberOf(piece);
                out.exists = true;
            } else if (name == "entries-added") {
                out.added = numberOf(piece);
            } else if (name == "last-generated-id") {
                out.last = parseStreamId(piece.text).value_or(StreamId{});
            }
        } else if (piece.depth == 2 && piece.index == 0 && piece.parentIndex == firstEntryIndex) {
            out.first = parseStreamId(piece.text).value_or(StreamId{});
        }
    }
}

}  // namespace

FactsOutcome readServerTime(RedisLink& link, std::uint64_t& serverMs, std::string& error) {
    RedisReply reply = link.command({"TIME"}, error);
    if (!reply) {
        return FactsOutcome::LinkFailed;
    }
    if (reply->type == REDIS_REPLY_ERROR) {
        error.assign(reply->str, reply->len);
        return FactsOutcome::Refused;
    }
    const std::vector<RedisReplyPiece>& pieces = link.pieces();
    if (reply->type != REDIS_REPLY_ARRAY || pieces.size() != 2) {
        error = "TIME: unexpected reply";
        return FactsOutcome::Refused;
    }
    serverMs = static_cast<std::uint64_t>(numberOf(pieces[0])) * 1000 +
               static_cast<std::uint64_t>(numberOf(pieces[1])) / 1000;
    return FactsOutcome::Answered;
}

std::string infoField(std::string_view info, std::string_view name) {
    for (std::size_t at = 0; at < info.size();) {
        std::size_t end = info.find('\n', at);
        std::string_view line = info.substr(at, end == std::string_view::npos ? end : end - at);
        if (line.size() > name.size() && line.substr(0, name.size()) == name &&
            line[name.size()] == ':') {
            std::string_view value = line.substr(name.size() + 1);
            if (!value.empty() && value.back() == '\r') {
                value.remove_suffix(1);
            }
            return std::string(value);
        }
        if (end == std::string_view::npos) {
            break;
        }
        at = end + 1;
    }
    return {};
}

FactsOutcome readInstance(RedisLink& link, RedisInstance& instance, std::string& error) {
    instance = RedisInstance{};
    struct Wanted {
        const char* section;
        const char* field;
        std::string RedisInstance::*into;
    };
    // One section a command: Redis before 7.0 takes no more.
    for (const Wanted& wanted :
         {Wanted{"server", "run_id", &RedisInstance::runId},
          Wanted{"replication", "master_replid", &RedisInstance::replicationId}}) {
        RedisReply reply = link.command({"INFO", wanted.section}, error);
        if (!reply) {
            return link.replyRefused() ? FactsOutcome::GivenUp : FactsOutcome::LinkFailed;
        }
        if (reply->type == REDIS_REPLY_ERROR) {
            error.assign(reply->str, reply->len);
            return FactsOutcome::Refused;
        }
        if (reply->type != REDIS_REPLY_STRING) {
            error = "INFO: unexpected reply";
            return FactsOutcome::Refused;
        }
        std::string_view info(reply->str, reply->len);
        instance.*wanted.into = infoField(info, wanted.field);
        if (wanted.into == &RedisInstance::replicationId) {
            instance.role = infoField(info, "role");
            instance.linkUp = infoField(info, "master_link_status") == "up";
            std::string io = infoField(info, "master_last_io_seconds_ago");
            instance.lastIoSeconds = io.empty() ? -1 : std::strtoll(io.c_str(), nullptr, 10);
        }
    }
    return FactsOutcome::Answered;
}

FactsOutcome readStreamInfo(RedisLink& link, const std::string& streamKey, StreamFacts& out,
                            std::string& error) {
    std::uint64_t serverMs = out.serverMs;
    out = StreamFacts{};
    out.serverMs = serverMs;
    RedisReply reply = link.command({"XINFO", "STREAM", streamKey}, error);
    if (!reply && !link.replyRefused()) {
        return FactsOutcome::LinkFailed;
    }
    if (reply && reply->type == REDIS_REPLY_ERROR) {
        std::string_view text(reply->str, reply->len);
        if (text.rfind("ERR no such key", 0) == 0) {
            return FactsOutcome::Answered;
        }
        error.assign(text);
        return FactsOutcome::Refused;
    }
    factsFromPieces(link.pieces(), out);
    return reply ? FactsOutcome::Answered : FactsOutcome::GivenUp;
}

std::vector<StreamId> entryIdsRead(const std::vector<RedisReplyPiece>& pieces) {
    std::vector<StreamId> ids;
    for (const RedisReplyPiece& piece : pieces) {
        if (piece.depth == 2 && piece.index == 0 && !piece.integer) {
            if (std::optional<StreamId> id = parseStreamId(piece.text)) {
                ids.push_back(*id);
            }
        }
    }
    return ids;
}
