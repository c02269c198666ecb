#include "crypto/kae5Buffer.h"

bool KAE5_bufferIsValid(const KAE5_buffer* buffer) {
    if (buffer == nullptr || buffer->regionStart == nullptr || buffer->dataStart == nullptr) {
        return false;
    }
    auto region = reinterpret_cast<uintptr_t>(buffer->regionStart);
    auto data = reinterpret_cast<uintptr_t>(buffer->dataStart);
    if (data < region) {
        return false;
    }
    // Offsets rather than end pointers: region + capacity may lie past the
    // end of the address space when a caller passes a wild capacity.
    uint64_t dataOffset = data - region;
    return dataOffset + buffer->dataLength <= buffer->regionCapacity;
}
