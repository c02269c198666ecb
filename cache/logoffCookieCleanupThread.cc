#include "cache/logoffCookieCleanupThread.h"

#include <pthread.h>
#include <semaphore.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <vector>

#include "cache/cookieExpiry.h"
#include "cache/logoffCookieCache.h"
#include "diag/serviceMetrics.h"
#include "diag/traceLog.h"
#include "support/threads/RWReadersWriterLock.h"
#include "support/threads/cancellationScope.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// The pass counts from its wait for the lock; the lock figure is the longest
// single hold of the pass, which is what a query may have waited.
void recordPassTimes(SteadyClock::duration pass, SteadyClock::duration longestHold) {
    using std::chrono::duration_cast;
    using std::chrono::microseconds;
    metrics_count(CountedMetric::CleanupPasses);
    metrics_set(StoredMetric::CleanupLastPassMicros, duration_cast<microseconds>(pass).count());
    metrics_set(StoredMetric::CleanupLastLockMicros,
                duration_cast<microseconds>(longestHold).count());
}

// The expired cookies of one slice, traced and freed once the hold is
// released; with each, the number of cookies the pass still had to visit
// when it was taken out.
void freeExpired(RWSlistCollectablesQueue& expired, const std::vector<std::uint32_t>& leftCounts) {
    for (std::uint32_t left : leftCounts) {
        TRACE_LOG(TRACE_DETAIL, "Logoff cookie time has expired.  Will remove it.");
        RWCollectable* cookie = expired.get();
        if (cookie != nullptr) {
            TRACE_LOG(TRACE_DETAIL,
                      "logoffCookie_CleanupThread() copyLogoffCookieQueue Entries, after "
                      "removal of entry from queue: %d",
                      static_cast<int>(left));
            delete cookie;
        }
    }
}

}  // namespace

bool logoffCookieHasExpired(const LogoffCookie& cookie, std::int32_t serviceNow) {
    CookieTimes times{cookie.creationTime(),       cookie.lastUseTime(),
                      cookie.timeOffset(),         cookie.idleTimeoutMinutes(),
                      cookie.maxLifetimeMinutes(), cookie.cookieKind()};
    return cookieTimesHaveExpired(times, serviceNow);
}

void logoffCookie_CleanupThread() {
    logoffCookieCache().runCleanupThread();
}

CleanupPassEnd LogoffCookieCache::cleanupPass(ServiceClock clock) {
    if (clock == nullptr) {
        clock = hooks_.clock;
    }
    // Cut off at the exit, the pass would drop the cookies it has in flight;
    // the exit stops it between slices instead.
    NoCancellation wholePass;
    const auto attempted = SteadyClock::now();
    SteadyClock::duration longestHold{};
    TRACE_LOG(TRACE_DETAIL, "logoffCookie_CleanupThread() -- writelock attempt.");
    WriteGuard first(lock_);
    auto held = SteadyClock::now();
    TRACE_LOG(TRACE_DETAIL, "logoffCookie_CleanupThread() -- writelock acquired.");
    TRACE_LOG(TRACE_DETAIL, "logoffCookie_CleanupThread() logoffCookieHashTable Entries %d",
              static_cast<int>(set_.entries()));
    // The pass visits the cookies held now; those added meanwhile stand
    // behind its survivors and wait for the next pass.
    passPending_.appendAllFrom(queue_);
    first.release();
    longestHold = std::max(longestHold, SteadyClock::now() - held);

    // Allocated once, before any hold: a slice never allocates, so it cannot
    // run out of memory halfway with cookies in flight.
    std::vector<std::uint32_t> leftCounts;
    leftCounts.reserve(hooks_.sliceSize);
    for (;;) {
        if (stopping_.load(std::memory_order_acquire)) {
            // Put back in their order: kept, not yet visited, added meanwhile.
            WriteGuard putBack(lock_);
            passKept_.appendAllFrom(passPending_);
            passKept_.appendAllFrom(queue_);
            queue_.appendAllFrom(passKept_);
            putBack.release();
            return CleanupPassEnd::Stopped;
        }
        RWSlistCollectablesQueue expired;
        std::unique_ptr<RWHashTable> drained;
        leftCounts.clear();
        WriteGuard slice(lock_);
        held = SteadyClock::now();
        for (std::uint32_t visited = 0; visited < hooks_.sliceSize && !passPending_.isEmpty();
             ++visited) {
            auto* cookie = static_cast<LogoffCookie*>(passPending_.first());
            if (!logoffCookieHasExpired(*cookie, clock())) {
                passPending_.moveFirstTo(passKept_);
                continue;
            }
            // A queued cookie that never reached the set may have an equal
            // one there, added later: that one stays until its own expiry.
            set_.removeReference(cookie);
            passPending_.moveFirstTo(expired);
            leftCounts.push_back(passPending_.entries());
        }
        // A resize under way moves on with the pass as with the inserts.
        drained = set_.step(hooks_.sliceSize);
        const bool done = passPending_.isEmpty();
        if (done) {
            passKept_.appendAllFrom(queue_);
            queue_.appendAllFrom(passKept_);
        }
        slice.release();
        longestHold = std::max(longestHold, SteadyClock::now() - held);
        freeExpired(expired, leftCounts);
        drained.reset();
        if (hooks_.afterSlice != nullptr) {
            hooks_.afterSlice(*this);
        }
        if (done) {
            break;
        }
    }

    // Logoffs received from other hosts of the farm go by the same rule, a
    // slice of buckets at a time. A table grown between two slices may show
    // a logoff twice or hide one until the next pass: neither is wrong.
    std::uint32_t forgotten = 0;
    std::vector<FarmIdentity> expiredIdentities;
    expiredIdentities.reserve(hooks_.sliceSize);  // a chain more may exceed it
    for (std::size_t bucket = 0;;) {
        if (stopping_.load(std::memory_order_acquire)) {
            return CleanupPassEnd::Stopped;
        }
        expiredIdentities.clear();
        WriteGuard slice(lock_);
        held = SteadyClock::now();
        const std::int32_t now = clock();
        // An empty bucket counts as a visit too: a slice of a sparse table
        // is as short as one of a full one.
        for (std::uint32_t visited = 0;
             bucket < received_.bucket_count() && visited < hooks_.sliceSize; ++bucket, ++visited) {
            for (auto at = received_.begin(bucket); at != received_.end(bucket); ++at) {
                ++visited;
                if (cookieTimesHaveExpired(at->second, now)) {
                    expiredIdentities.push_back(at->first);
                }
            }
        }
        for (const FarmIdentity& identity : expiredIdentities) {
            received_.erase(identity);
        }
        forgotten += static_cast<std::uint32_t>(expiredIdentities.size());
        const bool done = bucket >= received_.bucket_count();
        const std::uint32_t stillHeld = static_cast<std::uint32_t>(received_.size());
        slice.release();
        longestHold = std::max(longestHold, SteadyClock::now() - held);
        if (done) {
            if (forgotten != 0) {
                TRACE_LOG(TRACE_DETAIL,
                          "logoffCookie_CleanupThread() received logoffs forgotten: %u, still "
                          "held: %u",
                          static_cast<unsigned>(forgotten), static_cast<unsigned>(stillHeld));
            }
            break;
        }
    }

    finishResize();
    shrinkIfSparse();
    WriteGuard last(lock_);
    recordSizes();
    last.release();
    recordPassTimes(SteadyClock::now() - attempted, longestHold);
    TRACE_LOG(TRACE_DETAIL, "logoffCookie_CleanupThread() -- writelock released.");
    return CleanupPassEnd::Completed;
}

void LogoffCookieCache::runCleanupThread() {
    // Nothing of the thread is cut off at the exit but its pause: a trace
    // line takes the stdio and time-zone locks and allocates, and a pass
    // moves cookies between queues. A pass gives up at its next slice when
    // the exit stops it instead.
    NoCancellation wholeThread;
    if (hooks_.cleanupThread != nullptr) {
        hooks_.cleanupThread(*this);
    } else {
        while (cleanupPass() == CleanupPassEnd::Completed) {
            // The line has always said millis; the pause is in seconds.
            TRACE_LOG(TRACE_DETAIL, "Logoff Cookie Cleanup Thread sleeping for %d millis",
                      static_cast<int>(CLEANUP_INTERVAL_SECONDS));
            pause();
            if (stopping_.load(std::memory_order_acquire)) {
                break;
            }
            TRACE_LOG(TRACE_DETAIL, "Logoff Cookie Cleanup Thread waking up at %d",
                      static_cast<int>(std::time(nullptr)));
        }
    }
}

void LogoffCookieCache::pause() {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += CLEANUP_INTERVAL_SECONDS;
    // Deferred, so that a termination ends the thread only inside the wait.
    int previousType = 0;
    pthread_setcanceltype(PTHREAD_CANCEL_DEFERRED, &previousType);
    {
        CancellableWait wait;
        while (!stopping_.load(std::memory_order_acquire) &&
               sem_clockwait(&wake_, CLOCK_MONOTONIC, &deadline) != 0 && errno == EINTR) {
        }
    }
    pthread_setcanceltype(previousType, &previousType);
}

void LogoffCookieCache::stopCleanup() {
    stopping_.store(true, std::memory_order_release);
    sem_post(&wake_);
}
