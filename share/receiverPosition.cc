#include "share/receiverPosition.h"

#include <algorithm>

#include "diag/shareMetrics.h"
#include "diag/traceLog.h"
#include "share/shareLink.h"
#include "share/shareNotice.h"
#include "share/shareThreads.h"

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

bool ReceiverPositionCheck::instanceCheckDue() const {
    return std::chrono::steady_clock::now() - instanceCheckedAt_ >= kShareInstanceCheckEvery;
}

bool ReceiverPositionCheck::answered(FactsOutcome outcome, const char* command,
                                     ShareConnector& connector, RedisLink& link,
                                     const std::string& error) {
    switch (outcome) {
        case FactsOutcome::Answered:
            return true;
        case FactsOutcome::LinkFailed:
            linkFailed_(connector, link, error);
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

void ReceiverPositionCheck::check(ShareConnector& connector, RedisLink& link, StreamId& position,
                                  bool newConnection) {
    auto steadyNow = std::chrono::steady_clock::now();
    bool instanceDue = newConnection || steadyNow - instanceCheckedAt_ >= kShareInstanceCheckEvery;
    if (instanceDue) {
        instanceCheckedAt_ = steadyNow;
    }
    if (steadyNow < factsRefusedUntil_) {
        return;
    }
    ShareCommon& common = shareCommon();
    StreamFacts facts;
    std::string error;
    if (!answered(readServerTime(link, facts.serverMs, error), "TIME", connector, link, error)) {
        return;
    }
    if (instanceDue && steadyNow >= instanceHeldUntil_ &&
        !checkInstance(connector, link, position, facts.serverMs)) {
        return;
    }
    bool mayBeAhead = position.ms >= facts.serverMs;
    if ((mayBeAhead || lookForTrim_) && steadyNow >= streamInfoHeldUntil_) {
        if (!answered(readStreamInfo(link, common.streamKey, facts, error), "XINFO", connector,
                      link, error)) {
            return;
        }
        if (facts.exists && facts.added < 0 && !versionSaid_) {
            versionSaid_ = true;
            shareSay("logoffCookieShare -- Redis at " + common.endpoint.describe() +
                     " is older than 7.0: sharing needs 7.0 or later, or it cannot warn of a "
                     "trimmed stream.");
        }
        if (lookForTrim_) {
            lookForTrim_ = false;
            warnIfTrimmedPast(position, facts);
        }
    } else {
        // Not ahead of Redis's clock, so not ahead of anything new.
        facts.exists = true;
        facts.last = position;
    }
    PositionCheck found = checkReadPosition(position, facts);
    if (!found.reset && !found.aheadOfClock) {
        aheadSaid_ = false;
        return;
    }
    if (found.reset) {
        metrics_count(ShareMetric::PositionResets);
        std::string line = "logoffCookieShare -- The read position " + position.text() +
                           " lies ahead of the stream (last id " +
                           (facts.exists ? facts.last.text() : std::string("none")) +
                           ") and of Redis's clock: reading on from " + found.position.text() + ".";
        if (!shareNotice("position-reset", line)) {
            TRACE_LOG(TRACE_DETAIL, "%s", line.c_str());
        }
        position = found.position;
        aheadSaid_ = false;
    } else if (!aheadSaid_) {
        aheadSaid_ = true;
        metrics_count(ShareMetric::PositionResets);
        shareNotice("position-clock",
                    "logoffCookieShare -- The stream's ids (read position " + position.text() +
                        ") run more than a minute ahead of Redis's clock: an entry with "
                        "a future id was added to it.");
    }
}

bool ReceiverPositionCheck::checkInstance(ShareConnector& connector, RedisLink& link,
                                          StreamId& position, std::uint64_t serverMs) {
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
    StreamId from = rewoundPosition(position, serverMs);
    metrics_count(ShareMetric::PositionResets);
    shareNotice("instance-rewind", "logoffCookieShare -- Redis at " +
                                       shareCommon().endpoint.describe() +
                                       " is another instance than the one read until now (" + why +
                                       "): reading again from " + from.text() +
                                       " (the read position was " + position.text() + ").");
    position = from;
    lookForTrim_ = true;
    return true;
}

// After each connection: when the stream has lost entries (more were added
// than it holds) and its first entry lies beyond the next position to read,
// logoffs sent while this host was away may be gone unread.
void ReceiverPositionCheck::warnIfTrimmedPast(const StreamId& position, const StreamFacts& facts) {
    if (facts.exists && facts.added > facts.length && facts.length > 0 && position < facts.first) {
        metrics_count(ShareMetric::MissedLogoffWarnings);
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieShare -- The stream was trimmed past %s: logoffs of other hosts "
                  "may have been missed.",
                  position.text().c_str());
    }
}
