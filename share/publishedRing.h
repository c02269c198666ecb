// What this host published lately, kept so that it can be published again
// when Redis turns out to be another incarnation than the one that took it:
// a replica promoted before the old primary passed the last entries on, or a
// Redis restarted empty. Without it those logoffs are lost for the farm.
// Only the publishing thread uses it.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <span>
#include <vector>

#include "cache/farmLogoff.h"

// Entries are kept for this long after they were published...
inline constexpr std::chrono::seconds kShareRingKeep{60};
// ...and at most this many, the oldest going first: memory stays bounded
// (about 6 MB) however fast logoffs come.
inline constexpr std::size_t kShareRingCapacity = 100000;

class PublishedRing {
  public:
    using Clock = std::chrono::steady_clock;

    explicit PublishedRing(std::size_t capacity = kShareRingCapacity,
                           std::chrono::seconds keep = kShareRingKeep);
    ~PublishedRing();
    PublishedRing(const PublishedRing&) = delete;
    PublishedRing& operator=(const PublishedRing&) = delete;

    // What the first ring made and still there (the publisher's) holds,
    // oldest first, from any thread: the stop saves it with the queue, so
    // that the next start publishes it again should Redis have lost it
    // meanwhile. Empty when there is no such ring.
    static std::vector<FarmLogoff> exportCurrent();

    // Records logoffs Redis has just taken. Entries older than the keeping
    // time go only here, as newer ones come: while Redis is away nothing
    // ages out, so what the old incarnation took in its last minute is all
    // still here when the next one is found, however long that took.
    void add(std::span<const FarmLogoff> published, Clock::time_point now);
    // Everything kept, oldest first, for publishing again. The entries keep
    // the time they were first published: restamped, entries given again to
    // one incarnation after another would never age out.
    std::vector<FarmLogoff> takeForRepublishing() const;
    std::size_t size() const { return entries_.size(); }
    // Entries pushed out by the count bound before their time was up.
    std::size_t overflowed() const { return overflowed_; }

  private:
    struct Entry {
        Clock::time_point published;
        FarmLogoff logoff;
    };

    const std::size_t capacity_;
    const std::chrono::seconds keep_;
    // Held by the changes and by exportCurrent() alone: only the export
    // comes from another thread.
    mutable std::mutex exportMutex_;
    std::deque<Entry> entries_;  // oldest first
    std::size_t overflowed_ = 0;
};
