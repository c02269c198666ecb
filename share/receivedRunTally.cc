#include "share/receivedRunTally.h"

#include <algorithm>

#include "cache/cacheCeiling.h"

namespace {

constexpr std::int64_t kWindowSeconds = 60;
constexpr std::size_t kMostRunsCounted = 1024;
constexpr std::uint64_t kMinutesPerDay = 24 * 60;

}  // namespace

ReceivedRunTally::ReceivedRunTally(std::uint64_t fastPerMinute) : fastPerMinute(fastPerMinute) {}

std::optional<ReceivedRunTally::Flood> ReceivedRunTally::count(const ShareRunId& run,
                                                               std::int64_t now) {
    if (received == 0 || now - windowStart >= kWindowSeconds) {
        windowStart = now;
        received = 0;
        perRun.clear();
    }
    ++received;
    if (auto at = perRun.find(run); at != perRun.end()) {
        ++at->second;
    } else if (perRun.size() < kMostRunsCounted) {
        perRun.emplace(run, 1);
    }
    if (received < fastPerMinute || (lastDue && now - *lastDue < kWindowSeconds)) {
        return std::nullopt;
    }
    auto top = std::max_element(perRun.begin(), perRun.end(),
                                [](const auto& a, const auto& b) { return a.second < b.second; });
    Flood flood{received, now - windowStart, top->first, top->second};
    lastDue = now;
    received = 0;
    return flood;
}

std::uint64_t fastReceivedPerMinute() {
    return std::max<std::uint64_t>(1, logoffCookieCache_ceiling() / kMinutesPerDay);
}

ReceivedRunTally& receivedRunTally() {
    // Never destroyed: a static object would be, by whichever exit handler
    // comes first, while the receiver runs on until the thread registry's.
    static ReceivedRunTally* tally = new ReceivedRunTally(fastReceivedPerMinute());
    return *tally;
}
