// A block cut short inside its zero fill still carries an authentic packet;
// it must fail rather than come back as a shorter message.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "crypto/logoffCookiePipe_crypt.h"

namespace {

constexpr int kCapacity = 4096;

int fixedKey(unsigned char* key) {
    std::memset(key, 0x42, PIPE_KEY_SIZE);
    return 0;
}

std::string seal(const std::string& payload) {
    char* text = nullptr;
    int length = 0;
    EXPECT_EQ(encryptPipeDataWith(fixedKey, payload.data(), static_cast<int>(payload.size()), &text,
                                  &length, ENCRYPTION_KAE5),
              0);
    std::string sealed(text, static_cast<size_t>(length));
    std::free(text);
    return sealed;
}

struct Opened {
    int result;
    int length;
    std::string buffer;
};

Opened open(const std::string& text) {
    Opened opened{0, static_cast<int>(text.size()), std::string(kCapacity, '\xee')};
    std::memcpy(opened.buffer.data(), text.data(), text.size());
    opened.result = decryptPipeDataWith(fixedKey, opened.buffer.data(), &opened.length, kCapacity,
                                        ENCRYPTION_KAE5);
    return opened;
}

TEST(PipeEnvelopeCutShort, TextMissingPartOfItsZeroFillFailsWithTwoAndLeavesTheBufferAlone) {
    // A 988-byte add request: a 1018-byte packet in a 1037-byte block, 1384
    // characters. Cutting whole groups of four keeps the packet whole.
    std::string payload(988, 'a');
    std::string text = seal(payload);
    ASSERT_EQ(text.size(), 1384u);
    for (size_t cut : {4u, 8u, 20u}) {
        std::string shorter = text.substr(0, text.size() - cut);
        Opened opened = open(shorter);
        EXPECT_EQ(opened.result, 2) << cut;
        EXPECT_EQ(opened.length, static_cast<int>(shorter.size())) << cut;
        EXPECT_EQ(opened.buffer.substr(0, shorter.size()), shorter) << cut;
    }
}

TEST(PipeEnvelopeCutShort, WholeTextStillOpensToThePayloadAndOneZero) {
    std::string payload(988, 'a');
    Opened opened = open(seal(payload));
    ASSERT_EQ(opened.result, 0);
    EXPECT_EQ(opened.length, 989);
    EXPECT_EQ(opened.buffer.substr(0, 989), payload + std::string(1, '\0'));
}

}  // namespace
