#include "share/shareReceiver.h"

#include <charconv>
#include <cstring>
#include <ctime>
#include <exception>

#include "cache/logoffCookieCacheState.h"
#include "cache/receivedLogoffs.h"
#include "diag/traceLog.h"
#include "share/shareCounters.h"
#include "share/shareLink.h"

extern RWThreadFunction shareReceiverHandle;

namespace {

using namespace std::chrono_literals;

std::string_view textOf(const redisReply* reply) {
    if (reply == nullptr ||
        (reply->type != REDIS_REPLY_STRING && reply->type != REDIS_REPLY_STATUS)) {
        return {};
    }
    return {reply->str, reply->len};
}

void storeReadTime() {
    shareCounters().lastReadTime.store(static_cast<std::int64_t>(std::time(nullptr)),
                                       std::memory_order_relaxed);
}

// After each connection: when the stream has lost entries (more were added
// than it holds) and its first entry lies beyond the next position to read,
// logoffs sent while this host was away may be gone unread.
void warnIfTrimmedPast(RedisLink& link, const std::string& position) {
    std::string error;
    RedisReply info = link.command({"XINFO", "STREAM", shareState().streamKey}, error);
    if (!info || info->type != REDIS_REPLY_ARRAY) {
        return;  // no stream yet, or the link failed and the read will say so
    }
    long long length = -1;
    long long added = -1;
    StreamId first{0, 0};
    for (size_t i = 0; i + 1 < info->elements; i += 2) {
        std::string_view name = textOf(info->element[i]);
        const redisReply* value = info->element[i + 1];
        if (name == "length" && value->type == REDIS_REPLY_INTEGER) {
            length = value->integer;
        } else if (name == "entries-added" && value->type == REDIS_REPLY_INTEGER) {
            added = value->integer;
        } else if (name == "first-entry" && value->type == REDIS_REPLY_ARRAY &&
                   value->elements >= 1) {
            first = parseStreamId(std::string(textOf(value->element[0])));
        }
    }
    if (added > length && length > 0 && parseStreamId(position) < first) {
        countShare(shareCounters().missedLogoffWarnings);
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieShare -- The stream was trimmed past %s: logoffs of other hosts "
                  "may have been missed.",
                  position.c_str());
    }
}

void takeEntry(const redisReply* entry, std::string& position) {
    if (entry->type != REDIS_REPLY_ARRAY || entry->elements != 2) {
        return;
    }
    std::string_view id = textOf(entry->element[0]);
    const redisReply* list = entry->element[1];
    if (id.empty()) {
        return;
    }
    position.assign(id);
    std::vector<std::pair<std::string_view, std::string_view>> fields;
    if (list != nullptr && list->type == REDIS_REPLY_ARRAY) {
        for (size_t i = 0; i + 1 < list->elements; i += 2) {
            fields.emplace_back(textOf(list->element[i]), textOf(list->element[i + 1]));
        }
    }
    ShareState& state = shareState();
    FarmLogoff logoff;
    switch (decodeShareEntry(*state.key, fields, state.run, logoff)) {
        case ShareEntryCheck::Accepted:
            logoffCookieAPI_addReceivedLogoff(logoff);
            countShare(shareCounters().received);
            break;
        case ShareEntryCheck::OwnRun:
            break;
        case ShareEntryCheck::Malformed:
        case ShareEntryCheck::BadMac:
            countShare(shareCounters().droppedBadMac);
            TRACE_LOG(TRACE_DETAIL,
                      "logoffCookieShare -- Entry %s dropped: not signed with the farm secret.",
                      position.c_str());
            break;
    }
}

}  // namespace

StreamId parseStreamId(const std::string& text) {
    std::uint64_t ms = 0;
    std::uint64_t seq = 0;
    const char* begin = text.data();
    const char* end = begin + text.size();
    auto [dash, failure] = std::from_chars(begin, end, ms);
    if (failure != std::errc() || dash == end || *dash != '-') {
        return {0, 0};
    }
    auto [last, failure2] = std::from_chars(dash + 1, end, seq);
    if (failure2 != std::errc() || last != end) {
        return {0, 0};
    }
    return {ms, seq};
}

std::string shareStartPosition(std::int32_t cacheStartTime) {
    std::int64_t seconds = static_cast<std::int64_t>(cacheStartTime) - SHARE_START_LOOKBACK_SECONDS;
    return std::to_string(seconds < 0 ? 0 : seconds * 1000) + "-0";
}

namespace {

// One blocking read and what it brought. A failed connection is closed and
// the next call reconnects.
void receiveOnce(ShareConnector& connector, RedisLink& link, std::string& position) {
    if (!link.connected()) {
        if (!connector.ensureConnected(link)) {
            return;
        }
        warnIfTrimmedPast(link, position);
    }
    std::string error;
    RedisReply reply =
        link.command({"XREAD", "COUNT", SHARE_READ_COUNT, "BLOCK", SHARE_READ_BLOCK_MS, "STREAMS",
                      shareState().streamKey, position},
                     error);
    if (!reply) {
        connector.lost(link, error);
        return;
    }
    if (reply->type == REDIS_REPLY_ERROR) {
        connector.refused("reading", std::string_view(reply->str, reply->len));
        return;
    }
    connector.served();
    storeReadTime();
    // [[key, [[id, [field, value, ...]], ...]]], or nil when nothing came.
    if (reply->type != REDIS_REPLY_ARRAY || reply->elements < 1) {
        return;
    }
    const redisReply* stream = reply->element[0];
    if (stream->type != REDIS_REPLY_ARRAY || stream->elements != 2 ||
        stream->element[1]->type != REDIS_REPLY_ARRAY) {
        return;
    }
    const redisReply* entries = stream->element[1];
    for (size_t i = 0; i < entries->elements; ++i) {
        takeEntry(entries->element[i], position);
    }
}

}  // namespace

void shareReceiverThread() {
    // The socket waits longer than the blocking read, so a quiet stream is
    // not taken for a dead connection.
    ShareConnector connector("receiver", 5s, shareReceiverHandle);
    RedisLink link;
    std::string position = shareStartPosition(getCacheStartTime());
    for (;;) {
        shareReceiverHandle.serviceCancellation();
        try {
            receiveOnce(connector, link, position);
        } catch (const std::exception& failure) {
            // Out of memory, most likely: the entries of this read that were
            // not taken are lost for this host, the thread goes on.
            TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- receiver: %s", failure.what());
        }
    }
}
