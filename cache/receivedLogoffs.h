// The logoffs other hosts of the farm recorded, keyed by farm identity, live
// in the cache beside the local cookies and under the same lock
// (cache/logoffCookieCache.h). The cleanup pass forgets them by the rule that
// forgets local ones.
#pragma once

#include "cache/farmLogoff.h"

// Two entries for one identity (so of one creation time) in whichever order
// they arrive: the later last use and the longer expiry of the two. A
// replayed older entry therefore never shortens a logoff that the sending
// host still refuses; the merge expires no earlier than either of them.
CookieTimes mergeReceivedTimes(const CookieTimes& held, const CookieTimes& arrived);
