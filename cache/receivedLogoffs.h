// The logoffs other hosts of the farm recorded, keyed by farm identity. They
// live beside the local cookies and under the same lock,
// logoffCookieCacheLock: lookups with either hold, changes with the write
// hold. The cleanup pass forgets them by the rule that forgets local ones.
#pragma once

#include <cstdint>

#include "cache/farmLogoff.h"

// Each of these requires logoffCookieCacheLock as said above.
bool receivedLogoffs_contains(const FarmIdentity& identity);
// A logoff already held is merged with the one that arrived, never replaced:
// see mergeReceivedTimes.
void receivedLogoffs_insert(const FarmLogoff& logoff);
// Forgets those expired at `serviceNow`; returns how many.
std::uint32_t receivedLogoffs_expire(std::int32_t serviceNow);
std::uint32_t receivedLogoffs_entries();

// Two entries for one identity (so of one creation time) in whichever order
// they arrive: the later last use and the longer expiry of the two. A
// replayed older entry therefore never shortens a logoff that the sending
// host still refuses; the merge expires no earlier than either of them.
CookieTimes mergeReceivedTimes(const CookieTimes& held, const CookieTimes& arrived);

// Records a logoff received from another host: takes the write hold for the
// insert and makes sure the cleanup thread runs, since a host that only
// receives never adds.
void logoffCookieAPI_addReceivedLogoff(const FarmLogoff& logoff);
