// The state file's format: what is written comes back, and every kind of
// damage is refused.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "crypto/byteOrder.h"
#include "state/stateFormat.h"
#include "tests/crypto/hex.h"

namespace {

struct VectorSink : StateSink {
    std::vector<std::uint8_t> bytes;
    bool write(const std::uint8_t* data, std::size_t length) override {
        bytes.insert(bytes.end(), data, data + length);
        return true;
    }
};

const std::uint8_t kKeyBytes[kStateKeySize] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                                               11, 12, 13, 14, 15, 16, 17, 18, 19, 20};

CookieTimes timesFrom(std::int32_t base) {
    return {base, base + 1, -3600, 30, 480, 2};
}

class StateFormat : public ::testing::Test {
  protected:
    StateFormat() {
        header.cacheStartTime = 1'700'000'000;
        header.stopTime = 1'700'000'500;
        for (std::size_t i = 0; i < kLogoffCookieSaltSize; ++i) {
            header.salt[i] = static_cast<std::uint8_t>(i * 7);
        }
        header.position = {0x0123456789abcdefULL, 42};
        digest.fill(0xd1);
        farm.identity.fill(0xf2);
        farm.times = timesFrom(-5);
        queued.identity.fill(0x9a);
        queued.times = timesFrom(int32_t{-2147483647} - 1);
    }

    std::vector<std::uint8_t> encode(const StateKey& key) const {
        VectorSink sink;
        StateEncoder encoder(key, sink, header);
        encoder.cookies(2);
        encoder.cookie(digest, timesFrom(100));
        encoder.cookie(LogoffCookieDigest{}, timesFrom(200));
        encoder.farmLogoffs(1);
        encoder.farmLogoff(farm);
        encoder.queued(1);
        encoder.queuedLogoff(queued);
        EXPECT_TRUE(encoder.finish());
        return sink.bytes;
    }

    StateCheck check(const std::vector<std::uint8_t>& bytes, std::size_t size) const {
        StateView view;
        std::uint32_t version = 0;
        return checkStateFile(key, bytes.data(), size, view, version);
    }

    StateKey key{kKeyBytes};
    StateHeader header;
    LogoffCookieDigest digest;
    FarmLogoff farm;
    FarmLogoff queued;
};

void expectSameTimes(const CookieTimes& got, const CookieTimes& want) {
    EXPECT_EQ(got.creationTime, want.creationTime);
    EXPECT_EQ(got.lastUseTime, want.lastUseTime);
    EXPECT_EQ(got.timeOffset, want.timeOffset);
    EXPECT_EQ(got.idleTimeoutMinutes, want.idleTimeoutMinutes);
    EXPECT_EQ(got.maxLifetimeMinutes, want.maxLifetimeMinutes);
    EXPECT_EQ(got.cookieKind, want.cookieKind);
}

TEST_F(StateFormat, WhatIsWrittenComesBack) {
    std::vector<std::uint8_t> bytes = encode(key);
    EXPECT_EQ(bytes.size(), kStateHeaderSize + 3 * 4 + 4 * kStateRecordSize + kStateMacSize);

    StateView view;
    std::uint32_t version = 0;
    ASSERT_EQ(checkStateFile(key, bytes.data(), bytes.size(), view, version), StateCheck::Valid);
    EXPECT_EQ(view.header().cacheStartTime, header.cacheStartTime);
    EXPECT_EQ(view.header().stopTime, header.stopTime);
    EXPECT_EQ(std::memcmp(view.header().salt, header.salt, kLogoffCookieSaltSize), 0);
    EXPECT_EQ(view.header().position.milliseconds, header.position.milliseconds);
    EXPECT_EQ(view.header().position.sequence, header.position.sequence);

    ASSERT_EQ(view.cookieCount(), 2u);
    LogoffCookieDigest gotDigest;
    CookieTimes gotTimes;
    view.cookie(0, gotDigest, gotTimes);
    EXPECT_EQ(gotDigest, digest);
    expectSameTimes(gotTimes, timesFrom(100));
    view.cookie(1, gotDigest, gotTimes);
    EXPECT_EQ(gotDigest, LogoffCookieDigest{});
    expectSameTimes(gotTimes, timesFrom(200));

    FarmLogoff got;
    ASSERT_EQ(view.farmLogoffCount(), 1u);
    view.farmLogoff(0, got);
    EXPECT_EQ(got.identity, farm.identity);
    expectSameTimes(got.times, farm.times);
    ASSERT_EQ(view.queuedCount(), 1u);
    view.queuedLogoff(0, got);
    EXPECT_EQ(got.identity, queued.identity);
    expectSameTimes(got.times, queued.times);
}

// A state file written by an earlier release must verify after an update:
// the MAC over the fixture's file as the format's first encoder wrote it.
TEST_F(StateFormat, CheckValueIsTheOneEarlierReleasesWrote) {
    StateKey key(kKeyBytes);
    std::vector<std::uint8_t> bytes = encode(key);
    ASSERT_EQ(bytes.size(), 296u);
    EXPECT_EQ(lctest::toHex(bytes.data() + bytes.size() - kStateMacSize, kStateMacSize),
              "098fbde5494582e0dad19cbf56f39ee4bcdccde7");
}

TEST_F(StateFormat, EmptyStateIsValid) {
    VectorSink sink;
    StateEncoder encoder(key, sink, header);
    encoder.cookies(0);
    encoder.farmLogoffs(0);
    encoder.queued(0);
    ASSERT_TRUE(encoder.finish());
    EXPECT_EQ(check(sink.bytes, sink.bytes.size()), StateCheck::Valid);
}

TEST_F(StateFormat, CountNotKeptFailsTheEncoding) {
    VectorSink sink;
    StateEncoder encoder(key, sink, header);
    encoder.cookies(2);
    encoder.cookie(digest, timesFrom(1));
    encoder.farmLogoffs(0);
    encoder.queued(0);
    EXPECT_FALSE(encoder.finish());
}

TEST_F(StateFormat, EveryDamagedByteIsRefused) {
    std::vector<std::uint8_t> bytes = encode(key);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::vector<std::uint8_t> damaged = bytes;
        damaged[i] ^= 0x01;
        EXPECT_NE(check(damaged, damaged.size()), StateCheck::Valid) << "byte " << i;
    }
}

TEST_F(StateFormat, EveryTruncationIsRefused) {
    std::vector<std::uint8_t> bytes = encode(key);
    for (std::size_t size = 0; size < bytes.size(); ++size) {
        EXPECT_EQ(check(bytes, size), StateCheck::DoesNotVerify) << size << " bytes";
    }
    bytes.push_back(0);
    EXPECT_EQ(check(bytes, bytes.size()), StateCheck::DoesNotVerify) << "a byte too many";
}

TEST_F(StateFormat, FileUnderAnotherKeyIsRefused) {
    std::uint8_t otherBytes[kStateKeySize] = {};
    StateKey other(otherBytes);
    std::vector<std::uint8_t> bytes = encode(other);
    EXPECT_EQ(check(bytes, bytes.size()), StateCheck::DoesNotVerify);
}

TEST_F(StateFormat, OtherVersionIsToldApart) {
    std::vector<std::uint8_t> bytes = encode(key);
    store32_be(bytes.data() + 8, kStateFormatVersion + 1);
    StateView view;
    std::uint32_t version = 0;
    EXPECT_EQ(checkStateFile(key, bytes.data(), bytes.size(), view, version),
              StateCheck::OtherVersion);
    EXPECT_EQ(version, kStateFormatVersion + 1);
}

}  // namespace
