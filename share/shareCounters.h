// What farm sharing has done since start, counted where it happens with
// relaxed atomics: cheap to bump, read as a snapshot for reports.
#pragma once

#include <atomic>
#include <cstdint>

struct ShareCounterSnapshot {
    std::uint64_t published = 0;             // entries appended to the stream
    std::uint64_t received = 0;              // entries of other runs taken into the cache
    std::uint64_t droppedQueueFull = 0;      // adds not published: the queue was full
    std::uint64_t droppedBadMac = 0;         // entries refused: MAC wrong or entry unreadable
    std::uint64_t reconnects = 0;            // connections made again after a failure
    std::uint64_t missedLogoffWarnings = 0;  // the stream was trimmed past the next read
    std::int64_t lastReadTime = 0;  // seconds since the epoch of the last good read, 0: none
};

struct ShareCounters {
    std::atomic<std::uint64_t> published{0};
    std::atomic<std::uint64_t> received{0};
    std::atomic<std::uint64_t> droppedQueueFull{0};
    std::atomic<std::uint64_t> droppedBadMac{0};
    std::atomic<std::uint64_t> reconnects{0};
    std::atomic<std::uint64_t> missedLogoffWarnings{0};
    std::atomic<std::int64_t> lastReadTime{0};
};

// The process's counters; only farm sharing writes them.
ShareCounters& shareCounters();
ShareCounterSnapshot readShareCounters();

inline void countShare(std::atomic<std::uint64_t>& counter, std::uint64_t amount = 1) {
    counter.fetch_add(amount, std::memory_order_relaxed);
}
