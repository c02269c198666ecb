#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "crypto/rc5.h"
#include "tests/crypto/hex.h"

namespace {

using lctest::fromHex;
using lctest::toHex;

struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// The designer's published RC5-32/12/16 examples; each plaintext is the
// previous ciphertext.
const Vector kRc5_32_12_16[] = {
    {"00000000000000000000000000000000", "0000000000000000", "21a5dbee154b8f6d"},
    {"915f4619be41b2516355a50110a9ce91", "21a5dbee154b8f6d", "f7c013ac5b2b8952"},
    {"783348e75aeb0f2fd7b169bb8dc16787", "f7c013ac5b2b8952", "2f42b3b70369fc92"},
    {"dc49db1375a5584f6485b413b5f12baf", "2f42b3b70369fc92", "65c178b284d197cc"},
    {"5269f149d41ba0152497574d7f153125", "65c178b284d197cc", "eb44e415da319824"},
};

TEST(Rc5, PublishedTwelveRoundVectorsBothWays) {
    for (const Vector& v : kRc5_32_12_16) {
        RC5_keyTable<12> table;
        ASSERT_EQ(RC5_keySchedule<12>(fromHex(v.key).data(), &table), 0);
        std::vector<uint8_t> block = fromHex(v.plain);
        RC5_encryptBlock<12>(table, block.data());
        EXPECT_EQ(toHex(block), v.cipher) << v.key;
        RC5_decryptBlock<12>(table, block.data());
        EXPECT_EQ(toHex(block), v.plain) << v.key;
    }
}

TEST(Rc5, SixteenRoundBlocksRoundTripAndDifferFromTwelve) {
    std::vector<uint8_t> key = fromHex(kRc5_32_12_16[1].key);
    RC5_keyTable<16> table;
    ASSERT_EQ(RC5_keySchedule<16>(key.data(), &table), 0);
    std::vector<uint8_t> block = fromHex(kRc5_32_12_16[1].plain);
    RC5_encryptBlock<16>(table, block.data());
    EXPECT_NE(toHex(block), kRc5_32_12_16[1].cipher);
    RC5_decryptBlock<16>(table, block.data());
    EXPECT_EQ(toHex(block), kRc5_32_12_16[1].plain);
}

class Rc5Chain : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RC5_setKey(&state_, fromHex("000102030405060708090a0b0c0d0e0f").data()), 0);
    }
    std::vector<uint8_t> run(bool encrypt, std::vector<uint8_t> data) {
        RC5_setChainValue(&state_, iv_);
        int result = encrypt ? RC5_chainEncrypt(&state_, data.data(), data.size())
                             : RC5_chainDecrypt(&state_, data.data(), data.size());
        EXPECT_EQ(result, 0);
        return data;
    }

    RC5_state state_;
    const uint8_t iv_[8] = {1, 2, 3, 4, 5, 6, 7, 8};
};

TEST_F(Rc5Chain, RoundTripsAnyLengthIncludingRemainingBytes) {
    for (size_t length : {0, 3, 8, 12, 20, 1020}) {
        std::vector<uint8_t> plain(length);
        for (size_t i = 0; i < length; ++i) {
            plain[i] = static_cast<uint8_t>(i * 7);
        }
        std::vector<uint8_t> cipher = run(true, plain);
        if (length > 0) {
            EXPECT_NE(cipher, plain) << length;
        }
        EXPECT_EQ(run(false, cipher), plain) << length;
    }
}

TEST_F(Rc5Chain, BlocksAreChainedThroughThePreviousCipherBlock) {
    std::vector<uint8_t> twoEqualBlocks(16, 0x42);
    std::vector<uint8_t> cipher = run(true, twoEqualBlocks);
    EXPECT_NE(std::vector<uint8_t>(cipher.begin(), cipher.begin() + 8),
              std::vector<uint8_t>(cipher.begin() + 8, cipher.end()));

    // Block one by hand: E(P xor IV).
    std::vector<uint8_t> first(twoEqualBlocks.begin(), twoEqualBlocks.begin() + 8);
    for (int i = 0; i < 8; ++i) {
        first[i] ^= iv_[i];
    }
    RC5_encryptBlock<kRc5Rounds>(state_.table, first.data());
    EXPECT_EQ(first, std::vector<uint8_t>(cipher.begin(), cipher.begin() + 8));
}

TEST_F(Rc5Chain, RemainingBytesAreXoredWithTheEncryptedChainValue) {
    std::vector<uint8_t> cipher = run(true, std::vector<uint8_t>(12, 0));
    uint8_t stream[8];
    std::memcpy(stream, cipher.data(), 8);  // the chain value after block one
    RC5_encryptBlock<kRc5Rounds>(state_.table, stream);
    EXPECT_EQ(std::vector<uint8_t>(cipher.begin() + 8, cipher.end()),
              std::vector<uint8_t>(stream, stream + 4));
}

}  // namespace
