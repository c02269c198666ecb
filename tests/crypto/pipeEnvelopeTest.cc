#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "crypto/base64.h"
#include "crypto/byteOrder.h"
#include "crypto/logoffCookiePipe_crypt.h"
#include "tests/support/traceCapture.h"

namespace {

using Messages = std::vector<std::string>;
constexpr int kCapacity = 4096;

int keyA(unsigned char* key) {
    std::memset(key, 0xA5, PIPE_KEY_SIZE);
    return 0;
}

int keyB(unsigned char* key) {
    std::memset(key, 0x5A, PIPE_KEY_SIZE);
    return 0;
}

int noKey(unsigned char*) {
    return 1;
}

std::string payloadOf(size_t length) {
    std::string payload(length, '\0');
    for (size_t i = 0; i < length; ++i) {
        payload[i] = static_cast<char>('A' + i % 26);
    }
    return payload;
}

std::string seal(const std::string& payload, PipeKeySource key = keyA) {
    char* out = nullptr;
    int outLen = 0;
    EXPECT_EQ(encryptPipeDataWith(key, payload.data(), static_cast<int>(payload.size()), &out,
                                  &outLen, ENCRYPTION_KAE5),
              0);
    std::string text(out, static_cast<size_t>(outLen));
    EXPECT_EQ(out[outLen], '\0');
    std::free(out);
    return text;
}

// The receiver's side: the text in a buffer of `capacity` bytes filled with 0xEE.
struct Received {
    explicit Received(const std::string& text, int capacity = kCapacity)
        : buffer(static_cast<size_t>(capacity), '\xEE') {
        std::memcpy(buffer.data(), text.data(), text.size());
        length = static_cast<int>(text.size());
    }
    int open(PipeKeySource key = keyA) {
        return decryptPipeDataWith(key, buffer.data(), &length, static_cast<int>(buffer.size()),
                                   ENCRYPTION_KAE5);
    }
    std::string buffer;
    int length;
};

std::vector<uint8_t> blockOf(const std::string& text) {
    std::vector<uint8_t> block(text.size());
    int length = static_cast<int>(block.size());
    EXPECT_EQ(base64Decode(text.data(), static_cast<int>(text.size()), block.data(), &length), 0);
    block.resize(static_cast<size_t>(length));
    return block;
}

TEST(PipeEnvelope, TextLengthDependsOnThePayloadLengthAlone) {
    const std::pair<size_t, size_t> sizes[] = {{0, 68}, {4, 72}, {980, 1372}, {988, 1384}};
    for (auto [payload, characters] : sizes) {
        EXPECT_EQ(seal(payloadOf(payload)).size(), characters) << payload;
    }
    EXPECT_EQ(seal("").substr(66), "==");
    EXPECT_EQ(seal("ping").substr(70), "A=");
}

TEST(PipeEnvelope, BlockIsThePacketFollowedByZeros) {
    std::vector<uint8_t> block = blockOf(seal("ping"));
    ASSERT_EQ(block.size(), 53u);
    EXPECT_EQ(block[0], 2);
    EXPECT_EQ(load32_be(block.data()) & 0xFFFFFF, 0u);
    EXPECT_EQ(load32_be(block.data() + 4), 34u);
    EXPECT_EQ(std::vector<uint8_t>(block.begin() + 34, block.end()), std::vector<uint8_t>(19, 0));
}

TEST(PipeEnvelope, ReceiverGetsThePayloadAZeroAndZerosToCapacity) {
    for (size_t length : {0, 4, 980}) {
        std::string payload = payloadOf(length);
        Received received(seal(payload));
        ASSERT_EQ(received.open(), 0) << length;
        ASSERT_EQ(received.length, static_cast<int>(length) + 1);
        EXPECT_EQ(received.buffer.substr(0, length), payload);
        EXPECT_EQ(received.buffer.substr(length), std::string(kCapacity - length, '\0'));
    }
}

// A block of up to 3072 bytes (a 4096-character text) is held on the stack,
// a longer one on the heap: messages on both sides of that bound, and one
// far beyond it, open, and under another key fail alike.
TEST(PipeEnvelope, MessagesBeyondTheLongestRequestOpenToo) {
    constexpr int kLargeCapacity = 16384;
    for (size_t length : {3023u, 3024u, 9000u}) {
        std::string payload = payloadOf(length);
        Received received(seal(payload), kLargeCapacity);
        ASSERT_EQ(received.open(), 0) << length;
        EXPECT_EQ(received.length, static_cast<int>(length) + 1);
        EXPECT_EQ(received.buffer.substr(0, length), payload);
        EXPECT_EQ(received.buffer.substr(length), std::string(kLargeCapacity - length, '\0'));

        Received foreign(seal(payload, keyB), kLargeCapacity);
        std::string before = foreign.buffer;
        EXPECT_EQ(foreign.open(), 2) << length;
        EXPECT_EQ(foreign.buffer, before);
    }
}

TEST(PipeEnvelope, NoKeyFailsWithOneAndTouchesNothing) {
    char sentinel = 's';
    char* out = &sentinel;
    int outLen = -7;
    EXPECT_EQ(encryptPipeDataWith(noKey, "ping", 4, &out, &outLen, ENCRYPTION_KAE5), 1);
    EXPECT_EQ(out, &sentinel);
    EXPECT_EQ(outLen, -7);

    Received received(seal("ping"));
    std::string before = received.buffer;
    EXPECT_EQ(received.open(noKey), 1);
    EXPECT_EQ(received.buffer, before);
    EXPECT_EQ(received.length, 72);
}

// The worked example of the protocol description for client writers.
int exampleKey(unsigned char* key) {
    const uint8_t bytes[PIPE_KEY_SIZE] = {0x8f, 0x69, 0x0e, 0xfb, 0x83, 0xf4, 0x63, 0xbb,
                                          0xa7, 0x0c, 0xeb, 0x76, 0x94, 0x7c, 0x8b, 0xa6};
    std::memcpy(key, bytes, PIPE_KEY_SIZE);
    return 0;
}

TEST(PipeEnvelope, DocumentedExampleReplyDecrypts) {
    Received received("AgAAAAAAACImqYHXJFIDtKebh2VZEvQnYEP6f4RWIewAXgAAAAAAAAAAAAAAAAAAAAAAAAA=");
    ASSERT_EQ(received.open(exampleKey), 0);
    EXPECT_EQ(received.length, 5);
    EXPECT_EQ(received.buffer.substr(0, 5), std::string("\x01\0\0\0\0", 5));
}

TEST(PipeEnvelope, TextThatIsNotBase64FailsWithTwo) {
    std::string text = seal("ping");
    lctest::TraceCapture trace;
    for (std::string bad :
         {text + "\n", text.substr(0, 71) + std::string(1, '\0'), "*" + text.substr(1),
          "\x80" + text.substr(1), text.substr(0, 68) + "=AAA"}) {
        Received received(bad);
        std::string before = received.buffer;
        EXPECT_EQ(received.open(), 2);
        EXPECT_EQ(received.buffer, before);
        EXPECT_EQ(received.length, static_cast<int>(bad.size()));
    }
    Messages messages = trace.messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(),
                         "logoffCookie -- decryptPipeData: Failed to convert data to base64"),
              5);
}

TEST(PipeEnvelope, TextFromAnotherKeyFailsWithTwoAndLeavesTheBufferAlone) {
    Received received(seal("ping", keyB));
    std::string before = received.buffer;
    lctest::TraceCapture trace;
    EXPECT_EQ(received.open(), 2);
    EXPECT_EQ(received.buffer, before);
    EXPECT_EQ(received.length, 72);
    EXPECT_EQ(trace.messages().back(),
              "logoffCookie -- decryptPipeData: KAE5_decrypt_packet failed with return code 21");
}

TEST(PipeEnvelope, AuthenticBlockTooShortForAMessageFailsWithTwo) {
    // 48 characters hold the whole 34-byte packet of an empty payload, but
    // only 36 of the 49 bytes of its block.
    Received received(seal("").substr(0, 48));
    std::string before = received.buffer;
    EXPECT_EQ(received.open(), 2);
    EXPECT_EQ(received.buffer, before);
    EXPECT_EQ(received.length, 48);
}

// A block cut short inside its zero fill still carries an authentic packet;
// it must fail rather than come back as a shorter message.
TEST(PipeEnvelopeCutShort, TextMissingPartOfItsZeroFillFailsWithTwoAndLeavesTheBufferAlone) {
    // A 988-byte add request: a 1018-byte packet in a 1037-byte block, 1384
    // characters. Cutting whole groups of four keeps the packet whole.
    std::string payload(988, 'a');
    std::string text = seal(payload);
    ASSERT_EQ(text.size(), 1384u);
    for (size_t cut : {4u, 8u, 20u}) {
        std::string shorter = text.substr(0, text.size() - cut);
        Received received(shorter);
        EXPECT_EQ(received.open(), 2) << cut;
        EXPECT_EQ(received.length, static_cast<int>(shorter.size())) << cut;
        EXPECT_EQ(received.buffer.substr(0, shorter.size()), shorter) << cut;
    }
}

TEST(PipeEnvelopeCutShort, WholeTextStillOpensToThePayloadAndOneZero) {
    std::string payload(988, 'a');
    Received received(seal(payload));
    ASSERT_EQ(received.open(), 0);
    EXPECT_EQ(received.length, 989);
    EXPECT_EQ(received.buffer.substr(0, 989), payload + std::string(1, '\0'));
}

TEST(PipeEnvelope, UnusableArgumentsAreRefused) {
    char* out = nullptr;
    int outLen = 0;
    EXPECT_EQ(encryptPipeDataWith(keyA, "x", -1, &out, &outLen, ENCRYPTION_KAE5), 3);
    EXPECT_EQ(encryptPipeDataWith(keyA, "x", 1, nullptr, &outLen, ENCRYPTION_KAE5), 3);
    EXPECT_EQ(out, nullptr);
    char text[8] = "AAAA";
    int len = 8;
    EXPECT_EQ(decryptPipeDataWith(keyA, text, &len, 4, ENCRYPTION_KAE5), 2);
    len = -4;
    EXPECT_EQ(decryptPipeDataWith(keyA, text, &len, 8, ENCRYPTION_KAE5), 2);
}

TEST(PipeEnvelope, TypeOnePassesPayloadsThrough) {
    char* out = nullptr;
    int outLen = 0;
    ASSERT_EQ(encryptPipeDataWith(noKey, "ping", 4, &out, &outLen, ENCRYPTION_NONE), 0);
    EXPECT_EQ(std::string(out, 5), std::string("ping\0", 5));
    EXPECT_EQ(outLen, 4);
    std::free(out);

    char buffer[16] = "plain text";
    int len = 10;
    EXPECT_EQ(decryptPipeDataWith(noKey, buffer, &len, sizeof buffer, ENCRYPTION_NONE), 0);
    EXPECT_EQ(std::string(buffer), "plain text");
    EXPECT_EQ(len, 10);
}

TEST(PipeEnvelope, AnyTypeButOneEncrypts) {
    char* out = nullptr;
    int outLen = 0;
    ASSERT_EQ(encryptPipeDataWith(keyA, "ping", 4, &out, &outLen, 7), 0);
    EXPECT_EQ(outLen, 72);
    Received received(std::string(out, 72));
    std::free(out);
    EXPECT_EQ(decryptPipeDataWith(keyA, received.buffer.data(), &received.length, kCapacity, 0), 0);
    EXPECT_EQ(received.buffer.substr(0, 4), "ping");
}

TEST(PipeEnvelope, TracesEachStepOfBothDirections) {
    lctest::TraceCapture trace;
    Received received(seal("ping"));
    ASSERT_EQ(received.open(), 0);
    EXPECT_EQ(trace.messages(),
              (Messages{
                  "logoffCookie -- encryptPipeData Entry",
                  "logoffCookie -- encryptPipeData: Got 4 bytes",
                  "logoffCookie -- encryptPipeData: Encryption Type is: 2",
                  "logoffCookie -- encryptPipeData: Encrypting data ping",
                  "logoffCookie -- encryptPipeData: KAE5_crypto_init_context succeded",
                  "logoffCookie -- encryptPipeData: Encrypted data - 72 bytes",
                  "logoffCookie -- encryptPipeData Exit",
                  "logoffCookie -- decryptPipeData Entry",
                  "logoffCookie -- decryptPipeData: Got 72 bytes",
                  "logoffCookie -- decryptPipeData: Encryption Type is: 2",
                  "logoffCookie -- decryptPipeData: Base 64 data size is 73 bytes",
                  "logoffCookie -- decryptPipeData: data to decrypt is 53 bytes",
                  "logoffCookie -- decryptPipeData: KAE5_crypto_init_context succeded.",
                  "logoffCookie -- decryptPipeData: decrypted data - 5 bytes",
                  "logoffCookie -- decryptPipeData Exit",
              }));
}

TEST(PipeEnvelope, ConnectionThreadsMayEncryptAndDecryptAtOnce) {
    constexpr int kThreads = 4, kRounds = 200;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&failures, t] {
            for (int i = 0; i < kRounds; ++i) {
                std::string payload = payloadOf(static_cast<size_t>(t * 37 + i));
                Received received(seal(payload));
                if (received.open() != 0 || received.buffer.substr(0, payload.size()) != payload) {
                    ++failures[t];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
}

}  // namespace
