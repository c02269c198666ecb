#include "share/shareReceiver.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "cache/cookieExpiry.h"
#include "cache/logoffCookieAPI.h"
#include "diag/oncePerInterval.h"
#include "diag/shareMetrics.h"
#include "diag/traceLog.h"
#include "share/readBatching.h"
#include "share/receivedRunTally.h"
#include "share/receiverPosition.h"
#include "share/redisRefusal.h"
#include "share/shareLink.h"
#include "share/shareNotice.h"
#include "share/shareThreads.h"
#include "share/streamFacts.h"

namespace {

using namespace std::chrono_literals;

std::mutex positionLock;
std::string savedStartPosition;  // guarded by positionLock
std::string reachedPosition;     // guarded by positionLock

std::string_view textOf(const redisReply* reply) {
    if (reply == nullptr ||
        (reply->type != REDIS_REPLY_STRING && reply->type != REDIS_REPLY_STATUS)) {
        return {};
    }
    return {reply->str, reply->len};
}

std::int64_t now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

// A read Redis answered: refused (said, and waited for), or served.
bool servedRead(ShareConnector& connector, const redisReply& reply) {
    if (reply.type == REDIS_REPLY_ERROR) {
        connector.refused("reading", std::string_view(reply.str, reply.len));
        return false;
    }
    connector.served();
    metrics_shareRead(now());
    return true;
}

// One receiving thread's reading of the stream.
class StreamReader {
  public:
    explicit StreamReader(StreamId start)
        : position_(start),
          positionCheck_(
              [this](ShareConnector& connector, RedisLink& link, const std::string& error) {
                  failedCommand(connector, link, error);
              }) {
        accepted_.reserve(kShareReadCountNumber);
        publishPosition();
    }
    // The position check calls back into this reader.
    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;

    void receiveOnce(ShareConnector& connector, RedisLink& link);

  private:
    void readNormally(ShareConnector& connector, RedisLink& link);
    void stepCarefully(ShareConnector& connector, RedisLink& link);
    void failedCommand(ShareConnector& connector, RedisLink& link, const std::string& error);
    void takeEntries(const redisReply* entries);
    void takeEntry(const redisReply* entry);
    void dropMalformed(const StreamId& id, const std::string& why);
    void publishPosition();

    StreamId position_;
    // After a reply too large to read: entries are measured in Redis first,
    // and those that cannot be ours are stepped over unread.
    bool careful_ = false;
    std::size_t carefulReads_ = 0;
    // Whether the position still holds, after connecting and now and then.
    ReceiverPositionCheck positionCheck_;
    // At most one trace line a second for each kind of dropped entry: a
    // writer to Redis must not be able to fill the trace.
    OncePerInterval malformedTrace_{1};
    OncePerInterval badMacTrace_{1};
    // The logoffs accepted from one read, recorded in the cache together.
    std::vector<FarmLogoff> accepted_;
};

void StreamReader::publishPosition() {
    std::lock_guard guard(positionLock);
    reachedPosition = position_.text();
}

void StreamReader::failedCommand(ShareConnector& connector, RedisLink& link,
                                 const std::string& error) {
    if (link.replyRefused()) {
        // What the stream holds is at fault: read one entry at a time.
        careful_ = true;
        carefulReads_ = 0;
        connector.failedRead(link, error);
    } else {
        positionCheck_.lookForTrim();
        connector.lost(link, error);
    }
}

void StreamReader::receiveOnce(ShareConnector& connector, RedisLink& link) {
    if (!link.connected()) {
        if (!connector.ensureConnected(link)) {
            return;
        }
        positionCheck_.check(connector, link, position_, true);
        if (!link.connected()) {
            return;
        }
    } else if (positionCheck_.instanceCheckDue()) {
        // A busy stream has no empty reads: a primary demoted meanwhile, its
        // data replaced by its new primary's, is found all the same.
        positionCheck_.check(connector, link, position_, false);
        if (!link.connected()) {
            return;
        }
    }
    // Now and then, when reading from replicas: whether to read elsewhere.
    connector.reviewReadEndpoint(link);
    if (!link.connected()) {
        return;
    }
    if (careful_) {
        stepCarefully(connector, link);
    } else {
        readNormally(connector, link);
    }
    publishPosition();
}

void StreamReader::readNormally(ShareConnector& connector, RedisLink& link) {
    std::string error;
    std::string position = position_.text();
    RedisReply reply = link.command({"XREAD", "COUNT", kShareReadCount, "BLOCK", kShareReadBlockMs,
                                     "STREAMS", shareCommon().streamKey, position},
                                    error);
    if (!reply) {
        failedCommand(connector, link, error);
        return;
    }
    if (!servedRead(connector, *reply)) {
        return;
    }
    // [[key, [[id, [field, value, ...]], ...]]], or nil when nothing came.
    if (reply->type != REDIS_REPLY_ARRAY || reply->elements < 1) {
        positionCheck_.check(connector, link, position_, false);
        return;
    }
    const redisReply* stream = reply->element[0];
    if (stream->type == REDIS_REPLY_ARRAY && stream->elements == 2) {
        const redisReply* entries = stream->element[1];
        takeEntries(entries);
        // A short read on a busy stream: let more entries gather for the next.
        std::size_t read =
            entries != nullptr && entries->type == REDIS_REPLY_ARRAY ? entries->elements : 0;
        waitForBatch(batchWaitAfter(read, kShareReadCountNumber, shareCommon().readBatchWait),
                     shareReceiverHandle);
    }
}

// One entry at a time, until a few in a row were read whole: an entry too
// large to read is given up once its id is known, and stepped over.
void StreamReader::stepCarefully(ShareConnector& connector, RedisLink& link) {
    std::string error;
    std::string from = "(" + position_.text();
    RedisReply reply =
        link.command({"XRANGE", shareCommon().streamKey, from, "+", "COUNT", "1"}, error);
    if (!reply) {
        std::vector<StreamId> ids = entryIdsRead(link.pieces());
        if (!link.replyRefused() || ids.empty() || !(position_ < ids.back())) {
            failedCommand(connector, link, error);
            return;
        }
        // The link is closed; the next one is made at once, since the
        // position moves on.
        dropMalformed(ids.back(), error + "; stepped over unread");
        position_ = ids.back();
        connector.steppedOver();
        return;
    }
    if (!servedRead(connector, *reply)) {
        return;
    }
    if (reply->type != REDIS_REPLY_ARRAY || reply->elements == 0 ||
        ++carefulReads_ >= kShareReadCountNumber) {
        careful_ = false;
    }
    takeEntries(reply.get());
}

void StreamReader::takeEntries(const redisReply* entries) {
    if (entries == nullptr || entries->type != REDIS_REPLY_ARRAY) {
        return;
    }
    accepted_.clear();
    for (size_t i = 0; i < entries->elements; ++i) {
        takeEntry(entries->element[i]);
    }
    logoffCookieCache_addReceivedLogoff(accepted_);
    metrics_count(ShareMetric::Received, accepted_.size());
}

void StreamReader::dropMalformed(const StreamId& id, const std::string& why) {
    metrics_count(ShareMetric::DroppedMalformed);
    metrics_shareJudged(now(), false);
    if (malformedTrace_.dueNow()) {
        TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- Entry %s dropped: malformed (%s).",
                  id.text().c_str(), why.c_str());
    }
    shareNotice("malformed", "logoffCookieShare -- Entries not in the farm's format dropped (" +
                                 std::to_string(metrics_value(ShareMetric::DroppedMalformed)) +
                                 " so far, the last " + id.text() +
                                 "): something that is no host of this farm writes to the stream.");
}

// A flood of adds on one host reaches this one: say which run sends it, at
// most once a minute. The receiving thread's alone.
void noteFastGrowth(const ShareRunId& sender) {
    std::optional<ReceivedRunTally::Flood> flood =
        receivedRunTally().count(sender, OncePerInterval::monotonicNow());
    if (!flood) {
        return;
    }
    shareSay("logoffCookieShare -- Received logoffs grow fast: " + std::to_string(flood->received) +
             " in the last " + std::to_string(flood->seconds) + " s, " +
             std::to_string(flood->fromTopRun) + " of them from run " +
             toHex(flood->topRun.data(), flood->topRun.size()) + ".");
}

void StreamReader::takeEntry(const redisReply* entry) {
    if (entry->type != REDIS_REPLY_ARRAY || entry->elements != 2) {
        return;
    }
    std::optional<StreamId> id = parseStreamId(textOf(entry->element[0]));
    if (!id) {
        return;
    }
    position_ = std::max(position_, *id);
    const redisReply* list = entry->element[1];
    if (list == nullptr || list->type != REDIS_REPLY_ARRAY ||
        list->elements != 2 * kShareEntryFields) {
        dropMalformed(*id, "not " + std::to_string(2 * kShareEntryFields) + " fields and values");
        return;
    }
    std::vector<std::pair<std::string_view, std::string_view>> fields;
    for (size_t i = 0; i + 1 < list->elements; i += 2) {
        fields.emplace_back(textOf(list->element[i]), textOf(list->element[i + 1]));
    }
    ShareCommon& common = shareCommon();
    FarmLogoff logoff;
    ShareRunId sender;
    switch (decodeShareEntry(*common.key, fields, common.run, logoff, &sender)) {
        case ShareEntryCheck::Accepted:
            metrics_shareJudged(now(), false);
            // A logoff whose cookie has expired could not be refused anyway;
            // taken in, old entries replayed would fill the cache.
            if (cookieTimesHaveExpired(logoff.times, static_cast<std::int32_t>(now()))) {
                metrics_count(ShareMetric::DroppedExpired);
                break;
            }
            accepted_.push_back(logoff);
            noteFastGrowth(sender);
            break;
        case ShareEntryCheck::OwnRun:
            break;
        case ShareEntryCheck::Malformed:
            dropMalformed(*id, "a field missing, repeated, unknown or unreadable");
            break;
        case ShareEntryCheck::BadMac:
            metrics_count(ShareMetric::DroppedBadHmac);
            metrics_shareJudged(now(), true);
            if (badMacTrace_.dueNow()) {
                TRACE_LOG(TRACE_DETAIL,
                          "logoffCookieShare -- Entry %s dropped: not signed with the farm secret.",
                          id->text().c_str());
            }
            shareNotice("badmac",
                        "logoffCookieShare -- Entries not signed with the farm secret dropped (" +
                            std::to_string(metrics_value(ShareMetric::DroppedBadHmac)) +
                            " so far): something writes to the stream without the secret, or this "
                            "host's farm secret differs from the other hosts'.");
            break;
    }
}

}  // namespace

std::string shareStartPosition(std::int32_t cacheStartTime) {
    std::int64_t seconds = static_cast<std::int64_t>(cacheStartTime) - kShareStartLookbackSeconds;
    return std::to_string(seconds < 0 ? 0 : seconds * 1000) + "-0";
}

void shareSetStartPosition(const std::string& position) {
    std::lock_guard guard(positionLock);
    savedStartPosition = position;
}

std::string shareReceivedPosition() {
    std::lock_guard guard(positionLock);
    return reachedPosition;
}

StreamId shareReceiverStart() {
    std::string saved;
    {
        std::lock_guard guard(positionLock);
        saved = savedStartPosition;
    }
    std::optional<StreamId> start = parseStreamId(saved);
    return start ? *start : *parseStreamId(shareStartPosition(getCacheStartTime()));
}

void shareReceiverThread() {
    // The socket waits longer than the blocking read, so a quiet stream is
    // not taken for a dead connection.
    ShareConnector connector("receiver", 5s, shareReceiverHandle, true);
    RedisLink link;
    StreamReader reader(shareReceiverStart());
    for (;;) {
        shareReceiverHandle.serviceCancellation();
        try {
            reader.receiveOnce(connector, link);
        } catch (const std::exception& failure) {
            // Out of memory, most likely: the entries of this read that were
            // not taken are lost for this host, the thread goes on.
            TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- receiver: %s", failure.what());
        }
    }
}
