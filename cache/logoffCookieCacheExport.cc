#include "cache/logoffCookieCacheExport.h"

#include <cstring>
#include <memory>

#include "cache/logoffCookieCacheState.h"
#include "cache/receivedLogoffs.h"

namespace {

void visitCookie(RWCollectable* collectable, void* data) {
    const auto* cookie = static_cast<const LogoffCookie*>(collectable);
    static_cast<LogoffCookieCacheVisitor*>(data)->cookie(cookie->digest(), cookie->times());
}

void visitFarmLogoff(const FarmLogoff& logoff, void* data) {
    static_cast<LogoffCookieCacheVisitor*>(data)->farmLogoff(logoff);
}

}  // namespace

void logoffCookieCache_export(LogoffCookieCacheVisitor& visitor) {
    ReadGuard guard(logoffCookieCacheLock);
    // The set, not the queue: the queue may still hold a cookie whose insert
    // into the set ran out of memory, which no query finds either.
    visitor.cookies(logoffCookieTable_entries());
    logoffCookieTable_apply(visitCookie, &visitor);
    visitor.farmLogoffs(receivedLogoffs_entries());
    receivedLogoffs_visit(visitFarmLogoff, &visitor);
    guard.release();
}

LogoffCookieCacheRestore::LogoffCookieCacheRestore(std::uint32_t cookies) {
    logoffCookieCacheLock.acquireWrite();
    logoffCookieTable_reserve(cookies);
}

LogoffCookieCacheRestore::~LogoffCookieCacheRestore() {
    logoffCookieCache_recordSizes();
    logoffCookieCacheLock.release();
}

void LogoffCookieCacheRestore::cookie(const LogoffCookieDigest& digest, const CookieTimes& times) {
    auto restored = std::make_unique<LogoffCookie>(digest, times);
    if (LogoffCookie* existing = logoffCookieTable_find(*restored)) {
        existing->adoptTimesOf(*restored);
        return;
    }
    // The queue first, as an add does: from then on the cleanup frees it.
    logoffCookieQueue.append(restored.get());
    logoffCookieTable_insert(restored.release());
}

void LogoffCookieCacheRestore::farmLogoff(const FarmLogoff& logoff) {
    receivedLogoffs_insert(logoff);
}
