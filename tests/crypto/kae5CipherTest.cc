#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "crypto/byteOrder.h"
#include "crypto/hmacSha1.h"
#include "crypto/kae5Cipher.h"
#include "crypto/rc5.h"
#include "crypto/sha1.h"
#include "tests/crypto/hex.h"

namespace {

using Bytes = std::vector<uint8_t>;
using lctest::fromHex;
using lctest::toHex;

const Bytes kKey = fromHex("000102030405060708090a0b0c0d0e0f");

// The packet format written out a second time, independently of the library,
// so that the library's packets are checked against the format, not itself.
struct ReferenceKeys {
    explicit ReferenceKeys(const Bytes& key) {
        uint8_t digest[kSha1DigestSize];
        Bytes input = key;
        Bytes cipherLabel = fromHex("5a0c93e1b7462df8");
        input.insert(input.end(), cipherLabel.begin(), cipherLabel.end());
        sha1Digest(input.data(), input.size(), digest);
        RC5_setKey(&rc5, digest);
        input = key;
        Bytes macLabel = fromHex("c41e7b2990f3a65d");
        input.insert(input.end(), macLabel.begin(), macLabel.end());
        sha1Digest(input.data(), input.size(), digest);
        hmacSha1Pads(digest, 16, innerPad, outerPad);
    }
    Bytes check(const uint8_t* data, size_t len) const {
        uint8_t mac[kSha1DigestSize];
        hmacSha1(innerPad, outerPad, data, len, mac);
        return Bytes(mac, mac + 10);
    }

    RC5_state rc5;
    uint8_t innerPad[kSha1BlockSize];
    uint8_t outerPad[kSha1BlockSize];
};

// A packet whose offsets 8.. hold `plain` (random value, payload, padding)
// before encryption, stating `total` as its length (E + 10 unless given).
Bytes referencePacket(const Bytes& key, const Bytes& plain, uint32_t total = 0) {
    ReferenceKeys keys(key);
    uint32_t end = 8 + static_cast<uint32_t>(plain.size());
    Bytes packet(end + 10, 0);
    packet[0] = 2;
    std::copy(plain.begin(), plain.end(), packet.begin() + 8);
    if (end >= 16) {
        RC5_setChainValue(&keys.rc5, packet.data() + 8);
        RC5_chainEncrypt(&keys.rc5, packet.data() + 4, end - 4);
    }
    store32_be(packet.data() + 4, total != 0 ? total : end + 10);
    Bytes check = keys.check(packet.data(), end);
    std::copy(check.begin(), check.end(), packet.begin() + end);
    return packet;
}

// Checks a packet against the format and returns offsets 16..E-1 in clear.
Bytes referenceOpen(const Bytes& key, Bytes packet) {
    ReferenceKeys keys(key);
    uint32_t total = load32_be(packet.data() + 4);
    EXPECT_EQ(packet[0], 2);
    EXPECT_EQ(toHex(keys.check(packet.data(), total - 10)), toHex(packet.data() + total - 10, 10));
    RC5_setChainValue(&keys.rc5, packet.data() + 8);
    RC5_chainDecrypt(&keys.rc5, packet.data() + 4, total - 14);
    return Bytes(packet.begin() + 16, packet.begin() + total - 10);
}

class Kae5Packet : public ::testing::Test {
  protected:
    void SetUp() override { context_ = makeContext(kKey); }
    void TearDown() override { KAE5_free_context(context_); }

    static KAE5_context* makeContext(Bytes key, unsigned int scheme = 2) {
        KAE5_buffer keyBuffer = {key.data(), uint32_t(key.size()), key.data(),
                                 uint32_t(key.size())};
        KAE5_context* context = nullptr;
        EXPECT_EQ(KAE5_crypto_init_context(scheme, &keyBuffer, &context), KAE5_OK);
        return context;
    }

    // Encrypts `payload` in a buffer with `room` spare bytes; returns the packet.
    Bytes seal(const Bytes& payload, KAE5_context* context = nullptr, uint32_t room = 34) {
        Bytes region(payload.size() + room, 0xEE);
        std::copy(payload.begin(), payload.end(), region.begin());
        KAE5_buffer buffer = {region.data(), uint32_t(region.size()), region.data(),
                              uint32_t(payload.size())};
        EXPECT_EQ(KAE5_encrypt_packet(context ? context : context_, &buffer), KAE5_OK);
        region.resize(buffer.dataLength);
        return region;
    }

    // Decrypts `packet`; on success `packet` holds the buffer after the call.
    int open(Bytes& packet, uint32_t* length = nullptr, KAE5_context* context = nullptr) {
        KAE5_buffer buffer = {packet.data(), uint32_t(packet.size()), packet.data(),
                              uint32_t(packet.size())};
        int result = KAE5_decrypt_packet(context ? context : context_, &buffer);
        if (length != nullptr) {
            *length = buffer.dataLength;
        }
        return result;
    }

    KAE5_context* context_ = nullptr;
};

Bytes payloadOf(size_t length) {
    Bytes payload(length);
    for (size_t i = 0; i < length; ++i) {
        payload[i] = static_cast<uint8_t>('a' + i % 26);
    }
    return payload;
}

TEST_F(Kae5Packet, EmptyPayloadGivesA34BytePacketWithEightPaddingBytes) {
    Bytes packet = seal({});
    ASSERT_EQ(packet.size(), 34u);
    EXPECT_EQ(toHex(packet.data(), 8), "0200000000000022");
    EXPECT_EQ(referenceOpen(kKey, packet), Bytes(8, 8));
    uint32_t length = 99;
    EXPECT_EQ(open(packet, &length), KAE5_OK);
    EXPECT_EQ(length, 0u);
}

TEST_F(Kae5Packet, PaddingFillsToTheNextMultipleOfEightAndIsNeverEmpty) {
    for (size_t length : {1, 7, 8, 15, 16, 980}) {
        Bytes payload = payloadOf(length);
        Bytes packet = seal(payload);
        size_t padding = 8 - length % 8;
        ASSERT_EQ(packet.size(), length + 26 + padding) << length;
        Bytes expected = payload;
        expected.insert(expected.end(), padding, static_cast<uint8_t>(padding));
        EXPECT_EQ(referenceOpen(kKey, packet), expected) << length;
    }
}

TEST_F(Kae5Packet, RoundTripLeavesSixteenZerosAfterThePayload) {
    for (size_t length : {0, 4, 23, 980}) {
        Bytes payload = payloadOf(length);
        Bytes packet = seal(payload);
        uint32_t opened = 0;
        ASSERT_EQ(open(packet, &opened), KAE5_OK);
        ASSERT_EQ(opened, length);
        EXPECT_EQ(Bytes(packet.begin(), packet.begin() + length), payload);
        EXPECT_EQ(Bytes(packet.begin() + length, packet.begin() + length + 16), Bytes(16, 0));
    }
}

TEST_F(Kae5Packet, ReferencePacketDecrypts) {
    Bytes plain = fromHex("0001020304050607");  // random value
    Bytes payload = payloadOf(5);
    plain.insert(plain.end(), payload.begin(), payload.end());
    plain.insert(plain.end(), 3, 3);
    Bytes packet = referencePacket(kKey, plain);
    uint32_t length = 0;
    ASSERT_EQ(open(packet, &length), KAE5_OK);
    EXPECT_EQ(Bytes(packet.begin(), packet.begin() + length), payload);
}

// The worked examples of the protocol description; the second reaches the
// swap size and host name, and its pipe key is checked against the host facts
// in the host facts test.
TEST_F(Kae5Packet, DocumentedExamplePackets) {
    struct Example {
        const char* pipeKey;
        const char* plain;  // random value, payload, padding
        const char* packet;
        const char* payload;
    };
    const Example examples[] = {
        {"8f690efb83f463bba70ceb76947c8ba6",
         "0001020304050607"
         "01000000"
         "04040404",
         "020000000000002226a981d7245203b4a79b87655912f4276043fa7f845621ec005e", "01000000"},
        {"145cf76c81c30ca6a227fe2e457acf45",
         "f0e1d2c3b4a59687"
         "ffffffff"
         "04040404",
         "0200000000000022ed93b40e34eb600a202ccbf871519655fb1ccb22a4b468e88169", "ffffffff"},
    };
    for (const Example& example : examples) {
        const Bytes pipeKey = fromHex(example.pipeKey);
        Bytes packet = referencePacket(pipeKey, fromHex(example.plain));
        EXPECT_EQ(toHex(packet), example.packet);
        KAE5_context* context = makeContext(pipeKey);
        uint32_t length = 0;
        ASSERT_EQ(open(packet, &length, context), KAE5_OK) << example.packet;
        EXPECT_EQ(toHex(packet.data(), length), example.payload);
        KAE5_free_context(context);
    }
}

TEST_F(Kae5Packet, TwoEncryptionsDifferAndBothDecrypt) {
    Bytes payload = payloadOf(40);
    Bytes first = seal(payload);
    Bytes second = seal(payload);
    EXPECT_NE(Bytes(first.begin() + 8, first.end()), Bytes(second.begin() + 8, second.end()));
    uint32_t length = 0;
    ASSERT_EQ(open(first, &length), KAE5_OK);
    EXPECT_EQ(Bytes(first.begin(), first.begin() + length), payload);
    ASSERT_EQ(open(second, &length), KAE5_OK);
    EXPECT_EQ(Bytes(second.begin(), second.begin() + length), payload);
}

TEST_F(Kae5Packet, DataAfterThePacketIsIgnored) {
    Bytes payload = payloadOf(12);
    Bytes packet = seal(payload);
    packet.insert(packet.end(), 19, 0xAB);
    uint32_t length = 0;
    ASSERT_EQ(open(packet, &length), KAE5_OK);
    EXPECT_EQ(Bytes(packet.begin(), packet.begin() + length), payload);
}

TEST_F(Kae5Packet, EveryTamperedByteIsRefusedAndNothingIsDecrypted) {
    const Bytes packet = seal(payloadOf(12));
    for (size_t i = 0; i < packet.size(); ++i) {
        Bytes tampered = packet;
        tampered[i] ^= 0x10;
        Bytes before = tampered;
        uint32_t stated = load32_be(tampered.data() + 4);
        int expected = KAE5_CHECK_MISMATCH;
        if (i == 0) {
            expected = KAE5_SCHEME_MISMATCH;
        } else if (stated > tampered.size() || stated < 10) {
            expected = KAE5_BAD_LENGTH;
        }
        EXPECT_EQ(open(tampered), expected) << "byte " << i;
        EXPECT_EQ(tampered, before) << "byte " << i;
    }
}

TEST_F(Kae5Packet, ForeignKeyFailsTheCheckValue) {
    Bytes packet = seal(payloadOf(4));
    KAE5_context* other = makeContext(fromHex("ff0102030405060708090a0b0c0d0e0f"));
    uint32_t length = 0;
    EXPECT_EQ(open(packet, &length, other), KAE5_CHECK_MISMATCH);
    EXPECT_EQ(length, packet.size() - 10);  // the stated length minus the check value
    KAE5_free_context(other);
    EXPECT_EQ(open(packet), KAE5_OK);  // the first context is still usable
}

TEST_F(Kae5Packet, AuthenticPacketTooShortForItsHeaderIsRefused) {
    // Below 18 a packet's check value would have to cover its own header.
    for (uint32_t total : {18u, 20u, 33u}) {
        Bytes packet = referencePacket(kKey, Bytes(total - 18, 1));
        packet.insert(packet.end(), 8, 0xCC);  // guard bytes after the packet
        Bytes guard(packet.end() - 8, packet.end());
        EXPECT_EQ(open(packet), KAE5_BAD_LENGTH) << total;
        EXPECT_EQ(Bytes(packet.end() - 8, packet.end()), guard) << total;
    }
}

TEST_F(Kae5Packet, AuthenticPacketWithImpossiblePaddingIsRefused) {
    for (uint8_t padding : {0, 9, 255}) {
        Bytes plain = fromHex("0001020304050607");
        plain.insert(plain.end(), 16, padding);
        Bytes packet = referencePacket(kKey, plain);
        EXPECT_EQ(open(packet), KAE5_BAD_LENGTH) << int(padding);
    }
}

TEST_F(Kae5Packet, EncryptionNeedsRoomForHeaderPaddingAndCheckValue) {
    Bytes region(5 + 26 + 2, 0);  // 5 bytes need 3 of padding: one short
    KAE5_buffer buffer = {region.data(), uint32_t(region.size()), region.data(), 5};
    EXPECT_EQ(KAE5_encrypt_packet(context_, &buffer), KAE5_NO_ROOM);
    EXPECT_EQ(buffer.dataLength, 5u);
    region.push_back(0);
    buffer = {region.data(), uint32_t(region.size()), region.data(), 5};
    EXPECT_EQ(KAE5_encrypt_packet(context_, &buffer), KAE5_OK);
    EXPECT_EQ(buffer.dataLength, region.size());
}

TEST_F(Kae5Packet, InvalidDescriptorsAreRefused) {
    uint8_t region[64] = {};
    KAE5_buffer beforeRegion = {region + 1, 63, region, 0};
    KAE5_buffer pastEnd = {region, 64, region + 10, 55};
    KAE5_buffer noRegion = {nullptr, 64, region, 0};
    for (KAE5_buffer* buffer : {&beforeRegion, &pastEnd, &noRegion, (KAE5_buffer*)nullptr}) {
        EXPECT_EQ(KAE5_encrypt_packet(context_, buffer), KAE5_BAD_DESCRIPTOR);
        EXPECT_EQ(KAE5_decrypt_packet(context_, buffer), KAE5_BAD_DESCRIPTOR);
    }
    KAE5_context* context = nullptr;
    EXPECT_EQ(KAE5_crypto_init_context(2, &pastEnd, &context), KAE5_BAD_DESCRIPTOR);
    EXPECT_EQ(context, nullptr);
}

TEST_F(Kae5Packet, OnlySchemesOneAndTwoExist) {
    Bytes key = kKey;
    KAE5_buffer keyBuffer = {key.data(), 16, key.data(), 16};
    KAE5_context* context = nullptr;
    EXPECT_EQ(KAE5_crypto_init_context(0, &keyBuffer, &context), KAE5_BAD_SCHEME);
    EXPECT_EQ(KAE5_crypto_init_context(3, &keyBuffer, &context), KAE5_BAD_SCHEME);
    uint8_t data[40] = {};
    KAE5_buffer buffer = {data, 40, data, 0};
    EXPECT_EQ(KAE5_encrypt_packet(nullptr, &buffer), KAE5_BAD_SCHEME);
    EXPECT_EQ(KAE5_decrypt_packet(nullptr, &buffer), KAE5_BAD_SCHEME);
    EXPECT_EQ(KAE5_free_context(nullptr), KAE5_OK);
}

TEST_F(Kae5Packet, KeyIsCutToSixteenBytesAndAShortKeyIsUsedWhole) {
    Bytes longKey = kKey;
    longKey.insert(longKey.end(), {1, 2, 3, 4});
    KAE5_context* longContext = makeContext(longKey);
    Bytes packet = seal(payloadOf(9), longContext);
    EXPECT_EQ(open(packet), KAE5_OK);
    KAE5_free_context(longContext);

    Bytes shortKey(kKey.begin(), kKey.begin() + 8);
    KAE5_context* shortContext = makeContext(shortKey);
    Bytes zeroExtended = shortKey;
    zeroExtended.resize(16, 0);
    KAE5_context* extendedContext = makeContext(zeroExtended);
    packet = seal(payloadOf(9), shortContext);
    EXPECT_EQ(open(packet, nullptr, extendedContext), KAE5_CHECK_MISMATCH);
    EXPECT_EQ(open(packet, nullptr, shortContext), KAE5_OK);
    KAE5_free_context(shortContext);
    KAE5_free_context(extendedContext);
}

TEST_F(Kae5Packet, CheckValueCoversBytesBetweenRegionAndDataStart) {
    Bytes region(8 + 10 + 34, 0x11);
    KAE5_buffer buffer = {region.data(), uint32_t(region.size()), region.data() + 8, 10};
    ASSERT_EQ(KAE5_encrypt_packet(context_, &buffer), KAE5_OK);
    Bytes copy = region;
    uint32_t packetLength = buffer.dataLength;
    ASSERT_EQ(KAE5_decrypt_packet(context_, &buffer), KAE5_OK);
    EXPECT_EQ(buffer.dataLength, 10u);

    copy[3] ^= 1;  // outside the packet, inside the region
    buffer = {copy.data(), uint32_t(copy.size()), copy.data() + 8, packetLength};
    EXPECT_EQ(KAE5_decrypt_packet(context_, &buffer), KAE5_CHECK_MISMATCH);
}

class Kae5SchemeOne : public Kae5Packet {
  protected:
    void SetUp() override { context_ = makeContext({}, 1); }
};

TEST_F(Kae5SchemeOne, FramesThePayloadBehindAnEightByteHeader) {
    Bytes payload = payloadOf(5);
    Bytes packet = seal(payload, nullptr, 8);
    EXPECT_EQ(toHex(packet), "010000000000000d" + toHex(payload));
    uint32_t length = 0;
    ASSERT_EQ(open(packet, &length), KAE5_OK);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 5), payload);
    EXPECT_EQ(Bytes(packet.begin() + 5, packet.end()), Bytes(8, 0));
}

TEST_F(Kae5SchemeOne, StatedLengthMustFitTheData) {
    Bytes packet = seal(payloadOf(5), nullptr, 8);
    Bytes truncated(packet.begin(), packet.end() - 1);
    EXPECT_EQ(open(truncated), KAE5_BAD_LENGTH);
    Bytes tooShort = packet;
    tooShort[7] = 7;
    EXPECT_EQ(open(tooShort), KAE5_BAD_LENGTH);
    Bytes region(7, 0);
    KAE5_buffer noRoom = {region.data(), 7, region.data(), 0};
    EXPECT_EQ(KAE5_encrypt_packet(context_, &noRoom), KAE5_NO_ROOM);
}

TEST_F(Kae5SchemeOne, EachSchemeRefusesTheOthersPackets) {
    Bytes schemeOnePacket = seal(payloadOf(5), nullptr, 8);
    KAE5_context* schemeTwo = makeContext(kKey);
    EXPECT_EQ(open(schemeOnePacket, nullptr, schemeTwo), KAE5_SCHEME_MISMATCH);
    Bytes schemeTwoPacket = seal(payloadOf(5), schemeTwo);
    EXPECT_EQ(open(schemeTwoPacket), KAE5_SCHEME_MISMATCH);
    KAE5_free_context(schemeTwo);
}

}  // namespace
