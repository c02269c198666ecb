// The receiving side: reads the farm's stream from where it stopped and
// records the logoffs of other hosts in the cache.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

// Entries read in one blocking read, and how long the read waits.
inline constexpr const char* SHARE_READ_COUNT = "1000";
inline constexpr const char* SHARE_READ_BLOCK_MS = "1000";
// A starting host reads from this long before its cache started: logoffs of
// the last moments before a restart are still taken in.
inline constexpr std::int32_t SHARE_START_LOOKBACK_SECONDS = 300;

// A stream entry id, milliseconds and sequence; {0, 0} for text that is not one.
using StreamId = std::pair<std::uint64_t, std::uint64_t>;
StreamId parseStreamId(const std::string& text);

// The first position to read when the cache started at `cacheStartTime`.
std::string shareStartPosition(std::int32_t cacheStartTime);

// The thread function; runs until the process ends.
void shareReceiverThread();
