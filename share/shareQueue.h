// The logoffs waiting to be published, bounded: an add never waits for Redis,
// and a long outage costs at most SHARE_QUEUE_CAPACITY entries of memory.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

#include "cache/farmLogoff.h"

inline constexpr std::size_t SHARE_QUEUE_CAPACITY = 100000;

class ShareQueue {
  public:
    explicit ShareQueue(std::size_t capacity = SHARE_QUEUE_CAPACITY) : capacity_(capacity) {}

    // False when the queue is full and the logoff was dropped.
    bool push(const FarmLogoff& logoff);
    // Moves up to `most` logoffs to the end of `out`, waiting at most `wait`
    // for the first; returns how many.
    std::size_t popBatch(std::vector<FarmLogoff>& out, std::size_t most,
                         std::chrono::milliseconds wait);
    std::size_t size() const;

  private:
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<FarmLogoff> logoffs_;  // guarded by mutex_
};
