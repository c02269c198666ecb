#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "crypto/kae5Random.h"
#include "tests/crypto/hex.h"

namespace {

using lctest::toHex;

std::string draw(KAE5_random* generator, uint32_t count) {
    std::vector<uint8_t> bytes(count);
    KAE5_buffer buffer = {bytes.data(), count, bytes.data(), count};
    EXPECT_EQ(randomBytes(generator, &buffer), 0);
    return toHex(bytes);
}

TEST(Add160, AllCarriesPropagateAndTheTopOneIsDropped) {
    std::vector<uint8_t> a(20, 0xff);
    std::vector<uint8_t> one(20, 0);
    one[19] = 1;
    add160(a.data(), a.size(), one.data());
    EXPECT_EQ(a, std::vector<uint8_t>(20, 0));
}

TEST(Add160, CarryMovesIntoTheByteBefore) {
    std::vector<uint8_t> a(20, 0), b(20, 0);
    a[18] = 0x01;
    a[19] = 0x80;
    b[19] = 0x80;
    add160(a.data(), a.size(), b.data());
    EXPECT_EQ(a[19], 0x00);
    EXPECT_EQ(a[18], 0x02);
    EXPECT_EQ(a[17], 0x00);
}

TEST(RandomBytes, DrawsFromAZeroStateFollowTheOutputBlocks) {
    KAE5_random generator = {};
    // SHA-1 of 20 zero bytes, then SHA-1 of the state after one step.
    EXPECT_EQ(draw(&generator, 8), "6768033e21646824");
    EXPECT_EQ(draw(&generator, 8), "7bd031a0a2d9876d");
    EXPECT_EQ(draw(&generator, 8), "79818f8f2be310f6");
    EXPECT_EQ(generator.pending, 16u);
}

TEST(RandomBytes, ManySmallDrawsEqualOneLargeDraw) {
    KAE5_random large = {}, small = {};
    std::string expected = draw(&large, 61);
    std::string pieces;
    for (uint32_t count : {1, 19, 20, 0, 21}) {
        pieces += draw(&small, count);
    }
    EXPECT_EQ(pieces, expected);
}

TEST(RandomBytes, NullGeneratorIsRefused) {
    uint8_t byte;
    KAE5_buffer buffer = {&byte, 1, &byte, 1};
    EXPECT_EQ(randomBytes(nullptr, &buffer), kKae5RandomNoGenerator);
}

std::string globalDraw() {
    uint8_t bytes[8];
    KAE5_buffer buffer = {bytes, 8, bytes, 8};
    EXPECT_EQ(globalRandomBytes(&buffer), 0);
    return toHex(bytes, 8);
}

TEST(GlobalRandom, IsSeededSoItDoesNotStartFromTheZeroState) {
    EXPECT_NE(globalDraw(), "6768033e21646824");
}

TEST(GlobalRandom, ConcurrentDrawsNeverRepeatAValue) {
    constexpr int kThreads = 4, kDraws = 2000;
    std::vector<std::vector<std::string>> drawn(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&drawn, t] {
            for (int i = 0; i < kDraws; ++i) {
                drawn[t].push_back(globalDraw());
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::set<std::string> distinct;
    for (const auto& values : drawn) {
        distinct.insert(values.begin(), values.end());
    }
    EXPECT_EQ(distinct.size(), size_t{kThreads * kDraws});
}

TEST(GlobalRandom, ForkedChildDrawsOtherValuesThanItsParent) {
    globalDraw();
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t child = fork();
    if (child == 0) {
        std::string value = globalDraw();
        ssize_t written = write(pipeFds[1], value.data(), value.size());
        _exit(written == static_cast<ssize_t>(value.size()) ? 0 : 1);
    }
    std::string parentValue = globalDraw();
    char childValue[16];
    ASSERT_EQ(read(pipeFds[0], childValue, sizeof childValue), 16);
    int status = 0;
    waitpid(child, &status, 0);
    close(pipeFds[0]);
    close(pipeFds[1]);
    EXPECT_NE(std::string(childValue, 16), parentValue);
}

}  // namespace
