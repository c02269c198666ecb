#include "cache/logoffCookieAPI.h"

// Placeholder bodies until the cache lands: nothing is remembered.

void initLogoffCookieCache() {}

int logoffCookieAPI_cookieIsCached(const char*, const char*, int32_t, int32_t, const char*) {
    return 0;
}

void logoffCookieAPI_addToCache(const char*, const char*, int32_t, int32_t, int32_t, const char*,
                                int32_t) {}
