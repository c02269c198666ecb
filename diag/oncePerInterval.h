// A line that an event may repeat thousands of times a second, said at most
// once an interval: the first occurrence is said at once, the ones after it
// only counted until the interval has passed.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>

class OncePerInterval {
  public:
    explicit constexpr OncePerInterval(std::int64_t intervalSeconds) : interval(intervalSeconds) {}

    // True when the line is due at `now` (seconds on any clock that does not
    // go back); `skipped` then gets the occurrences not said since the last
    // line. Of several threads at the same moment, one is told to say it.
    bool due(std::int64_t now, std::uint64_t& skipped) {
        std::int64_t previous = lastSaid.load(std::memory_order_relaxed);
        if ((previous != kNever && now - previous < interval) ||
            !lastSaid.compare_exchange_strong(previous, now, std::memory_order_relaxed)) {
            notSaid.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        skipped = notSaid.exchange(0, std::memory_order_relaxed);
        return true;
    }

    // due() at the monotonic clock's now, for a line that does not tell
    // how many it skipped.
    bool dueNow() {
        std::uint64_t skipped = 0;
        return due(monotonicNow(), skipped);
    }

    // Whether a line was said less than an interval before `now`; when not,
    // the next due() is true, as for a line never said.
    bool saidWithin(std::int64_t now) const {
        std::int64_t previous = lastSaid.load(std::memory_order_relaxed);
        return previous != kNever && now - previous < interval;
    }

    // Seconds on the monotonic clock: a clock set back must not silence the
    // line for as long as it was set back.
    static std::int64_t monotonicNow() {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return now.tv_sec;
    }

  private:
    static constexpr std::int64_t kNever = INT64_MIN;

    const std::int64_t interval;
    std::atomic<std::int64_t> lastSaid{kNever};
    std::atomic<std::uint64_t> notSaid{0};
};
