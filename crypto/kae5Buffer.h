// The buffer descriptor every packet cipher and generator call works through:
// a region the call may use and the data that lies inside it.
#pragma once

#include <cstdint>

struct KAE5_buffer {
    uint8_t* regionStart;     // first byte the call may use
    uint32_t regionCapacity;  // bytes usable from regionStart
    uint8_t* dataStart;       // first data byte, inside the region
    uint32_t dataLength;      // data bytes; encryption and decryption rewrite it
};

// True when `buffer` is not null, both pointers are set, the data starts
// inside the region and does not reach past its end.
bool KAE5_bufferIsValid(const KAE5_buffer* buffer);

// Bytes from dataStart to the end of the region; only for a valid buffer.
inline uint64_t KAE5_bytesFromDataStart(const KAE5_buffer* buffer) {
    return buffer->regionCapacity - uint64_t(buffer->dataStart - buffer->regionStart);
}
