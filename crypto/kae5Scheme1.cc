// Scheme 1: an 8-byte header (scheme, three zeros, total length) in front of
// the payload, which travels unprotected.
#include <cstdlib>
#include <cstring>

#include "crypto/byteOrder.h"
#include "crypto/kae5Schemes.h"
#include "crypto/secureMemory.h"

namespace {

constexpr uint32_t kHeaderSize = 8;

int create(unsigned int scheme, const KAE5_buffer*, KAE5_context** context) {
    auto* created = static_cast<KAE5_context*>(std::malloc(sizeof(KAE5_context)));
    if (created == nullptr) {
        return KAE5_NO_MEMORY;
    }
    created->scheme = static_cast<int32_t>(scheme);
    *context = created;
    return KAE5_OK;
}

int encrypt(KAE5_context* context, KAE5_buffer* buffer) {
    if (!KAE5_bufferIsValid(buffer)) {
        return KAE5_BAD_DESCRIPTOR;
    }
    uint32_t length = buffer->dataLength;
    if (KAE5_bytesFromDataStart(buffer) < uint64_t{length} + kHeaderSize) {
        return KAE5_NO_ROOM;
    }
    uint8_t* data = buffer->dataStart;
    std::memmove(data + kHeaderSize, data, length);
    data[0] = static_cast<uint8_t>(context->scheme);
    data[1] = data[2] = data[3] = 0;
    store32_be(data + 4, length + kHeaderSize);
    buffer->dataLength = length + kHeaderSize;
    return KAE5_OK;
}

int decrypt(KAE5_context* context, KAE5_buffer* buffer) {
    uint32_t total = 0;
    int result = KAE5_readHeader(context, buffer, kHeaderSize, &total);
    if (result != KAE5_OK) {
        return result;
    }
    uint8_t* data = buffer->dataStart;
    uint32_t payload = total - kHeaderSize;
    std::memmove(data, data + kHeaderSize, payload);
    // The header's 8 bytes now end the packet; zeroing them stays inside it.
    std::memset(data + payload, 0, kHeaderSize);
    buffer->dataLength = payload;
    return KAE5_OK;
}

int release(KAE5_context* context) {
    secureZero(&context->scheme, sizeof context->scheme);
    std::free(context);
    return KAE5_OK;
}

}  // namespace

const KAE5_scheme KAE5_scheme1 = {create, encrypt, decrypt, release};
