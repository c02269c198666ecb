// The receiving side: reads the farm's stream from where it stopped and
// records the logoffs of other hosts in the cache.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "share/publishedRing.h"
#include "share/streamFacts.h"
#include "share/streamId.h"

// Entries read in one blocking read, and how long the read waits. Few, so
// that a read is small whatever the stream holds. Enough for batching
// (share/readBatching.h): past 6 or 7 entries a read's own cost in Redis is
// no longer most of a delivery's, and a full read is followed at once by
// the next.
inline constexpr const char* kShareReadCount = "16";
inline constexpr std::size_t kShareReadCountNumber = 16;
inline constexpr const char* kShareReadBlockMs = "1000";
// A starting host reads from this long before its cache started: logoffs of
// the last moments before a restart are still taken in.
inline constexpr std::int32_t kShareStartLookbackSeconds = 300;
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

// The first position to read when the cache started at `cacheStartTime`.
std::string shareStartPosition(std::int32_t cacheStartTime);

// Where the receiver starts instead of shareStartPosition: a position saved
// by an earlier run. Called before sharing starts.
void shareSetStartPosition(const std::string& position);
// Where the receiver begins: the position saved by an earlier run when it
// is an id, else shareStartPosition of the cache's start time.
StreamId shareReceiverStart();
// The position the receiver has reached: the id of the last entry it took
// or stepped over.
std::string shareReceivedPosition();

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

// The thread function; runs until the process ends.
void shareReceiverThread();
