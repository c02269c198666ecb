// Whether the receiver's read position still holds, checked against what
// Redis tells of itself and of the stream (the stream's facts): its clock,
// the stream's figures, and which Redis instance answers. Where they call
// for it, the position moves, and the operator is told.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "share/publishedRing.h"
#include "share/readEndpoints.h"
#include "share/redisLink.h"
#include "share/shareReceiver.h"
#include "share/streamFacts.h"
#include "share/streamId.h"

class ShareConnector;

// A position further ahead of Redis's clock than this is not to be trusted.
inline constexpr std::uint64_t kShareClockToleranceMs = 60'000;
// While connected, the receiver looks this often whether Redis is still the
// instance it read (it always looks after connecting, and after empty reads).
inline constexpr std::chrono::seconds kShareInstanceCheckEvery{5};
// How far before its position the receiver reads again on another Redis
// instance. Twice what a publisher gives a new instance again (the
// published ring's minute), so the clocks of two Redis servers may differ;
// and more than a primary cut off from its replicas takes writes
// (min-replicas-max-lag, see docs/sharing.md).
inline constexpr std::chrono::seconds kShareInstanceRewind{2 * kShareRingKeep};

// What the receiver makes of the stream's facts: where to read on from.
// Unchanged unless `position` lies ahead of the stream's last id and of
// Redis's clock, so that new entries would get lower ids and never be read;
// then the stream's end, but no later than kShareStartLookbackSeconds
// before Redis's clock, so that what was added meanwhile is read.
struct PositionCheck {
    StreamId position;
    bool reset = false;         // moved back
    bool aheadOfClock = false;  // more than kShareClockToleranceMs ahead of Redis's clock
};
PositionCheck checkReadPosition(const StreamId& position, const StreamFacts& facts);

// Where the receiver reads on when Redis turns out to be another instance
// than the one it read (a failover, a partition healed, a restart):
// kShareInstanceRewind before the lower of `position` and the new
// instance's clock `serverMs`.
StreamId rewoundPosition(const StreamId& position, std::uint64_t serverMs);

// One receiving thread's checks of its position, with what they remember
// between connections: what was said already, the instance read, and which
// questions Redis refused or answered beyond the link's bounds lately.
class ReceiverPositionCheck {
  public:
    // How the reader takes a command of the checks that failed on the link:
    // as a read of its own that failed.
    using LinkFailure =
        std::function<void(ShareConnector& connector, RedisLink& link, const std::string& error)>;
    explicit ReceiverPositionCheck(LinkFailure linkFailed) : linkFailed_(std::move(linkFailed)) {}

    // While connected: whether the instance is due to be looked at again.
    bool instanceCheckDue() const;
    // After each connection (`newConnection`) and each empty read: Redis's
    // clock, whether Redis is still the instance read before, and when
    // `position` might be ahead of the stream (or the stream may have been
    // trimmed), its figures; `position` moves where they call for. The
    // link may be closed afterwards.
    void check(ShareConnector& connector, RedisLink& link, StreamId& position, bool newConnection);
    // A link was lost: the stream may have been trimmed meanwhile.
    void lookForTrim() { lookForTrim_ = true; }

  private:
    // Whether the Redis read is still the instance read before; when not,
    // the position moves back by kShareInstanceRewind. False when the link
    // failed.
    bool checkInstance(ShareConnector& connector, RedisLink& link, StreamId& position,
                       std::uint64_t serverMs);
    // Whether a check of the facts was answered; when not, the checks end
    // for now.
    bool answered(FactsOutcome outcome, const char* command, ShareConnector& connector,
                  RedisLink& link, const std::string& error);
    void warnIfTrimmedPast(const StreamId& position, const StreamFacts& facts);

    LinkFailure linkFailed_;
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
};
