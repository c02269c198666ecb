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

// A slice's bound in time beside its bound in visits: a slice of slow
// visits (cookies far apart in memory, a processor shared with many threads)
// ends early rather than hold up the queries. The clock is read every 32nd
// visit, so it costs next to nothing, and every slice makes some progress.
class SliceDeadline {
  public:
    SliceDeadline(SteadyClock::time_point start, std::chrono::microseconds length)
        : end_(start + length) {}
    bool passed() { return ++visits_ % 32 == 0 && SteadyClock::now() >= end_; }

  private:
    SteadyClock::time_point end_;
    std::uint32_t visits_ = 0;
};

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
    holdTaken();
    auto held = SteadyClock::now();
    TRACE_LOG(TRACE_DETAIL, "logoffCookie_CleanupThread() -- writelock acquired.");
    TRACE_LOG(TRACE_DETAIL, "logoffCookie_CleanupThread() logoffCookieHashTable Entries %d",
              static_cast<int>(set_.entries()));
    // The pass visits the cookies held now; those added meanwhile stand
    // behind its survivors and wait for the next pass.
    passPending_.appendAllFrom(queue_);
    holdEnding();
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
        // The expired cookies' links of the set: freed after the hold too.
        RWSlist unlinked;
        std::unique_ptr<RWHashTable> drained;
        leftCounts.clear();
        WriteGuard slice(lock_);
        holdTaken();
        held = SteadyClock::now();
        SliceDeadline deadline(held, hooks_.sliceTime);
        for (std::uint32_t visited = 0;
             visited < hooks_.sliceSize && !passPending_.isEmpty() && !deadline.passed();
             ++visited) {
            auto* cookie = static_cast<LogoffCookie*>(passPending_.first());
            if (!logoffCookieHasExpired(*cookie, clock())) {
                passPending_.moveFirstTo(passKept_);
                continue;
            }
            // A queued cookie that never reached the set may have an equal
            // one there, added later: that one stays until its own expiry.
            set_.removeReference(cookie, unlinked);
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
        holdEnding();
        slice.release();
        longestHold = std::max(longestHold, SteadyClock::now() - held);
        freeExpired(expired, leftCounts);
        unlinked.clear();
        drained.reset();
        if (hooks_.afterSlice != nullptr) {
            hooks_.afterSlice(*this);
        }
        if (done) {
            break;
        }
    }

    if (!expireReceivedInSlices(clock, longestHold)) {
        return CleanupPassEnd::Stopped;
    }

    finishResize();
    shrinkIfSparse();
    WriteGuard last(lock_);
    holdTaken();
    recordSizes();
    holdEnding();
    last.release();
    recordPassTimes(SteadyClock::now() - attempted, longestHold);
    TRACE_LOG(TRACE_DETAIL, "logoffCookie_CleanupThread() -- writelock released.");
    return CleanupPassEnd::Completed;
}

// Logoffs received from other hosts of the farm go by the same rule, a slice
// of buckets at a time, after a growth under way has moved them all into one
// table. A table grown between two slices may show a logoff twice or hide one
// until the next pass: neither is wrong.
bool LogoffCookieCache::expireReceivedInSlices(ServiceClock clock, SteadyDuration& longestHold) {
    finishReceivedGrowth();
    std::uint32_t forgotten = 0;
    // Allocated before any hold, as the entries taken out are freed after
    // it: a slice stops before a bucket they would not hold, unless it has
    // taken none yet.
    const std::size_t room = std::size_t{hooks_.sliceSize} + 64;
    std::vector<FarmIdentity> expiredIdentities;
    expiredIdentities.reserve(room);
    ReceivedLogoffTable::Taken taken;
    taken.reserve(room);
    for (std::size_t bucket = 0;;) {
        if (stopping_.load(std::memory_order_acquire)) {
            return false;
        }
        expiredIdentities.clear();
        WriteGuard slice(lock_);
        holdTaken();
        const auto held = SteadyClock::now();
        SliceDeadline deadline(held, hooks_.sliceTime);
        const std::int32_t now = clock();
        // An empty bucket counts as a visit too: a slice of a sparse table
        // is as short as one of a full one.
        for (std::uint32_t visited = 0;
             bucket < received_.bucketCount() && visited < hooks_.sliceSize && !deadline.passed();
             ++bucket, ++visited) {
            const std::size_t chain = received_.bucketSize(bucket);
            if (!expiredIdentities.empty() && expiredIdentities.size() + chain > room) {
                break;
            }
            visited += static_cast<std::uint32_t>(chain);
            received_.visitBucket(bucket,
                                  [&](const FarmIdentity& identity, const CookieTimes& times) {
                                      if (cookieTimesHaveExpired(times, now)) {
                                          expiredIdentities.push_back(identity);
                                      }
                                  });
        }
        for (const FarmIdentity& identity : expiredIdentities) {
            received_.takeOut(identity, taken);
        }
        forgotten += static_cast<std::uint32_t>(expiredIdentities.size());
        const bool done = bucket >= received_.bucketCount();
        const auto stillHeld = static_cast<std::uint32_t>(received_.size());
        holdEnding();
        slice.release();
        longestHold = std::max(longestHold, SteadyClock::now() - held);
        taken.clear();
        if (done) {
            if (forgotten != 0) {
                TRACE_LOG(TRACE_DETAIL,
                          "logoffCookie_CleanupThread() received logoffs forgotten: %u, still "
                          "held: %u",
                          static_cast<unsigned>(forgotten), static_cast<unsigned>(stillHeld));
            }
            return true;
        }
    }
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
