// HMAC-SHA-1 (RFC 2104) over pads that the caller keeps precomputed, so a
// context that checks many packets prepares its key once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/sha1.h"

// Builds the inner and outer pads of `key`: the key (hashed first when longer
// than a block) zero-extended to 64 bytes, XORed with 0x36 and 0x5c.
// Returns 0, -1 for a null pad, -2 for a null key with a non-zero length.
int hmacSha1Pads(const void* key, size_t keyLen, uint8_t innerPad[SHA1_BLOCK_SIZE],
                 uint8_t outerPad[SHA1_BLOCK_SIZE]);

// out = SHA-1(outer pad, SHA-1(inner pad, data)).
// Returns 0, -1 for a null pad, -2 for null data or output.
int hmacSha1(const uint8_t innerPad[SHA1_BLOCK_SIZE], const uint8_t outerPad[SHA1_BLOCK_SIZE],
             const void* data, size_t len, uint8_t out[SHA1_DIGEST_SIZE]);
