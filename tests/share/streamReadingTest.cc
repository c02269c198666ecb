// Stream ids as Redis writes them, what the receiver learns from a reply it
// gave up, and where it reads on when its position is ahead of the stream.
#include <gtest/gtest.h>

#include "cache/logoffCookieAPI.h"
#include "share/receiverPosition.h"
#include "share/shareReceiver.h"
#include "share/streamFacts.h"

namespace {

TEST(StreamId, OnlyTwoDecimalNumbersJoinedByADashAreAnId) {
    EXPECT_EQ(parseStreamId("1700000000000-7"), (StreamId{1700000000000, 7}));
    EXPECT_EQ(parseStreamId("18446744073709551615-18446744073709551615"),
              (StreamId{UINT64_MAX, UINT64_MAX}));
    for (const char* text : {"", "-", "1-", "-1", "1", "1-2-3", "1 -2", "+1-2", "1-x",
                             "18446744073709551616-0", "0x1-0"}) {
        EXPECT_FALSE(parseStreamId(text).has_value()) << text;
    }
    EXPECT_LT((StreamId{5, 9}), (StreamId{6, 0}));
    EXPECT_EQ((StreamId{12, 3}).text(), "12-3");
}

TEST(StartPosition, ASavedIdWinsElseFiveMinutesBeforeTheCacheStarted) {
    EXPECT_EQ(shareStartPosition(1'700'000'300), "1700000000000-0");
    // Never before the epoch.
    EXPECT_EQ(shareStartPosition(kShareStartLookbackSeconds - 1), "0-0");
    EXPECT_EQ(shareStartPosition(-5), "0-0");

    initLogoffCookieCache();
    StreamId fromTheCache = *parseStreamId(shareStartPosition(getCacheStartTime()));
    EXPECT_EQ(shareReceiverStart(), fromTheCache);
    shareSetStartPosition("1700000000123-4");
    EXPECT_EQ(shareReceiverStart(), (StreamId{1700000000123, 4}));
    // A saved position that is no id is not read from.
    shareSetStartPosition("1700000000123");
    EXPECT_EQ(shareReceiverStart(), fromTheCache);
    shareSetStartPosition("");
}

RedisReplyPiece piece(int depth, int index, int parentIndex, std::string text) {
    RedisReplyPiece p;
    p.depth = depth;
    p.index = index;
    p.parentIndex = parentIndex;
    p.text = std::move(text);
    return p;
}

TEST(StreamFacts, IdsOfARangeGivenUpAreThoseReadUpToTheEntryAtFault) {
    // [[id1, [f, v]], [id2, <too large>]]: the field strings lie deeper.
    std::vector<RedisReplyPiece> pieces = {piece(2, 0, 0, "10-0"), piece(2, 0, 1, "11-0")};
    std::vector<StreamId> ids = entryIdsRead(pieces);
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_EQ(ids.back(), (StreamId{11, 0}));
}

StreamFacts factsAt(std::uint64_t serverMs, bool exists, StreamId last) {
    StreamFacts facts;
    facts.serverMs = serverMs;
    facts.exists = exists;
    facts.last = last;
    return facts;
}

TEST(ReadPosition, MovesBackOnlyWhenNewEntriesWouldPassItBy) {
    const std::uint64_t now = 1'800'000'000'000;
    const std::uint64_t lookback = kShareStartLookbackSeconds * 1000ULL;
    // The last entry read, or a start before the stream's last entry: kept.
    PositionCheck same = checkReadPosition({now - 5, 0}, factsAt(now, true, {now - 5, 0}));
    EXPECT_FALSE(same.reset);
    EXPECT_FALSE(checkReadPosition({now - 10, 0}, factsAt(now, true, {now - 900'000, 0})).reset);

    // A far-future id read, then the stream deleted: back to its start.
    PositionCheck deleted = checkReadPosition({4102444800000, 0}, factsAt(now, false, {}));
    EXPECT_TRUE(deleted.reset);
    EXPECT_TRUE(deleted.aheadOfClock);
    EXPECT_EQ(deleted.position, (StreamId{0, 0}));
    // Recreated since: what was added in the last minutes is read again.
    PositionCheck recreated =
        checkReadPosition({4102444800000, 0}, factsAt(now, true, {now - 10, 0}));
    EXPECT_TRUE(recreated.reset);
    EXPECT_EQ(recreated.position, (StreamId{now - lookback, 0}));
    // A quiet stream whose end lies before the lookback: its end.
    EXPECT_EQ(checkReadPosition({now + 5, 0}, factsAt(now, true, {now - 2 * lookback, 0})).position,
              (StreamId{now - 2 * lookback, 0}));

    // The stream's own ids ahead of the clock: said, nothing to move back to.
    PositionCheck futureStream =
        checkReadPosition({4102444800000, 0}, factsAt(now, true, {4102444800000, 0}));
    EXPECT_FALSE(futureStream.reset);
    EXPECT_TRUE(futureStream.aheadOfClock);
}

TEST(ReadPosition, AnotherRedisInstanceIsReadAgainFromTwoMinutesBefore) {
    const std::uint64_t now = 1'800'000'000'000;
    const std::uint64_t rewind = 120'000;
    static_assert(kShareInstanceRewind >= kShareRingKeep);
    // The position on the old instance, its entries ahead of the new one's
    // (the other side of a partition wrote there meanwhile).
    EXPECT_EQ(rewoundPosition({now - 5'000, 3}, now), (StreamId{now - 5'000 - rewind, 0}));
    // A position ahead of the new instance's clock: from its clock.
    EXPECT_EQ(rewoundPosition({4102444800000, 0}, now), (StreamId{now - rewind, 0}));
    // Never before the first id.
    EXPECT_EQ(rewoundPosition({60'000, 0}, now), (StreamId{0, 0}));
}

}  // namespace
