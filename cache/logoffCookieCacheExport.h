// Everything the cache holds, handed out and taken back whole, so that a
// restart can keep what the cache knew: its start time and salt, the cookies
// it holds and the logoffs received from the farm. The cache neither knows
// nor cares where they are kept in between.
#pragma once

#include <cstdint>

#include "cache/LogoffCookie.h"
#include "cache/cookieExpiry.h"
#include "cache/farmLogoff.h"

// Receives what logoffCookieCache_export hands out, in this order: the count
// of cookies, each cookie, the count of farm logoffs, each farm logoff.
class LogoffCookieCacheVisitor {
  public:
    virtual ~LogoffCookieCacheVisitor() = default;
    virtual void cookies(std::uint32_t count) = 0;
    virtual void cookie(const LogoffCookieDigest& digest, const CookieTimes& times) = 0;
    virtual void farmLogoffs(std::uint32_t count) = 0;
    virtual void farmLogoff(const FarmLogoff& logoff) = 0;
};

// Hands every cached cookie and every received farm logoff to `visitor`,
// all under one read hold of logoffCookieCacheLock: the counts and what
// follows them belong to the same moment. The visitor must not call into the
// cache. Start time and salt are read with getCacheStartTime and
// copyCookieSalt.
void logoffCookieCache_export(LogoffCookieCacheVisitor& visitor);

// Taking back. Called by the worker after initLogoffCookieCache and before
// any request is served or any thread of the cache runs; none of them
// launches the cleanup thread (logoffCookieAPI_launchCleanupThreadOnce does).
//
// The start time and salt of the run that held the cookies, in place of
// those just drawn: the digests it made match again.
void logoffCookieCache_restoreStart(std::int32_t startTime, const std::uint8_t* salt);

// Holds the write lock over many restores: taking it for each of a million
// cookies would cost more than the restore itself.
class LogoffCookieCacheRestore {
  public:
    // `cookies`: how many cookie() calls to make room for at once.
    explicit LogoffCookieCacheRestore(std::uint32_t cookies);
    // Publishes the sizes to the metrics and releases the lock.
    ~LogoffCookieCacheRestore();
    LogoffCookieCacheRestore(const LogoffCookieCacheRestore&) = delete;
    LogoffCookieCacheRestore& operator=(const LogoffCookieCacheRestore&) = delete;

    // A cookie as an earlier run held it. One already held with the same
    // digest takes these times, as a repeated add would give it.
    void cookie(const LogoffCookieDigest& digest, const CookieTimes& times);
    void farmLogoff(const FarmLogoff& logoff);
};
