#include "crypto/byteOrder.h"
#include "crypto/kae5Schemes.h"

namespace {

// Scheme byte, three zeros, the total length big-endian.
constexpr uint32_t kHeaderSize = 8;

}  // namespace

int KAE5_readHeader(const KAE5_context* context, const KAE5_buffer* buffer, uint32_t minTotal,
                    uint32_t* total) {
    if (!KAE5_bufferIsValid(buffer)) {
        return KAE5_BAD_DESCRIPTOR;
    }
    const uint8_t* data = buffer->dataStart;
    const uint32_t available = buffer->dataLength;
    if (available == 0) {
        return KAE5_BAD_LENGTH;
    }
    if (data[0] != static_cast<uint8_t>(context->scheme)) {
        return KAE5_SCHEME_MISMATCH;
    }
    if (available < kHeaderSize) {
        return KAE5_BAD_LENGTH;
    }
    *total = load32_be(data + 4);
    return available < *total || *total < minTotal ? KAE5_BAD_LENGTH : KAE5_OK;
}
