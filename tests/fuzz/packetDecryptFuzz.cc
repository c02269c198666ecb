// KAE5_decrypt_packet over arbitrary packets under a fixed key. The packet
// fills a heap block of exactly its size, the region of the call, so nothing
// outside it may be touched. Only the documented codes may come back, and a
// success must leave a payload that fits the packet followed by 16 zeros.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "crypto/kae5Cipher.h"
#include "tests/fuzz/fuzzKey.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) {
        return 0;
    }
    auto* packet = static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size));
    if (size > 0) {
        std::memcpy(packet, data, size);
    }
    KAE5_buffer buffer = {packet, static_cast<uint32_t>(size), packet, static_cast<uint32_t>(size)};
    int result = KAE5_decrypt_packet(fuzzContext(), &buffer);
    switch (result) {
        case KAE5_OK: {
            uint32_t stated = (uint32_t{data[4]} << 24) | (uint32_t{data[5]} << 16) |
                              (uint32_t{data[6]} << 8) | data[7];
            // Payload and its 16 zeros stay inside the packet, before the check value.
            if (buffer.dataLength + kKae5Overhead + 1 > stated || stated > size) {
                std::abort();
            }
            for (uint32_t i = 0; i < kKae5HeaderSize; ++i) {
                if (packet[buffer.dataLength + i] != 0) {
                    std::abort();
                }
            }
            break;
        }
        case KAE5_CHECK_MISMATCH:
        case KAE5_SCHEME_MISMATCH:
        case KAE5_BAD_LENGTH:
            break;
        default:
            std::abort();
    }
    std::free(packet);
    return 0;
}
