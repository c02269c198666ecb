#include "share/shareCounters.h"

#include <ctime>

ShareCounters& shareCounters() {
    static ShareCounters counters;
    return counters;
}

ShareCounterSnapshot readShareCounters() {
    const ShareCounters& c = shareCounters();
    constexpr auto relaxed = std::memory_order_relaxed;
    ShareCounterSnapshot s;
    s.published = c.published.load(relaxed);
    s.republished = c.republished.load(relaxed);
    s.incarnationChanges = c.incarnationChanges.load(relaxed);
    s.received = c.received.load(relaxed);
    s.droppedQueueFull = c.droppedQueueFull.load(relaxed);
    s.droppedBadMac = c.droppedBadMac.load(relaxed);
    s.droppedMalformed = c.droppedMalformed.load(relaxed);
    s.refusedPassing = c.refusedPassing.load(relaxed);
    s.refusedNeedsOperator = c.refusedNeedsOperator.load(relaxed);
    s.positionResets = c.positionResets.load(relaxed);
    s.publishingRefused = c.publishingRefused.load(relaxed);
    s.reconnects = c.reconnects.load(relaxed);
    s.missedLogoffWarnings = c.missedLogoffWarnings.load(relaxed);
    s.lastReadTime = c.lastReadTime.load(relaxed);
    s.startTime = c.startTime.load(relaxed);
    c.judged.sum(static_cast<std::int64_t>(std::time(nullptr)), s.readLastMinute,
                 s.badMacLastMinute);
    return s;
}

void ShareMinuteWindow::count(std::int64_t now, bool badMac) {
    constexpr auto relaxed = std::memory_order_relaxed;
    Slot& slot = slots_[now % kSeconds];
    if (slot.second.load(relaxed) != now) {
        slot.read.store(0, relaxed);
        slot.badMac.store(0, relaxed);
        slot.second.store(now, relaxed);
    }
    slot.read.fetch_add(1, relaxed);
    if (badMac) {
        slot.badMac.fetch_add(1, relaxed);
    }
}

void ShareMinuteWindow::sum(std::int64_t now, std::uint64_t& read, std::uint64_t& badMac) const {
    constexpr auto relaxed = std::memory_order_relaxed;
    read = 0;
    badMac = 0;
    for (const Slot& slot : slots_) {
        std::int64_t second = slot.second.load(relaxed);
        if (second >= 0 && now - second < kSeconds) {
            read += slot.read.load(relaxed);
            badMac += slot.badMac.load(relaxed);
        }
    }
}
