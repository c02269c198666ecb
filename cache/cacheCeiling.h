// The most records the cache holds, local cookies and logoffs received from
// the farm together. A record that would pass it makes the cache do what a
// restart does: forget everything and count every cookie created before now
// as logged off. Nothing is ever dropped alone, since a dropped logoff would
// make a logged-off cookie valid again.
#pragma once

#include <cstdint>
#include <memory>

struct TakenCacheRecords;

// About 1.1 GB of cookies.
inline constexpr std::uint32_t kCacheDefaultMaxCookies = 4'000'000;

// Set once at start, before any request; tests change it between cases.
void logoffCookieCache_setCeiling(std::uint32_t maxRecords);
std::uint32_t logoffCookieCache_ceiling();

// Once the lock is released: says on standard error and in the trace that
// `function` forgot `held` records, and counts it.
void logoffCookieCache_reportFlush(const char* function, std::uint64_t held);

// Keeps what a flush took with the calling thread until the thread takes it
// back, or ends: freeing millions of records takes seconds, which the reply
// to the add that flushed, and the close of its connection, need not wait
// for. LogoffCookieCache::freeFlushedRecords takes it back and frees it.
void logoffCookieCache_keepFlushedRecords(std::unique_ptr<TakenCacheRecords> flushed);
// What a flush on this thread left, now the caller's; nullptr without one.
[[nodiscard]] std::unique_ptr<TakenCacheRecords> logoffCookieCache_takeFlushedRecords();
