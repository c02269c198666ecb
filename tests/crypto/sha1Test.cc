#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto/hmacSha1.h"
#include "crypto/sha1.h"
#include "crypto/sha1Compress.h"
#include "tests/crypto/hex.h"

namespace {

using lctest::toHex;

struct Vector {
    std::string message;
    const char* digest;
};

// FIPS 180-1, appendices A and B, and the million-a message of appendix C.
const Vector kFipsVectors[] = {
    {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
};

std::string digestInPieces(const std::string& message, size_t piece) {
    SHA1_context ctx;
    SHA1_init(&ctx);
    for (size_t at = 0; at < message.size(); at += piece) {
        size_t len = std::min(piece, message.size() - at);
        EXPECT_EQ(SHA1_update(&ctx, message.data() + at, len), 0);
    }
    uint8_t digest[kSha1DigestSize];
    EXPECT_EQ(SHA1_final(&ctx, digest), 0);
    return toHex(digest, sizeof digest);
}

TEST(Sha1, PublishedVectorsInOneCall) {
    for (const Vector& v : kFipsVectors) {
        uint8_t digest[kSha1DigestSize];
        ASSERT_EQ(sha1Digest(v.message.data(), v.message.size(), digest), 0);
        EXPECT_EQ(toHex(digest, sizeof digest), v.digest) << v.message.substr(0, 20);
    }
}

TEST(Sha1, PiecesAroundTheBlockSizeGiveTheSameDigest) {
    for (const Vector& v : kFipsVectors) {
        for (size_t piece : {1, 63, 64, 65}) {
            if (piece == 1 && v.message.size() > 1000) {
                continue;  // a million single-byte updates add nothing but time
            }
            EXPECT_EQ(digestInPieces(v.message, piece), v.digest) << "pieces of " << piece;
        }
    }
}

TEST(Sha1, MessagesAroundThePaddingBoundary) {
    // 55 bytes pad within the block, 56 need a second one; 64 fills one exactly.
    const std::pair<size_t, const char*> cases[] = {
        {55, "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
        {56, "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
        {64, "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
    };
    for (auto [length, digest] : cases) {
        EXPECT_EQ(digestInPieces(std::string(length, 'a'), 7), digest) << length;
    }
}

TEST(Sha1, FinalStartsTheContextAfresh) {
    SHA1_context ctx;
    uint8_t digest[kSha1DigestSize];
    SHA1_init(&ctx);
    SHA1_update(&ctx, "garbage", 7);
    SHA1_final(&ctx, digest);
    SHA1_update(&ctx, "abc", 3);
    SHA1_final(&ctx, digest);
    EXPECT_EQ(toHex(digest, sizeof digest), kFipsVectors[0].digest);
}

TEST(Sha1, NullArgumentsAreReported) {
    SHA1_context ctx;
    uint8_t digest[kSha1DigestSize];
    EXPECT_EQ(SHA1_init(nullptr), -1);
    EXPECT_EQ(SHA1_update(nullptr, "a", 1), -1);
    EXPECT_EQ(SHA1_final(nullptr, digest), -1);
    SHA1_init(&ctx);
    EXPECT_EQ(SHA1_update(&ctx, nullptr, 1), -2);
    EXPECT_EQ(SHA1_final(&ctx, nullptr), -2);
    EXPECT_EQ(sha1Digest(nullptr, 0, digest), -2);
}

// The published vectors run through whichever block function this processor
// gets; this holds the other one to the same results.
TEST(Sha1, InstructionBasedBlockFunctionMatchesThePortableOne) {
    Sha1CompressFunction accelerated = sha1CompressAccelerated();
    if (accelerated == nullptr) {
        GTEST_SKIP() << "this processor has no SHA instructions";
    }
    std::mt19937 random(20240);
    for (size_t blocks : {0, 1, 2, 17}) {
        std::vector<uint8_t> data(blocks * kSha1BlockSize);
        for (uint8_t& byte : data) {
            byte = static_cast<uint8_t>(random());
        }
        uint32_t portable[5], instructions[5];
        for (uint32_t& word : portable) {
            word = static_cast<uint32_t>(random());
        }
        std::memcpy(instructions, portable, sizeof portable);
        sha1CompressPortable(portable, data.data(), blocks);
        accelerated(instructions, data.data(), blocks);
        EXPECT_EQ(std::memcmp(portable, instructions, sizeof portable), 0) << blocks << " blocks";
    }
}

struct HmacVector {
    std::vector<uint8_t> key;
    std::string data;
    const char* mac;
};

// RFC 2202, section 3: all seven HMAC-SHA-1 cases.
std::vector<HmacVector> rfc2202() {
    std::vector<uint8_t> key4;
    for (uint8_t b = 1; b <= 25; ++b) {
        key4.push_back(b);
    }
    std::vector<uint8_t> aa80(80, 0xaa);
    return {
        {std::vector<uint8_t>(20, 0x0b), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
        {{'J', 'e', 'f', 'e'},
         "what do ya want for nothing?",
         "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {std::vector<uint8_t>(20, 0xaa), std::string(50, '\xdd'),
         "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {key4, std::string(50, '\xcd'), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
        {std::vector<uint8_t>(20, 0x0c), "Test With Truncation",
         "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
        {aa80, "Test Using Larger Than Block-Size Key - Hash Key First",
         "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {aa80, "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    };
}

TEST(HmacSha1, Rfc2202VectorsThroughPrecomputedPads) {
    for (const HmacVector& v : rfc2202()) {
        uint8_t inner[kSha1BlockSize], outer[kSha1BlockSize], mac[kSha1DigestSize];
        ASSERT_EQ(hmacSha1Pads(v.key.data(), v.key.size(), inner, outer), 0);
        ASSERT_EQ(hmacSha1(inner, outer, v.data.data(), v.data.size(), mac), 0);
        EXPECT_EQ(toHex(mac, sizeof mac), v.mac) << v.data;
    }
}

TEST(HmacSha1, Rfc2202VectorsThroughAPreparedKeyWholeAndInPieces) {
    for (const HmacVector& v : rfc2202()) {
        HmacSha1Key key;
        ASSERT_EQ(hmacSha1KeyInit(&key, v.key.data(), v.key.size()), 0);
        uint8_t mac[kSha1DigestSize];
        ASSERT_EQ(hmacSha1Mac(&key, v.data.data(), v.data.size(), mac), 0);
        EXPECT_EQ(toHex(mac, sizeof mac), v.mac) << v.data;
        // Pieces of every size up to beyond a block, so that pieces end
        // inside, at and across block boundaries.
        for (size_t piece : {size_t{1}, size_t{7}, size_t{63}, size_t{64}, size_t{65}}) {
            HmacSha1Context context;
            ASSERT_EQ(hmacSha1Init(&context, &key), 0);
            for (size_t at = 0; at < v.data.size(); at += piece) {
                size_t length = std::min(piece, v.data.size() - at);
                ASSERT_EQ(hmacSha1Update(&context, v.data.data() + at, length), 0);
            }
            std::memset(mac, 0, sizeof mac);
            ASSERT_EQ(hmacSha1Final(&context, mac), 0);
            EXPECT_EQ(toHex(mac, sizeof mac), v.mac) << v.data << " in pieces of " << piece;
        }
        hmacSha1KeyWipe(&key);
    }
}

TEST(HmacSha1, KeyIsWipedAndAFinishedContextGivesNoSecondMac) {
    HmacSha1Key key;
    ASSERT_EQ(hmacSha1KeyInit(&key, "Jefe", 4), 0);
    HmacSha1Context context;
    ASSERT_EQ(hmacSha1Init(&context, &key), 0);
    uint8_t mac[kSha1DigestSize];
    ASSERT_EQ(hmacSha1Final(&context, mac), 0);
    EXPECT_EQ(hmacSha1Final(&context, mac), -1);
    EXPECT_EQ(hmacSha1Update(&context, "x", 1), -1);

    hmacSha1KeyWipe(&key);
    const HmacSha1Key zero{};
    EXPECT_EQ(std::memcmp(&key, &zero, sizeof key), 0);
}

TEST(HmacSha1, NullArgumentsOfAPreparedKeyAreReported) {
    HmacSha1Key key;
    HmacSha1Context context;
    uint8_t mac[kSha1DigestSize];
    EXPECT_EQ(hmacSha1KeyInit(nullptr, "k", 1), -1);
    EXPECT_EQ(hmacSha1KeyInit(&key, nullptr, 1), -2);
    EXPECT_EQ(hmacSha1Init(nullptr, &key), -1);
    EXPECT_EQ(hmacSha1Init(&context, nullptr), -1);
    ASSERT_EQ(hmacSha1KeyInit(&key, "k", 1), 0);
    EXPECT_EQ(hmacSha1Mac(nullptr, "x", 1, mac), -1);
    EXPECT_EQ(hmacSha1Mac(&key, nullptr, 1, mac), -2);
    EXPECT_EQ(hmacSha1Mac(&key, "x", 1, nullptr), -2);
    ASSERT_EQ(hmacSha1Init(&context, &key), 0);
    EXPECT_EQ(hmacSha1Final(&context, nullptr), -2);
}

TEST(HmacSha1, NullArgumentsAreReported) {
    uint8_t pad[kSha1BlockSize] = {}, mac[kSha1DigestSize];
    EXPECT_EQ(hmacSha1(nullptr, pad, "x", 1, mac), -1);
    EXPECT_EQ(hmacSha1(pad, nullptr, "x", 1, mac), -1);
    EXPECT_EQ(hmacSha1(pad, pad, nullptr, 1, mac), -2);
    EXPECT_EQ(hmacSha1(pad, pad, "x", 1, nullptr), -2);
}

}  // namespace
