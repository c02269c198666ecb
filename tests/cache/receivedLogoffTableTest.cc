// The received logoffs grow a little at a time: every logoff is found
// before, during and after a growth, one held in the older table merges
// there, and the emptied older table comes back to the caller once only.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "cache/receivedLogoffTable.h"

namespace {

FarmLogoff logoffOf(std::uint32_t number, std::int32_t lastUse = 100) {
    FarmLogoff logoff;
    // The hash reads the first eight bytes: spread the number over them.
    for (std::size_t i = 0; i < 8; ++i) {
        logoff.identity[i] = static_cast<std::uint8_t>((number * 2654435761U) >> (i % 4 * 8));
    }
    logoff.identity[8] = static_cast<std::uint8_t>(number);
    logoff.identity[9] = static_cast<std::uint8_t>(number >> 8);
    logoff.times = {100, lastUse, 0, 0, 120, 0};
    return logoff;
}

void expectAllHeld(const ReceivedLogoffTable& table, std::uint32_t count, const char* when) {
    for (std::uint32_t i = 0; i < count; ++i) {
        ASSERT_TRUE(table.contains(logoffOf(i).identity)) << when << " " << i;
    }
    EXPECT_EQ(table.size(), count) << when;
}

TEST(ReceivedLogoffTable, GrowsAStepAtATimeAndFindsEveryLogoffThroughout) {
    ReceivedLogoffTable table;
    constexpr std::uint32_t kHeld = 300;
    int growths = 0;
    for (std::uint32_t i = 0; i < kHeld; ++i) {
        // Made beforehand, as the cache does with no hold; moved into one
        // entry per insert.
        table.insert(logoffOf(i), 1).reset();
        if (std::size_t entries = table.growthWanted()) {
            table.beginGrowth(ReceivedLogoffTable::makeTable(entries));
            ++growths;
        }
        if (i % 37 == 0) {
            expectAllHeld(table, i + 1, table.growing() ? "growing" : "between growths");
        }
    }
    EXPECT_GE(growths, 5);
    table.step(SIZE_MAX).reset();
    ASSERT_FALSE(table.growing());

    table.beginGrowth(ReceivedLogoffTable::makeTable(2 * kHeld));
    ASSERT_TRUE(table.growing());
    expectAllHeld(table, kHeld, "at the start");
    const std::size_t buckets = table.bucketCount();

    // A logoff held in the older table merges there: still one entry.
    table.insert(logoffOf(0, 500), 0).reset();
    EXPECT_EQ(table.size(), kHeld);
    std::int32_t lastUse = 0;
    table.forEach([&](const FarmIdentity& identity, const CookieTimes& times) {
        if (identity == logoffOf(0).identity) {
            lastUse = times.lastUseTime;
        }
    });
    EXPECT_EQ(lastUse, 500);

    std::unique_ptr<ReceivedLogoffTable::Map> drained;
    while (!drained) {
        drained = table.step(7);
    }
    EXPECT_TRUE(drained->empty());
    EXPECT_FALSE(table.growing());
    EXPECT_EQ(table.step(7), nullptr) << "nothing to hand back twice";
    EXPECT_EQ(table.bucketCount(), buckets);
    expectAllHeld(table, kHeld, "after");

    // Taking out leaves the rest; nothing is freed until `taken` goes.
    ReceivedLogoffTable::Taken taken;
    taken.reserve(2);
    table.takeOut(logoffOf(1).identity, taken);
    table.takeOut(logoffOf(1).identity, taken);
    EXPECT_EQ(taken.size(), 1u);
    EXPECT_FALSE(table.contains(logoffOf(1).identity));
    EXPECT_EQ(table.size(), kHeld - 1);
}

}  // namespace
