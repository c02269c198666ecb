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
#include "share/readEndpoints.h"
#include "share/receivedRunTally.h"
#include "share/redisRefusal.h"
#include "share/shareLink.h"
#include "share/shareNotice.h"
#include "share/shareState.h"
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

// At most one trace line a second for each kind of dropped entry: a writer
// to Redis must not be able to fill the trace.
class OncePerSecond {
  public:
    bool due() {
        std::int64_t second = now();
        if (second == last_) {
            return false;
        }
        last_ = second;
        return true;
    }

  private:
    std::int64_t last_ = 0;
};

// One receiving thread's reading of the stream.
class StreamReader {
  public:
    explicit StreamReader(StreamId start) : position_(start) {
        accepted_.reserve(kShareReadCountNumber);
        publishPosition();
    }

    void receiveOnce(ShareConnector& connector, RedisLink& link);

  private:
    void checkFacts(ShareConnector& connector, RedisLink& link, bool newConnection);
    // Whether the Redis read is still the instance read before; when not,
    // the position moves back by kShareInstanceRewind. False when the link
    // failed.
    bool checkInstance(ShareConnector& connector, RedisLink& link, std::uint64_t serverMs);
    // Whether a check of the facts was answered; when not, the checks end
    // for now.
    bool answered(FactsOutcome outcome, const char* command, ShareConnector& connector,
                  RedisLink& link, const std::string& error);
    void readNormally(ShareConnector& connector, RedisLink& link);
    void stepCarefully(ShareConnector& connector, RedisLink& link);
    void failedCommand(ShareConnector& connector, RedisLink& link, const std::string& error);
    void takeEntries(const redisReply* entries);
    void takeEntry(const redisReply* entry);
    void dropMalformed(const StreamId& id, const std::string& why);
    void warnIfTrimmedPast(const StreamFacts& facts);
    void publishPosition();

    StreamId position_;
    // After a reply too large to read: entries are measured in Redis first,
    // and those that cannot be ours are stepped over unread.
    bool careful_ = false;
    std::size_t carefulReads_ = 0;
    // After the first connection and each one made after a lost link: the
    // stream may have been trimmed meanwhile.
    bool lookForTrim_ = true;
    bool aheadSaid_ = false;
    bool versionSaid_ = false;
    // A user without +time or +xinfo: the checks are not asked for again
    // until then.
    std::chrono::steady_clock::time_point factsRefusedUntil_;
    // XINFO STREAM's reply given up (it holds the stream's first and last
    // entries, which a writer to Redis chooses): not asked for again until
    // then, or every connection would end in the same failure.
    std::chrono::steady_clock::time_point streamInfoHeldUntil_;
    // The Redis instance read, as INFO tells it, and where; empty before the
    // first answer. Not asked for again until instanceHeldUntil_ after a
    // refusal.
    ReadInstance instance_;
    std::chrono::steady_clock::time_point instanceCheckedAt_;
    std::chrono::steady_clock::time_point instanceHeldUntil_;
    OncePerSecond malformedTrace_;
    OncePerSecond badMacTrace_;
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
        lookForTrim_ = true;
        connector.lost(link, error);
    }
}

bool StreamReader::answered(FactsOutcome outcome, const char* command, ShareConnector& connector,
                            RedisLink& link, const std::string& error) {
    switch (outcome) {
        case FactsOutcome::Answered:
            return true;
        case FactsOutcome::LinkFailed:
            failedCommand(connector, link, error);
            return false;
        case FactsOutcome::GivenUp:
            // What the stream holds is at fault: the next connection waits the
            // backoff, and reads on without these figures for a while.
            streamInfoHeldUntil_ = std::chrono::steady_clock::now() + kShareNoticePeriod;
            TRACE_LOG(TRACE_DETAIL,
                      "logoffCookieShare -- The reply to %s was given up (%s): reading on without "
                      "the stream's figures for %lld s.",
                      command, error.c_str(), static_cast<long long>(kShareNoticePeriod.count()));
            connector.failedRead(link, error);
            return false;
        case FactsOutcome::Refused:
            // Reading goes on without these checks (a user without +time or
            // +xinfo): said, but not waited for.
            connector.noteRefusal(command, error);
            factsRefusedUntil_ = std::chrono::steady_clock::now() + kShareNoticePeriod;
            return false;
    }
    return false;
}

void StreamReader::receiveOnce(ShareConnector& connector, RedisLink& link) {
    if (!link.connected()) {
        if (!connector.ensureConnected(link)) {
            return;
        }
        checkFacts(connector, link, true);
        if (!link.connected()) {
            return;
        }
    } else if (std::chrono::steady_clock::now() - instanceCheckedAt_ >= kShareInstanceCheckEvery) {
        // A busy stream has no empty reads: a primary demoted meanwhile, its
        // data replaced by its new primary's, is found all the same.
        checkFacts(connector, link, false);
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

// After each connection and each empty read: Redis's clock, whether Redis
// is still the instance read before, and when the position might be ahead
// of the stream (or the stream may have been trimmed), its figures.
void StreamReader::checkFacts(ShareConnector& connector, RedisLink& link, bool newConnection) {
    auto steadyNow = std::chrono::steady_clock::now();
    bool instanceDue = newConnection || steadyNow - instanceCheckedAt_ >= kShareInstanceCheckEvery;
    if (instanceDue) {
        instanceCheckedAt_ = steadyNow;
    }
    if (steadyNow < factsRefusedUntil_) {
        return;
    }
    ShareState& state = shareState();
    StreamFacts facts;
    std::string error;
    if (!answered(readServerTime(link, facts.serverMs, error), "TIME", connector, link, error)) {
        return;
    }
    if (instanceDue && steadyNow >= instanceHeldUntil_ &&
        !checkInstance(connector, link, facts.serverMs)) {
        return;
    }
    bool mayBeAhead = position_.ms >= facts.serverMs;
    if ((mayBeAhead || lookForTrim_) && steadyNow >= streamInfoHeldUntil_) {
        if (!answered(readStreamInfo(link, state.streamKey, facts, error), "XINFO", connector, link,
                      error)) {
            return;
        }
        if (facts.exists && facts.added < 0 && !versionSaid_) {
            versionSaid_ = true;
            shareSay("logoffCookieShare -- Redis at " + state.endpoint.describe() +
                     " is older than 7.0: sharing needs 7.0 or later, or it cannot warn of a "
                     "trimmed stream.");
        }
        if (lookForTrim_) {
            lookForTrim_ = false;
            warnIfTrimmedPast(facts);
        }
    } else {
        // Not ahead of Redis's clock, so not ahead of anything new.
        facts.exists = true;
        facts.last = position_;
    }
    PositionCheck check = checkReadPosition(position_, facts);
    if (!check.reset && !check.aheadOfClock) {
        aheadSaid_ = false;
        return;
    }
    if (check.reset) {
        metrics_count(ShareMetric::PositionResets);
        std::string line = "logoffCookieShare -- The read position " + position_.text() +
                           " lies ahead of the stream (last id " +
                           (facts.exists ? facts.last.text() : std::string("none")) +
                           ") and of Redis's clock: reading on from " + check.position.text() + ".";
        if (!shareSayAtMostEvery("position-reset", kShareNoticePeriod, line)) {
            TRACE_LOG(TRACE_DETAIL, "%s", line.c_str());
        }
        position_ = check.position;
        aheadSaid_ = false;
    } else if (!aheadSaid_) {
        aheadSaid_ = true;
        metrics_count(ShareMetric::PositionResets);
        shareSayAtMostEvery("position-clock", kShareNoticePeriod,
                            "logoffCookieShare -- The stream's ids (read position " +
                                position_.text() +
                                ") run more than a minute ahead of Redis's clock: an entry with "
                                "a future id was added to it.");
    }
}

bool StreamReader::checkInstance(ShareConnector& connector, RedisLink& link,
                                 std::uint64_t serverMs) {
    RedisInstance instance;
    std::string error;
    FactsOutcome outcome = readInstance(link, instance, error);
    if (outcome == FactsOutcome::Refused) {
        // Read on without it (a user without +info): said, not waited for.
        connector.noteRefusal("INFO", error);
        instanceHeldUntil_ = std::chrono::steady_clock::now() + kShareNoticePeriod;
        return true;
    }
    if (!answered(outcome, "INFO", connector, link, error)) {
        return false;
    }
    // A replica that lags, or was promoted, is left for another node (the
    // primary when no replica is fit): a blocked read would not tell. So is
    // a primary demoted meanwhile, to be read, if at all, as a replica.
    std::string why;
    if (connector.readsFromReplicas() &&
        (connector.spot().replica ? !replicaFitToRead(instance, why) : instance.replica())) {
        if (why.empty()) {
            why = "it is a replica now";
        }
        connector.leaveReadEndpoint(link, why);
        return false;
    }
    if (!instanceCounts(instance)) {
        return true;
    }
    ReadInstance now{connector.spot().address, instance};
    bool changed = instance_.instance.known() && instanceCallsForRewind(instance_, now, why);
    instance_ = now;
    if (!changed) {
        return true;
    }
    // Entries the new instance took while this host read the old one (the
    // other side of a partition, or what a promoted replica had not passed
    // on) may lie below the position: read again from before it. What was
    // read already is the same logoff again for the cache.
    StreamId from = rewoundPosition(position_, serverMs);
    metrics_count(ShareMetric::PositionResets);
    shareSayAtMostEvery("instance-rewind", kShareNoticePeriod,
                        "logoffCookieShare -- Redis at " + shareState().endpoint.describe() +
                            " is another instance than the one read until now (" + why +
                            "): reading again from " + from.text() + " (the read position was " +
                            position_.text() + ").");
    position_ = from;
    lookForTrim_ = true;
    return true;
}

// After each connection: when the stream has lost entries (more were added
// than it holds) and its first entry lies beyond the next position to read,
// logoffs sent while this host was away may be gone unread.
void StreamReader::warnIfTrimmedPast(const StreamFacts& facts) {
    if (facts.exists && facts.added > facts.length && facts.length > 0 && position_ < facts.first) {
        metrics_count(ShareMetric::MissedLogoffWarnings);
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieShare -- The stream was trimmed past %s: logoffs of other hosts "
                  "may have been missed.",
                  position_.text().c_str());
    }
}

void StreamReader::readNormally(ShareConnector& connector, RedisLink& link) {
    std::string error;
    std::string position = position_.text();
    RedisReply reply = link.command({"XREAD", "COUNT", kShareReadCount, "BLOCK", kShareReadBlockMs,
                                     "STREAMS", shareState().streamKey, position},
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
        checkFacts(connector, link, false);
        return;
    }
    const redisReply* stream = reply->element[0];
    if (stream->type == REDIS_REPLY_ARRAY && stream->elements == 2) {
        const redisReply* entries = stream->element[1];
        takeEntries(entries);
        // A short read on a busy stream: let more entries gather for the next.
        std::size_t read =
            entries != nullptr && entries->type == REDIS_REPLY_ARRAY ? entries->elements : 0;
        waitForBatch(batchWaitAfter(read, kShareReadCountNumber, shareState().readBatchWait),
                     shareReceiverHandle);
    }
}

// One entry at a time, until a few in a row were read whole: an entry too
// large to read is given up once its id is known, and stepped over.
void StreamReader::stepCarefully(ShareConnector& connector, RedisLink& link) {
    std::string error;
    std::string from = "(" + position_.text();
    RedisReply reply =
        link.command({"XRANGE", shareState().streamKey, from, "+", "COUNT", "1"}, error);
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
    logoffCookieAPI_addReceivedLogoff(accepted_);
    metrics_count(ShareMetric::Received, accepted_.size());
}

void StreamReader::dropMalformed(const StreamId& id, const std::string& why) {
    metrics_count(ShareMetric::DroppedMalformed);
    metrics_shareJudged(now(), false);
    if (malformedTrace_.due()) {
        TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- Entry %s dropped: malformed (%s).",
                  id.text().c_str(), why.c_str());
    }
    shareSayAtMostEvery("malformed", kShareNoticePeriod,
                        "logoffCookieShare -- Entries not in the farm's format dropped (" +
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
    ShareState& state = shareState();
    FarmLogoff logoff;
    ShareRunId sender;
    switch (decodeShareEntry(*state.key, fields, state.run, logoff, &sender)) {
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
            if (badMacTrace_.due()) {
                TRACE_LOG(TRACE_DETAIL,
                          "logoffCookieShare -- Entry %s dropped: not signed with the farm secret.",
                          id->text().c_str());
            }
            shareSayAtMostEvery(
                "badmac", kShareNoticePeriod,
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

PositionCheck checkReadPosition(const StreamId& position, const StreamFacts& facts) {
    PositionCheck check;
    check.position = position;
    StreamId end = facts.exists ? facts.last : StreamId{};
    check.aheadOfClock = position.ms > facts.serverMs + kShareClockToleranceMs;
    // Redis gives a new entry an id above both its clock and the last id:
    // only a position above both would never see it.
    if (end < position && position.ms >= facts.serverMs) {
        constexpr std::uint64_t lookbackMs = kShareStartLookbackSeconds * 1000ULL;
        StreamId recent{facts.serverMs > lookbackMs ? facts.serverMs - lookbackMs : 0, 0};
        check.position = std::min(end, recent);
        check.reset = true;
    }
    return check;
}

StreamId rewoundPosition(const StreamId& position, std::uint64_t serverMs) {
    constexpr std::uint64_t rewindMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(kShareInstanceRewind).count();
    // From the lower of the position and the new instance's clock: a
    // position far ahead of its clock would otherwise skip what it has.
    std::uint64_t ms = std::min(position.ms, serverMs);
    return StreamId{ms > rewindMs ? ms - rewindMs : 0, 0};
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
