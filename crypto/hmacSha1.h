// HMAC-SHA-1 (RFC 2104). A key is prepared once, its pads absorbed into two
// hash states, so that each MAC under it costs only the blocks of its
// message; a MAC is then computed in one call or piece by piece.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/sha1.h"

// A key with its pads absorbed: as good as the key itself.
struct HmacSha1Key {
    SHA1_context innerStart;  // after the inner pad
    SHA1_context outerStart;  // after the outer pad
};

// One MAC being computed under a key, which must outlive it.
struct HmacSha1Context {
    SHA1_context inner;
    const HmacSha1Key* key;
};

// Builds the inner and outer pads of `key`: the key (hashed first when longer
// than a block) zero-extended to 64 bytes, XORed with 0x36 and 0x5c.
// Returns 0, -1 for a null pad, -2 for a null key with a non-zero length.
int hmacSha1Pads(const void* key, size_t keyLen, uint8_t innerPad[kSha1BlockSize],
                 uint8_t outerPad[kSha1BlockSize]);

// Prepares `out` from the key's bytes, or from pads made by hmacSha1Pads.
// Return 0, -1 for a null output or pad, -2 for a null key with a non-zero
// length. hmacSha1KeyWipe wipes a key when its use ends.
int hmacSha1KeyInit(HmacSha1Key* out, const void* key, size_t keyLen);
int hmacSha1KeyFromPads(HmacSha1Key* out, const uint8_t innerPad[kSha1BlockSize],
                        const uint8_t outerPad[kSha1BlockSize]);
void hmacSha1KeyWipe(HmacSha1Key* key);

// init, any number of updates, final; final writes the MAC and wipes the
// context. Each returns 0, -1 for a null context or key, -2 for null data
// or output.
int hmacSha1Init(HmacSha1Context* ctx, const HmacSha1Key* key);
int hmacSha1Update(HmacSha1Context* ctx, const void* data, size_t len);
int hmacSha1Final(HmacSha1Context* ctx, uint8_t out[kSha1DigestSize]);

// The MAC of `len` bytes at `data` under a prepared key, in one call.
// Returns 0, -1 for a null key, -2 for null data or output.
int hmacSha1Mac(const HmacSha1Key* key, const void* data, size_t len, uint8_t out[kSha1DigestSize]);

// out = SHA-1(outer pad, SHA-1(inner pad, data)).
// Returns 0, -1 for a null pad, -2 for null data or output.
int hmacSha1(const uint8_t innerPad[kSha1BlockSize], const uint8_t outerPad[kSha1BlockSize],
             const void* data, size_t len, uint8_t out[kSha1DigestSize]);
