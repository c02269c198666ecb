#include "cache/logoffCookieAPI.h"

#include "cache/logoffCookieCache.h"

void initLogoffCookieCache() {
    logoffCookieCache().init();
}

std::int32_t getCacheStartTime() {
    return logoffCookieCache().startTime();
}

void copyCookieSalt(std::uint8_t* destination) {
    logoffCookieCache().copySalt(destination);
}

int logoffCookieAPI_cookieIsCached(const char* cookieText, const char* cookieBytes,
                                   int32_t creationTime, int32_t timeOffset,
                                   const char* cookieAttributes) {
    return logoffCookieCache().cookieIsCached(cookieText, cookieBytes, creationTime, timeOffset,
                                              cookieAttributes);
}

int logoffCookieCache_tryCookieIsCached(const char* cookieText, const char* cookieBytes,
                                        int32_t creationTime, int32_t timeOffset,
                                        const char* cookieAttributes) {
    return logoffCookieCache().tryCookieIsCached(cookieText, cookieBytes, creationTime, timeOffset,
                                                 cookieAttributes);
}

void logoffCookieAPI_addToCache(const char* cookieText, const char* cookieBytes,
                                int32_t lastUseTime, int32_t creationTime, int32_t timeOffset,
                                const char* cookieAttributes, int32_t cookieKind) {
    logoffCookieCache().addToCache(cookieText, cookieBytes, lastUseTime, creationTime, timeOffset,
                                   cookieAttributes, cookieKind);
}

void logoffCookieCache_launchCleanupThreadOnce() {
    logoffCookieCache().launchCleanupThreadOnce();
}

void logoffCookieCache_addReceivedLogoff(std::span<const FarmLogoff> logoffs) {
    logoffCookieCache().addReceivedLogoffs(logoffs);
}
