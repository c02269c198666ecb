#include "cache/logoffCookieCacheState.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCleanupThread.h"
#include "support/collections/RWHashTable.h"

// Defined together, in this order, so that they are built in it.
RWReadersWriterLock logoffCookieCacheLock;
RWReadersWriterLock cacheStartTimeLock;
RWReadersWriterLock cookieSaltLock;
static RWHashTable logoffCookieHashTable(DEFAULT_CAPACITY);
RWSlistCollectablesQueue logoffCookieQueue;
RWThreadFunction cleanupThreadHandle;

std::atomic<int> cleanupThreadStarted{0};
RWMutexLock cleanupThreadLaunchLock;
void (*cleanupThreadFunction)() = logoffCookie_CleanupThread;

// Written once by initLogoffCookieCache, zero until then.
static std::int32_t cacheStartTime = 0;
static std::uint8_t cookieSalt[COOKIE_SALT_SIZE] = {};

void initLogoffCookieCache() {
    auto now = static_cast<std::int32_t>(std::time(nullptr));

    WriteGuard startGuard(cacheStartTimeLock);
    cacheStartTime = now;
    startGuard.release();

    // A salt new in every run: nothing of an earlier run can match a digest.
    std::srand(static_cast<unsigned>(now));
    WriteGuard saltGuard(cookieSaltLock);
    for (std::uint8_t& byte : cookieSalt) {
        byte = static_cast<std::uint8_t>(std::rand());
    }
    saltGuard.release();
}

std::int32_t getCacheStartTime() {
    ReadGuard guard(cacheStartTimeLock);
    std::int32_t start = cacheStartTime;
    guard.release();
    return start;
}

void copyCookieSalt(std::uint8_t* destination) {
    ReadGuard guard(cookieSaltLock);
    std::memcpy(destination, cookieSalt, COOKIE_SALT_SIZE);
    guard.release();
}

LogoffCookie* logoffCookieTable_find(const LogoffCookie& probe) {
    return static_cast<LogoffCookie*>(logoffCookieHashTable.find(&probe));
}

void logoffCookieTable_insert(LogoffCookie* cookie) {
    logoffCookieHashTable.insert(cookie);
}

LogoffCookie* logoffCookieTable_removeReference(const LogoffCookie* cookie) {
    return static_cast<LogoffCookie*>(logoffCookieHashTable.removeReference(cookie));
}

std::uint32_t logoffCookieTable_entries() {
    return logoffCookieHashTable.entries();
}
