#include "cache/logoffCookieCacheExport.h"

#include "cache/logoffCookieCache.h"

void logoffCookieCache_export(LogoffCookieCacheVisitor& visitor) {
    logoffCookieCache().exportTo(visitor);
}

void logoffCookieCache_restoreStart(std::int32_t startTime, const std::uint8_t* salt) {
    logoffCookieCache().restoreStart(startTime, salt);
}

LogoffCookieCacheRestore::LogoffCookieCacheRestore(std::uint32_t cookies) {
    logoffCookieCache().reserve(cookies);
}

void LogoffCookieCacheRestore::cookie(const LogoffCookieDigest& digest, const CookieTimes& times) {
    logoffCookieCache().restoreCookie(digest, times);
}

void LogoffCookieCacheRestore::farmLogoff(const FarmLogoff& logoff) {
    logoffCookieCache().restoreFarmLogoff(logoff);
}
