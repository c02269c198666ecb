#include "share/redisIncarnation.h"

#include <algorithm>

namespace {

// The run_id line of INFO server: 40 hex digits; empty when INFO was
// refused (a user without +info) or says none.
std::string runIdOf(const redisReply* info) {
    if (info->type != REDIS_REPLY_STRING) {
        return {};
    }
    std::string_view text(info->str, info->len);
    std::size_t at = text.find("run_id:");
    if (at == std::string_view::npos) {
        return {};
    }
    std::string_view rest = text.substr(at + 7);
    return std::string(rest.substr(0, rest.find_first_of("\r\n")));
}

}  // namespace

RedisIncarnation::Finding RedisIncarnation::check(RedisLink& link, const std::string& streamKey,
                                                  std::string& why, std::string& error) {
    RedisReply info = link.command({"INFO", "server"}, error);
    if (!info) {
        return Finding::Unknown;
    }
    if (info->type == REDIS_REPLY_ERROR) {
        why.assign(info->str, std::min<std::size_t>(info->len, 200));
        return Finding::Unknown;
    }
    std::string runId = runIdOf(info.get());
    bool seenBefore = !runId_.empty();
    bool otherRun = !runId.empty() && seenBefore && runId != runId_;
    if (!runId.empty()) {
        runId_ = runId;
    }
    if (otherRun) {
        why = "another run_id";
        return Finding::Another;
    }
    if (lastPublished_.empty()) {
        return seenBefore ? Finding::Same : Finding::Unknown;
    }
    // Our last entry, and only it: a reply bounded by what we wrote.
    RedisReply entry =
        link.command({"XRANGE", streamKey, lastPublished_, lastPublished_, "COUNT", "1"}, error);
    if (!entry) {
        return Finding::Unknown;
    }
    if (entry->type != REDIS_REPLY_ARRAY) {
        if (entry->type == REDIS_REPLY_ERROR) {
            why.assign(entry->str, std::min<std::size_t>(entry->len, 200));
        }
        return Finding::Unknown;
    }
    if (entry->elements == 0) {
        why = "the stream no longer holds entry " + lastPublished_;
        return Finding::Another;
    }
    return Finding::Same;
}
