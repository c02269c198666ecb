// The logoff cookie cache: its start-up and the entry points that the request
// handlers call, each a thin function over the process's one cache
// (cache/logoffCookieCache.h).
#pragma once

#include <cstdint>
#include <span>

#include "cache/farmLogoff.h"

// Records the cache start time and draws the cookie salt. Called once by the
// worker before any request is read.
void initLogoffCookieCache();

// The service's clock when the cache was initialised, or when it last forgot
// everything at the ceiling: every cookie created until then counts as logged off.
std::int32_t getCacheStartTime();
// Copies the cookie salt's bytes.
void copyCookieSalt(std::uint8_t* destination);

// 1 when the cookie counts as logged off, 0 otherwise. `cookieText` and
// `cookieBytes` point at 64-byte fields, `cookieAttributes` at the 840-byte
// record of the request.
int logoffCookieAPI_cookieIsCached(const char* cookieText, const char* cookieBytes,
                                   int32_t creationTime, int32_t timeOffset,
                                   const char* cookieAttributes);
// The same, but -1 at once instead of waiting for the cache's read hold.
int logoffCookieCache_tryCookieIsCached(const char* cookieText, const char* cookieBytes,
                                        int32_t creationTime, int32_t timeOffset,
                                        const char* cookieAttributes);

// Records a logged-off cookie. Note the argument order: `lastUseTime` first.
void logoffCookieAPI_addToCache(const char* cookieText, const char* cookieBytes,
                                int32_t lastUseTime, int32_t creationTime, int32_t timeOffset,
                                const char* cookieAttributes, int32_t cookieKind);

// Launches the cleanup thread unless it was launched: the first insert does,
// whether a local add or a logoff received from another host of the farm.
void logoffCookieCache_launchCleanupThreadOnce();

// Records logoffs received from other hosts, the entries of one read of the
// farm's stream: takes the write hold once for all of them and makes sure the
// cleanup thread runs, since a host that only receives never adds. Each one
// not held yet takes a record's room, so a batch may pass the ceiling (and
// forget everything) more than once; each time is said once the lock is
// released.
void logoffCookieCache_addReceivedLogoff(std::span<const FarmLogoff> logoffs);
