// The cache's process-global state, shared by the entry points, the cleanup
// thread and the tests. Everything here is static storage, built at program
// start in the order declared and destroyed at exit in reverse.
#pragma once

#include <atomic>
#include <cstdint>

#include "cache/LogoffCookie.h"
#include "support/collections/RWSlistCollectablesQueue.h"
#include "support/threads/RWMutexLock.h"
#include "support/threads/RWReadersWriterLock.h"
#include "support/threads/RWThreadFunction.h"

// Guards the set of cached cookies and logoffCookieQueue together.
extern RWReadersWriterLock logoffCookieCacheLock;
extern RWReadersWriterLock cacheStartTimeLock;
extern RWReadersWriterLock cookieSaltLock;
// Every inserted cookie in order of insertion, including those an equal newer
// cookie replaced in the set; the cleanup thread frees them from here.
extern RWSlistCollectablesQueue logoffCookieQueue;
extern RWThreadFunction cleanupThreadHandle;

// 1 once the cleanup thread has been launched. Read without a lock by every
// insert; cleanupThreadLaunchLock makes the test and the launch one step.
extern std::atomic<int> cleanupThreadStarted;
extern RWMutexLock cleanupThreadLaunchLock;

// What the cleanup thread runs: logoffCookie_CleanupThread. Tests put a
// function that returns at once in its place.
extern void (*cleanupThreadFunction)();

// The service's clock when the cache was initialised, read under
// cacheStartTimeLock.
std::int32_t getCacheStartTime();
// Copies the COOKIE_SALT_SIZE salt bytes under cookieSaltLock.
void copyCookieSalt(std::uint8_t* destination);

// The only ways to the set of cached cookies (logoffCookieHashTable, 64
// buckets). Each requires logoffCookieCacheLock: find and entries with either
// hold, insert and remove with the write hold.
//
// The stored cookie equal to `probe` (same digest), or nullptr.
LogoffCookie* logoffCookieTable_find(const LogoffCookie& probe);
void logoffCookieTable_insert(LogoffCookie* cookie);
// Removes this very cookie, never an equal one stored in its place; returns
// it, or nullptr when the set does not hold it.
LogoffCookie* logoffCookieTable_removeReference(const LogoffCookie* cookie);
std::uint32_t logoffCookieTable_entries();
