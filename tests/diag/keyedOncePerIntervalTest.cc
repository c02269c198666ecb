#include "diag/keyedOncePerInterval.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(KeyedOncePerInterval, EachKeyIsSaidAtMostOnceAnIntervalOfItsOwn) {
    KeyedOncePerInterval notes(60, 8);
    EXPECT_TRUE(notes.due("refused", 1000));
    EXPECT_FALSE(notes.due("refused", 1059));
    // Another key is not silenced by the first.
    EXPECT_TRUE(notes.due("away", 1059));
    EXPECT_TRUE(notes.due("refused", 1060));
    EXPECT_FALSE(notes.due("away", 1060));
    EXPECT_FALSE(notes.due("refused", 1119));
}

TEST(KeyedOncePerInterval, KeysBeyondTheRoomShareOneLineAndTakeNoMemory) {
    KeyedOncePerInterval notes(60, 2);
    EXPECT_TRUE(notes.due("a", 1000));
    EXPECT_TRUE(notes.due("b", 1030));
    // No room: both held keys were said within the interval. The first of
    // the keys beyond is said, the rest of that interval are not.
    EXPECT_TRUE(notes.due("c", 1040));
    for (int i = 0; i < 10'000; ++i) {
        EXPECT_FALSE(notes.due("distinct " + std::to_string(i), 1041)) << i;
    }
    EXPECT_EQ(notes.keysHeld(), 2u);
    EXPECT_FALSE(notes.due("b", 1041));

    // "a" was not said for an interval: its room goes to a new key, which
    // is said, while "b" keeps its own.
    EXPECT_TRUE(notes.due("d", 1060));
    EXPECT_FALSE(notes.due("d", 1061));
    EXPECT_FALSE(notes.due("b", 1060));
    EXPECT_EQ(notes.keysHeld(), 2u);
}

TEST(KeyedOncePerInterval, OfThreadsAtTheSameMomentOneSaysIt) {
    KeyedOncePerInterval notes(60, 4);
    std::atomic<int> said{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                said += notes.due("same", 1000) ? 1 : 0;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(said.load(), 1);
}

}  // namespace
