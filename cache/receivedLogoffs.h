// The logoffs other hosts of the farm recorded, keyed by farm identity. They
// live beside the local cookies and under the same lock,
// logoffCookieCacheLock: lookups with either hold, changes with the write
// hold. The cleanup pass forgets them by the rule that forgets local ones.
#pragma once

#include <cstdint>
#include <memory>

#include "cache/farmLogoff.h"

// Each of these requires logoffCookieCacheLock as said above.
bool receivedLogoffs_contains(const FarmIdentity& identity);
// A logoff already held is merged with the one that arrived, never replaced:
// see mergeReceivedTimes.
void receivedLogoffs_insert(const FarmLogoff& logoff);
// Forgets those expired at `serviceNow`; returns how many.
std::uint32_t receivedLogoffs_expire(std::int32_t serviceNow);
std::uint32_t receivedLogoffs_entries();
// Leaves the set empty and hands what it held to the returned owner, which
// frees it when it goes. Throws std::bad_alloc with the set unchanged.
std::shared_ptr<void> receivedLogoffs_takeAll();
// Calls `visit` with each logoff held, in no particular order.
void receivedLogoffs_visit(void (*visit)(const FarmLogoff& logoff, void* data), void* data);

// Two entries for one identity (so of one creation time) in whichever order
// they arrive: the later last use and the longer expiry of the two. A
// replayed older entry therefore never shortens a logoff that the sending
// host still refuses; the merge expires no earlier than either of them.
CookieTimes mergeReceivedTimes(const CookieTimes& held, const CookieTimes& arrived);
