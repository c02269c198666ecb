// The receiving side: reads the farm's stream from where it stopped and
// records the logoffs of other hosts in the cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// The thread function; runs until the process ends.
void shareReceiverThread();
