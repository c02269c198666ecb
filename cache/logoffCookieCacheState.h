// The cache's process-global state, shared by the entry points, the cleanup
// thread and the tests. Everything here is static storage, built at program
// start in the order declared and destroyed at exit in reverse.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "cache/LogoffCookie.h"
#include "cache/logoffCookieAPI.h"
#include "support/collections/RWHashTable.h"
#include "support/collections/RWSlistCollectablesQueue.h"
#include "support/threads/RWMutexLock.h"
#include "support/threads/RWReadersWriterLock.h"
#include "support/threads/RWThreadFunction.h"

// Guards the set of cached cookies and logoffCookieQueue together.
extern RWReadersWriterLock logoffCookieCacheLock;
extern RWReadersWriterLock cacheStartTimeLock;
extern RWReadersWriterLock cookieSaltLock;
// Every cookie the cache owns, in order of first insertion: the cached ones,
// one record per digest, and any whose insert into the set ran out of
// memory. The cleanup thread frees them from here, one by one; a flush at
// the ceiling (cache/cacheCeiling.h) takes them all at once.
extern RWSlistCollectablesQueue logoffCookieQueue;
extern RWThreadFunction cleanupThreadHandle;

// 1 once the cleanup thread has been launched. Read without a lock by every
// insert; cleanupThreadLaunchLock makes the test and the launch one step.
extern std::atomic<int> cleanupThreadStarted;
extern RWMutexLock cleanupThreadLaunchLock;

// What the cleanup thread runs: logoffCookie_CleanupThread. Tests put a
// function that returns at once in its place.
extern void (*cleanupThreadFunction)();

// Makes a thread over cleanupThreadFunction in cleanupThreadHandle and starts
// it; throws what the thread support throws (RWTHRxmsg, std::bad_alloc) when
// it cannot. No thread runs after a throw, so the launch may be tried again.
void launchCleanupThread();
// What the first insert calls to launch: launchCleanupThread. Tests put a
// launcher that fails in its place.
extern void (*cleanupThreadLauncher)();

// getCacheStartTime (on the cache's face, cache/logoffCookieAPI.h) reads
// the start time under cacheStartTimeLock.
// Moves the start time forward to `now` (never back) under
// cacheStartTimeLock: every cookie created until then counts as logged off.
void moveCacheStartTime(std::int32_t now);
// Counts the times the cache forgot everything; changed only with the write
// hold of logoffCookieCacheLock, after the start time has moved. A query that
// read the start time before a flush and then misses learns of it here.
extern std::atomic<std::uint32_t> cacheFlushes;
// Copies the COOKIE_SALT_SIZE salt bytes under cookieSaltLock.
void copyCookieSalt(std::uint8_t* destination);

// The only ways to the set of cached cookies (logoffCookieHashTable). Each
// requires logoffCookieCacheLock: find, entries and buckets with either hold,
// the others with the write hold.
//
// The set starts with 64 buckets and never has fewer. An insert that leaves
// more than two cookies per bucket grows it to about twice the buckets, so
// chains stay short however many cookies are held; the bucket count changes
// what a lookup costs, never what it answers.
//
// The stored cookie equal to `probe` (same digest), or nullptr.
LogoffCookie* logoffCookieTable_find(const LogoffCookie& probe);
void logoffCookieTable_insert(LogoffCookie* cookie);
// Gives the set the buckets for `cookies` more at once: for a caller about to
// insert that many, whose inserts then never grow the set one step at a time.
void logoffCookieTable_reserve(std::uint32_t cookies);
// Gives back the buckets of a set that has lost most of its cookies; the
// cleanup pass calls it when it has removed the expired ones.
void logoffCookieTable_fitToEntries();
// Removes this very cookie, never an equal one stored in its place; returns
// it, or nullptr when the set does not hold it.
LogoffCookie* logoffCookieTable_removeReference(const LogoffCookie* cookie);
std::uint32_t logoffCookieTable_entries();
// Calls `function` with each cookie of the set, bucket by bucket.
void logoffCookieTable_apply(void (*function)(RWCollectable* cookie, void* data), void* data);
std::uint32_t logoffCookieTable_buckets();
// The number of cookies in the fullest bucket: what the slowest find walks.
std::uint32_t logoffCookieTable_longestChain();

// Publishes the number of cookies in the set and in the queue, and of
// logoffs received from the farm, to the service's metrics. Requires the
// write hold of logoffCookieCacheLock, so the numbers belong to the same
// moment.
void logoffCookieCache_recordSizes();

// Every record the cache held, taken out at once by logoffCookieCache_takeAll.
// Going out of scope frees them: let it go after releasing the lock, which is
// then held only for exchanging a few pointers, however many records there are.
struct TakenCacheRecords {
    TakenCacheRecords();
    ~TakenCacheRecords();
    TakenCacheRecords(const TakenCacheRecords&) = delete;
    TakenCacheRecords& operator=(const TakenCacheRecords&) = delete;

    RWHashTable set;                   // the links of the set
    RWSlistCollectablesQueue cookies;  // the cookies, owned
    std::shared_ptr<void> received;    // the logoffs received from the farm
};

// Requires the write hold of logoffCookieCacheLock. Leaves the set, the
// queue and the received logoffs empty, with everything they held in
// `taken`. Throws std::bad_alloc before anything has moved.
void logoffCookieCache_takeAll(TakenCacheRecords& taken);
