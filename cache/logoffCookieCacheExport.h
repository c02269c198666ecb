// Everything the cache holds, handed out and taken back whole, so that a
// restart can keep what the cache knew: its start time and salt, the cookies
// it holds and the logoffs received from the farm. The cache neither knows
// nor cares where they are kept in between.
#pragma once

#include <cstdint>

#include "cache/LogoffCookie.h"
#include "cache/cookieExpiry.h"
#include "cache/farmLogoff.h"

// Receives what logoffCookieCache_export hands out, in this order: the start
// time and salt, the count of cookies, each cookie, the count of farm
// logoffs, each farm logoff.
class LogoffCookieCacheVisitor {
  public:
    virtual ~LogoffCookieCacheVisitor() = default;
    // The start time and the salt that go with the cookies that follow: a
    // flush between reading them and the cookies would pair the start of an
    // emptied cache with the cookies of the one before.
    virtual void start(std::int32_t startTime, const std::uint8_t* salt) {
        (void)startTime;
        (void)salt;
    }
    virtual void cookies(std::uint32_t count) = 0;
    virtual void cookie(const LogoffCookieDigest& digest, const CookieTimes& times) = 0;
    virtual void farmLogoffs(std::uint32_t count) = 0;
    virtual void farmLogoff(const FarmLogoff& logoff) = 0;
};

// Hands every cached cookie and every received farm logoff to `visitor`,
// all under one read hold of logoffCookieCacheLock: the counts and what
// follows them belong to the same moment, the start time and salt included.
// The visitor must not call into the cache.
void logoffCookieCache_export(LogoffCookieCacheVisitor& visitor);

// Taking back. Called by the worker after initLogoffCookieCache and before
// any request is served or any thread of the cache runs; none of them
// launches the cleanup thread (logoffCookieCache_launchCleanupThreadOnce does).
//
// The start time and salt of the run that held the cookies, in place of
// those just drawn: the digests it made match again.
void logoffCookieCache_restoreStart(std::int32_t startTime, const std::uint8_t* salt);

// Restores into the process's cache.
class LogoffCookieCacheRestore {
  public:
    // `cookies`: how many cookie() calls to make room for at once.
    explicit LogoffCookieCacheRestore(std::uint32_t cookies);
    ~LogoffCookieCacheRestore() = default;
    LogoffCookieCacheRestore(const LogoffCookieCacheRestore&) = delete;
    LogoffCookieCacheRestore& operator=(const LogoffCookieCacheRestore&) = delete;

    // A cookie as an earlier run held it. One already held with the same
    // digest takes these times, as a repeated add would give it.
    void cookie(const LogoffCookieDigest& digest, const CookieTimes& times);
    void farmLogoff(const FarmLogoff& logoff);
};
