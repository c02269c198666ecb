// The cache's one background thread: every 240 seconds it walks all cookies in
// insertion order and frees those whose lifetime or idle timeout has passed.
// The pass itself is LogoffCookieCache::cleanupPass (cache/logoffCookieCache.h):
// it works in slices, each under a short write hold, and frees outside it.
#pragma once

#include <cstdint>

#include "cache/LogoffCookie.h"

inline constexpr unsigned CLEANUP_INTERVAL_SECONDS = 240;
// Added to the cookie-clock time before the expiry tests.
inline constexpr std::int32_t EXPIRY_GRACE_SECONDS = 30;

// With the service's clock at `serviceNow`: the cookie's clock is that plus
// its time offset plus the grace. Expired when its lifetime has run out
// (creation + lifetime reached), or when it has an idle timeout that is shorter
// than the lifetime and that has run out since its last use. Kinds 1 and 2
// are judged by lifetime alone.
bool logoffCookieHasExpired(const LogoffCookie& cookie, std::int32_t serviceNow);

// The thread function of the process's cache: a pass, a pause of
// CLEANUP_INTERVAL_SECONDS, until the exit.
void logoffCookie_CleanupThread();
