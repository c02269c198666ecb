#include "diag/shareMetrics.h"

#include <atomic>
#include <ctime>

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

std::atomic<std::uint64_t> totals[static_cast<unsigned>(ShareMetric::Count)];
std::atomic<bool> publishingRefused{false};
std::atomic<std::uint32_t> connectionsRefused{0};  // a bit per connection
std::atomic<bool> tlsRefused{false};
std::atomic<std::int64_t> lastReadTime{0};  // 0: no good read yet
std::atomic<std::int64_t> startTime{0};     // 0: sharing off

// Entries judged in the last minute, by second: written by the receiving
// thread alone, read by the metrics writer. A reading may miss the second
// being written; it is a gauge for alarms, not an account.
class MinuteWindow {
  public:
    void count(std::int64_t now, bool badHmac) {
        Slot& slot = slots_[now % kSeconds];
        if (slot.second.load(relaxed) != now) {
            slot.read.store(0, relaxed);
            slot.badHmac.store(0, relaxed);
            slot.second.store(now, relaxed);
        }
        slot.read.fetch_add(1, relaxed);
        if (badHmac) {
            slot.badHmac.fetch_add(1, relaxed);
        }
    }

    std::uint64_t sum(std::int64_t now, bool badHmacOnly) const {
        std::uint64_t total = 0;
        for (const Slot& slot : slots_) {
            std::int64_t second = slot.second.load(relaxed);
            if (second >= 0 && now - second < kSeconds) {
                total += (badHmacOnly ? slot.badHmac : slot.read).load(relaxed);
            }
        }
        return total;
    }

  private:
    struct Slot {
        std::atomic<std::int64_t> second{-1};
        std::atomic<std::uint64_t> read{0};
        std::atomic<std::uint64_t> badHmac{0};
    };
    static constexpr std::int64_t kSeconds = 60;
    Slot slots_[kSeconds];
};

MinuteWindow judged;

}  // namespace

void metrics_count(ShareMetric metric, std::uint64_t amount) {
    totals[static_cast<unsigned>(metric)].fetch_add(amount, relaxed);
}

std::uint64_t metrics_value(ShareMetric metric) {
    return totals[static_cast<unsigned>(metric)].load(relaxed);
}

std::int64_t metrics_value(ShareGauge gauge) {
    if (gauge == ShareGauge::PublishingRefused) {
        return publishingRefused.load(relaxed) || connectionsRefused.load(relaxed) != 0 ||
                       tlsRefused.load(relaxed)
                   ? 1
                   : 0;
    }
    std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    switch (gauge) {
        case ShareGauge::ReadLastMinute:
            return static_cast<std::int64_t>(judged.sum(now, false));
        case ShareGauge::BadHmacLastMinute:
            return static_cast<std::int64_t>(judged.sum(now, true));
        default:
            break;
    }
    // With sharing on and no read yet, the time since it started: a host
    // that never reaches Redis looks as stale as one that lost it.
    std::int64_t lastRead = lastReadTime.load(relaxed);
    if (lastRead == 0) {
        lastRead = startTime.load(relaxed);
    }
    return lastRead == 0 ? kMetricUnknown : now - lastRead;
}

void metrics_shareStarted(std::int64_t now) {
    startTime.store(now, relaxed);
}

void metrics_shareRead(std::int64_t now) {
    lastReadTime.store(now, relaxed);
}

void metrics_shareJudged(std::int64_t now, bool badHmac) {
    judged.count(now, badHmac);
}

void metrics_setPublishingRefused(bool refused) {
    publishingRefused.store(refused, relaxed);
}

void metrics_setConnectionRefused(unsigned slot, bool refused) {
    std::uint32_t bit = std::uint32_t{1} << (slot % kShareRefusedSlots);
    if (refused) {
        connectionsRefused.fetch_or(bit, relaxed);
    } else {
        connectionsRefused.fetch_and(~bit, relaxed);
    }
}

void metrics_setTlsRefused(bool refused) {
    tlsRefused.store(refused, relaxed);
}
