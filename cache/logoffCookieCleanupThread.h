// The cache's one background thread: every 240 seconds it walks all cookies in
// insertion order and frees those whose lifetime or idle timeout has passed.
// It is the only place where cookies are freed one by one; a flush at the
// ceiling (cache/cacheCeiling.h) frees them all.
#pragma once

#include <cstdint>

#include "cache/LogoffCookie.h"

inline constexpr unsigned CLEANUP_INTERVAL_SECONDS = 240;
// Added to the cookie-clock time before the expiry tests.
inline constexpr std::int32_t EXPIRY_GRACE_SECONDS = 30;

// Seconds since the epoch on the service's clock.
using ServiceClock = std::int32_t (*)();
std::int32_t serviceClockNow();

// With the service's clock at `serviceNow`: the cookie's clock is that plus
// its time offset plus the grace. Expired when its lifetime has run out
// (creation + lifetime reached), or when it has an idle timeout that is shorter
// than the lifetime and that has run out since its last use. Kinds 1 and 2
// are judged by lifetime alone.
bool logoffCookieHasExpired(const LogoffCookie& cookie, std::int32_t serviceNow);

// One pass under the cache's write hold, reading `clock` once per cookie:
// frees every expired cookie and keeps the rest in logoffCookieQueue in their
// order. A cookie added again was updated in place, so its latest values
// decide. An expired cookie leaves the set only if the set holds that very
// record: one whose insert into the set ran out of memory is in the queue
// alone, and an equal one added after it must stay.
void logoffCookie_CleanupPass(ServiceClock clock);

// The thread function: a pass, a pause of CLEANUP_INTERVAL_SECONDS, forever.
void logoffCookie_CleanupThread();
