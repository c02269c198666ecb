// SHA-1 (the Secure Hash Standard, FIPS 180-1), unchanged. Derives the pipe
// key and the packet cipher's keys, and underlies the packet check value.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kSha1DigestSize = 20;
constexpr size_t kSha1BlockSize = 64;

struct SHA1_context {
    uint32_t h[5];
    // Message length in bytes so far, a 64-bit count held high word first.
    uint32_t countHigh;
    uint32_t countLow;
    uint8_t buffer[kSha1BlockSize];  // the partial block, countLow % 64 bytes
};

// Each returns 0, -1 for a null context, -2 for a null data or output pointer.
int SHA1_init(SHA1_context* ctx);
int SHA1_update(SHA1_context* ctx, const void* data, size_t len);
// Writes the digest and starts the context afresh, ready for the next message.
int SHA1_final(SHA1_context* ctx, uint8_t out[kSha1DigestSize]);

// init, update and final in one call; the first non-zero result, else 0.
int sha1Digest(const void* data, size_t len, uint8_t out[kSha1DigestSize]);
