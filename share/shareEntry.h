// One stream entry: a logoff as the hosts of a farm exchange it. Every field
// is text; the binary ones are lower-case hex.
//   v    format version, "1"
//   fid  the cookie's farm identity (never its text)
//   ct lu to it ml k   creation time, last-use time, time offset, idle
//        timeout and lifetime in minutes, kind: decimal, as the cache keeps them
//   run  random id of the sending run, so a host skips its own entries
//   mac  HMAC-SHA-1 under the farm secret over all of the above
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cache/farmLogoff.h"

inline constexpr const char* kShareEntryVersion = "1";
inline constexpr std::size_t kShareRunIdSize = 16;
using ShareRunId = std::array<std::uint8_t, kShareRunIdSize>;

inline constexpr std::size_t kShareEntryFields = 10;
using ShareEntryFields = std::array<std::pair<std::string, std::string>, kShareEntryFields>;

ShareEntryFields encodeShareEntry(const FarmKey& key, const FarmLogoff& logoff,
                                  const ShareRunId& run);

enum class ShareEntryCheck {
    Accepted,
    OwnRun,     // sent by this very run
    Malformed,  // a field missing, repeated, unknown or unreadable, or another version
    BadMac,     // well formed, but not written by a holder of the farm secret
};

// Reads the fields of one entry, in any order. Accepted fills `out`, and
// `sender` with the sending run when one is given.
ShareEntryCheck decodeShareEntry(
    const FarmKey& key, const std::vector<std::pair<std::string_view, std::string_view>>& fields,
    const ShareRunId& ownRun, FarmLogoff& out, ShareRunId* sender = nullptr);

std::string toHex(const std::uint8_t* bytes, std::size_t length);
