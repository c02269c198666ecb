// KAE5_decrypt_packet on packets that carry a correct check value around
// fuzzed bytes, so that what lies behind the check (the stated length, the
// chained decryption and the padding count) is reached on every input.
//
// Input:
//   byte 0   bit 0: the body is plaintext, enciphered here as the sender would
//                   (else it is taken as cipher bytes)
//            bit 1: the stated length comes from bytes 1 and 2 (else it fits the body)
//            bit 2: the fill after the packet is 0xa5 (else zero)
//   1..2     stated length choice, big-endian
//   3        fill bytes after the packet, modulo 64
//   4..      the body: packet offsets 8 to T - 11 (random value, payload and
//            padding count, in plaintext mode), zero-extended to the stated length
// In plaintext mode the outcome is fully known and checked: 25 for a packet
// shorter than 34 bytes or a padding count outside 1 to 8, otherwise the
// payload back with 16 zeros after it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/byteOrder.h"
#include "crypto/hmacSha1.h"
#include "crypto/kae5Schemes.h"
#include "tests/fuzz/fuzzKey.h"

namespace {

constexpr size_t kInputHeader = 4;
constexpr uint32_t kShortestBuildable = 18;  // header 8, check value 10
constexpr uint32_t kLongestStated = 4096;

struct Layout {
    bool plaintext;
    uint32_t stated;  // T
    uint32_t fill;
    uint8_t fillByte;
};

Layout readLayout(const uint8_t* data, size_t size) {
    uint32_t bodySize = static_cast<uint32_t>(size - kInputHeader);
    Layout layout;
    layout.plaintext = (data[0] & 1) != 0;
    uint32_t choice = (uint32_t{data[1]} << 8) | data[2];
    layout.stated = kShortestBuildable + ((data[0] & 2) != 0 ? choice % kLongestStated : bodySize);
    layout.fill = data[3] % 64;
    layout.fillByte = (data[0] & 4) != 0 ? 0xa5 : 0;
    return layout;
}

[[noreturn]] void fail() {
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kInputHeader || size > kInputHeader + kLongestStated) {
        return 0;
    }
    auto* context = reinterpret_cast<KAE5_scheme2Context*>(fuzzContext());
    const Layout layout = readLayout(data, size);
    const uint32_t stated = layout.stated;
    const uint32_t end = stated - kKae5CheckSize;  // E
    const size_t total = stated + layout.fill;

    std::vector<uint8_t> plain(end, 0);
    plain[0] = 2;
    size_t bodySize = size - kInputHeader;
    for (uint32_t i = 8; i < end && i - 8 < bodySize; ++i) {
        plain[i] = data[kInputHeader + i - 8];
    }

    auto* packet = static_cast<uint8_t*>(std::malloc(total));
    std::memcpy(packet, plain.data(), end);
    if (layout.plaintext) {
        RC5_setChainValue(&context->rc5, packet + 8);
        RC5_chainEncrypt(&context->rc5, packet + 4, end - 4);
    }
    store32_be(packet + 4, stated);
    uint8_t check[kSha1DigestSize];
    hmacSha1(context->innerPad, context->outerPad, packet, end, check);
    std::memcpy(packet + end, check, kKae5CheckSize);
    std::memset(packet + stated, layout.fillByte, layout.fill);

    KAE5_buffer buffer = {packet, static_cast<uint32_t>(total), packet,
                          static_cast<uint32_t>(total)};
    int result = KAE5_decrypt_packet(&context->base, &buffer);
    if (result != KAE5_OK && result != KAE5_BAD_LENGTH) {
        fail();
    }
    if (result == KAE5_OK) {
        if (buffer.dataLength + kKae5Overhead + 1 > stated) {
            fail();
        }
        for (uint32_t i = 0; i < kKae5HeaderSize; ++i) {
            if (packet[buffer.dataLength + i] != 0) {
                fail();
            }
        }
    }
    if (layout.plaintext) {
        uint32_t padding = end > 16 ? plain[end - 1] : 0;
        bool wellFormed = stated >= kKae5MinPacket && padding >= 1 && padding <= 8;
        if (!wellFormed) {
            if (result != KAE5_BAD_LENGTH) {
                fail();
            }
        } else {
            uint32_t length = stated - kKae5Overhead - padding;
            if (result != KAE5_OK || buffer.dataLength != length ||
                std::memcmp(packet, plain.data() + 16, length) != 0) {
                fail();
            }
        }
    }
    std::free(packet);
    return 0;
}
