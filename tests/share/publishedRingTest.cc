#include "share/publishedRing.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = PublishedRing::Clock;

std::vector<FarmLogoff> numbered(std::uint8_t first, std::uint8_t count) {
    std::vector<FarmLogoff> logoffs(count);
    for (std::uint8_t i = 0; i < count; ++i) {
        logoffs[i].identity[0] = static_cast<std::uint8_t>(first + i);
    }
    return logoffs;
}

std::vector<int> firstBytes(const std::vector<FarmLogoff>& logoffs) {
    std::vector<int> bytes;
    for (const FarmLogoff& logoff : logoffs) {
        bytes.push_back(logoff.identity[0]);
    }
    return bytes;
}

TEST(PublishedRing, KeepsTheLastMinuteOfPublishingHoweverLongRedisWasAway) {
    PublishedRing ring(100, 60s);
    Clock::time_point start{};
    ring.add(numbered(1, 2), start);
    ring.add(numbered(3, 1), start + 30s);
    ring.add(numbered(4, 1), start + 61s);  // 1 and 2 are past their minute
    EXPECT_EQ(ring.size(), 2u);

    // An outage of ten minutes ages nothing out: 3 and 4 were the old
    // incarnation's last minute.
    EXPECT_EQ(firstBytes(ring.takeForRepublishing()), (std::vector<int>{3, 4}));
    // Published again, they keep their first time: given to one new
    // incarnation after another, they still age out as newer ones come.
    EXPECT_EQ(firstBytes(ring.takeForRepublishing()), (std::vector<int>{3, 4}));
    ring.add(numbered(5, 1), start + 700s);
    EXPECT_EQ(firstBytes(ring.takeForRepublishing()), (std::vector<int>{5}));
}

TEST(PublishedRing, CountBoundDropsTheOldestAndSaysHowMany) {
    PublishedRing ring(3, 60s);
    ring.add(numbered(1, 5), Clock::time_point{});
    EXPECT_EQ(firstBytes(ring.takeForRepublishing()), (std::vector<int>{3, 4, 5}));
    EXPECT_EQ(ring.overflowed(), 2u);
}

}  // namespace
