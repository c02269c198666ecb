#include "cache/logoffCookieCleanupThread.h"

#include <unistd.h>

#include <chrono>
#include <ctime>

#include "cache/cookieExpiry.h"
#include "cache/logoffCookieCacheState.h"
#include "cache/receivedLogoffs.h"
#include "diag/serviceMetrics.h"
#include "diag/traceLog.h"
#include "support/threads/cancellationScope.h"

namespace {

// The pass counts from its wait for the lock; queries wait as long as it
// holds the lock.
void recordPassTimes(std::chrono::steady_clock::time_point attempted,
                     std::chrono::steady_clock::time_point acquired,
                     std::chrono::steady_clock::time_point released) {
    using std::chrono::duration_cast;
    using std::chrono::microseconds;
    metrics_count(CountedMetric::CleanupPasses);
    metrics_set(StoredMetric::CleanupLastPassMicros,
                duration_cast<microseconds>(released - attempted).count());
    metrics_set(StoredMetric::CleanupLastLockMicros,
                duration_cast<microseconds>(released - acquired).count());
}

}  // namespace

std::int32_t serviceClockNow() {
    return static_cast<std::int32_t>(std::time(nullptr));
}

bool logoffCookieHasExpired(const LogoffCookie& cookie, std::int32_t serviceNow) {
    CookieTimes times{cookie.creationTime(),       cookie.lastUseTime(),
                      cookie.timeOffset(),         cookie.idleTimeoutMinutes(),
                      cookie.maxLifetimeMinutes(), cookie.cookieKind()};
    return cookieTimesHaveExpired(times, serviceNow);
}

void logoffCookie_CleanupPass(ServiceClock clock) {
    // Cut off at the exit, the pass would drop the cookies it holds in its
    // private queue; it ends in its pause instead.
    NoCancellation wholePass;
    const auto attempted = std::chrono::steady_clock::now();
    TRACE_LOG(TRACE_DETAIL, "logoffCookie_CleanupThread() -- writelock attempt.");
    WriteGuard guard(logoffCookieCacheLock);
    const auto acquired = std::chrono::steady_clock::now();
    TRACE_LOG(TRACE_DETAIL, "logoffCookie_CleanupThread() -- writelock acquired.");
    TRACE_LOG(TRACE_DETAIL, "logoffCookie_CleanupThread() logoffCookieHashTable Entries %d",
              static_cast<int>(logoffCookieTable_entries()));
    {
        // The cookies move to the private queue and the survivors back, link
        // by link and in order: no allocation, so the pass cannot run out of
        // memory halfway and drop the cookies still in the private queue.
        RWSlistCollectablesQueue copyLogoffCookieQueue;
        copyLogoffCookieQueue.appendAllFrom(logoffCookieQueue);
        while (!copyLogoffCookieQueue.isEmpty()) {
            auto* cookie = static_cast<LogoffCookie*>(copyLogoffCookieQueue.first());
            if (!logoffCookieHasExpired(*cookie, clock())) {
                copyLogoffCookieQueue.moveFirstTo(logoffCookieQueue);
                continue;
            }
            // A queued cookie that never reached the set may have an equal
            // one there, added later: that one stays until its own expiry.
            logoffCookieTable_removeReference(cookie);
            TRACE_LOG(TRACE_DETAIL, "Logoff cookie time has expired.  Will remove it.");
            RWCollectable* expired = copyLogoffCookieQueue.get();
            if (expired != nullptr) {
                TRACE_LOG(TRACE_DETAIL,
                          "logoffCookie_CleanupThread() copyLogoffCookieQueue Entries, after "
                          "removal of entry from queue: %d",
                          static_cast<int>(copyLogoffCookieQueue.entries()));
                delete expired;
            }
        }
    }
    // Logoffs received from other hosts of the farm go by the same rule.
    if (std::uint32_t forgotten = receivedLogoffs_expire(clock()); forgotten != 0) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookie_CleanupThread() received logoffs forgotten: %u, still held: %u",
                  static_cast<unsigned>(forgotten),
                  static_cast<unsigned>(receivedLogoffs_entries()));
    }
    logoffCookieTable_fitToEntries();
    logoffCookieCache_recordSizes();
    guard.release();
    recordPassTimes(attempted, acquired, std::chrono::steady_clock::now());
    TRACE_LOG(TRACE_DETAIL, "logoffCookie_CleanupThread() -- writelock released.");
}

void logoffCookie_CleanupThread() {
    for (;;) {
        logoffCookie_CleanupPass(serviceClockNow);
        // The line has always said millis; the pause is in seconds.
        TRACE_LOG(TRACE_DETAIL, "Logoff Cookie Cleanup Thread sleeping for %d millis",
                  static_cast<int>(CLEANUP_INTERVAL_SECONDS));
        sleep(CLEANUP_INTERVAL_SECONDS);
        TRACE_LOG(TRACE_DETAIL, "Logoff Cookie Cleanup Thread waking up at %d",
                  static_cast<int>(std::time(nullptr)));
    }
}
