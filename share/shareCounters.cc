#include "share/shareCounters.h"

ShareCounters& shareCounters() {
    static ShareCounters counters;
    return counters;
}

ShareCounterSnapshot readShareCounters() {
    const ShareCounters& c = shareCounters();
    constexpr auto relaxed = std::memory_order_relaxed;
    ShareCounterSnapshot s;
    s.published = c.published.load(relaxed);
    s.received = c.received.load(relaxed);
    s.droppedQueueFull = c.droppedQueueFull.load(relaxed);
    s.droppedBadMac = c.droppedBadMac.load(relaxed);
    s.reconnects = c.reconnects.load(relaxed);
    s.missedLogoffWarnings = c.missedLogoffWarnings.load(relaxed);
    s.lastReadTime = c.lastReadTime.load(relaxed);
    return s;
}
