// What farm sharing has done since start, counted where it happens with
// relaxed atomics: cheap to bump, read as a snapshot for reports.
#pragma once

#include <atomic>
#include <cstdint>

struct ShareCounterSnapshot {
    std::uint64_t published = 0;             // entries appended to the stream
    std::uint64_t republished = 0;           // appended again, for a new Redis incarnation
    std::uint64_t incarnationChanges = 0;    // Redis found to be another incarnation
    std::uint64_t received = 0;              // entries of other runs taken into the cache
    std::uint64_t droppedQueueFull = 0;      // adds not published: the queue was full
    std::uint64_t droppedBadMac = 0;         // entries refused: not signed with the farm secret
    std::uint64_t droppedMalformed = 0;      // entries stepped over: not an entry of ours
    std::uint64_t refusedPassing = 0;        // commands refused for a passing reason
    std::uint64_t refusedNeedsOperator = 0;  // commands refused for a reason to mend
    std::uint64_t positionResets = 0;        // read position ahead of the stream, moved back
    bool publishingRefused = false;          // the last publishing try was refused
    std::uint64_t reconnects = 0;            // connections made again after a failure
    std::uint64_t missedLogoffWarnings = 0;  // the stream was trimmed past the next read
    std::int64_t lastReadTime = 0;       // seconds since the epoch of the last good read, 0: none
    std::int64_t startTime = 0;          // seconds since the epoch sharing started, 0: off
    std::uint64_t readLastMinute = 0;    // entries of other runs judged in the last minute
    std::uint64_t badMacLastMinute = 0;  // of those, not signed with the farm secret
};

// Entries judged in the last minute, by second: written by the receiving
// thread alone, read by the metrics writer. A reading may miss the second
// being written; it is a gauge for alarms, not an account.
class ShareMinuteWindow {
  public:
    void count(std::int64_t now, bool badMac);
    void sum(std::int64_t now, std::uint64_t& read, std::uint64_t& badMac) const;

  private:
    struct Slot {
        std::atomic<std::int64_t> second{-1};
        std::atomic<std::uint64_t> read{0};
        std::atomic<std::uint64_t> badMac{0};
    };
    static constexpr std::int64_t kSeconds = 60;
    Slot slots_[kSeconds];
};

struct ShareCounters {
    std::atomic<std::uint64_t> published{0};
    std::atomic<std::uint64_t> republished{0};
    std::atomic<std::uint64_t> incarnationChanges{0};
    std::atomic<std::uint64_t> received{0};
    std::atomic<std::uint64_t> droppedQueueFull{0};
    std::atomic<std::uint64_t> droppedBadMac{0};
    std::atomic<std::uint64_t> droppedMalformed{0};
    std::atomic<std::uint64_t> refusedPassing{0};
    std::atomic<std::uint64_t> refusedNeedsOperator{0};
    std::atomic<std::uint64_t> positionResets{0};
    std::atomic<bool> publishingRefused{false};
    std::atomic<std::uint64_t> reconnects{0};
    std::atomic<std::uint64_t> missedLogoffWarnings{0};
    std::atomic<std::int64_t> lastReadTime{0};
    std::atomic<std::int64_t> startTime{0};
    ShareMinuteWindow judged;
};

// The process's counters; only farm sharing writes them.
ShareCounters& shareCounters();
ShareCounterSnapshot readShareCounters();

inline void countShare(std::atomic<std::uint64_t>& counter, std::uint64_t amount = 1) {
    counter.fetch_add(amount, std::memory_order_relaxed);
}
