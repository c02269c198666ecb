#include "crypto/hmacSha1.h"

#include <cstring>

#include "crypto/secureMemory.h"

int hmacSha1Pads(const void* key, size_t keyLen, uint8_t innerPad[SHA1_BLOCK_SIZE],
                 uint8_t outerPad[SHA1_BLOCK_SIZE]) {
    if (innerPad == nullptr || outerPad == nullptr) {
        return -1;
    }
    if (key == nullptr && keyLen > 0) {
        return -2;
    }
    uint8_t block[SHA1_BLOCK_SIZE] = {};
    if (keyLen > SHA1_BLOCK_SIZE) {
        sha1Digest(key, keyLen, block);
    } else if (keyLen > 0) {
        std::memcpy(block, key, keyLen);
    }
    for (size_t i = 0; i < SHA1_BLOCK_SIZE; ++i) {
        innerPad[i] = block[i] ^ 0x36;
        outerPad[i] = block[i] ^ 0x5c;
    }
    secureZero(block, sizeof block);
    return 0;
}

int hmacSha1(const uint8_t innerPad[SHA1_BLOCK_SIZE], const uint8_t outerPad[SHA1_BLOCK_SIZE],
             const void* data, size_t len, uint8_t out[SHA1_DIGEST_SIZE]) {
    if (innerPad == nullptr || outerPad == nullptr) {
        return -1;
    }
    if (data == nullptr || out == nullptr) {
        return -2;
    }
    SHA1_context ctx;
    uint8_t inner[SHA1_DIGEST_SIZE];
    SHA1_init(&ctx);
    SHA1_update(&ctx, innerPad, SHA1_BLOCK_SIZE);
    SHA1_update(&ctx, data, len);
    SHA1_final(&ctx, inner);
    SHA1_update(&ctx, outerPad, SHA1_BLOCK_SIZE);
    SHA1_update(&ctx, inner, sizeof inner);
    SHA1_final(&ctx, out);
    secureZero(inner, sizeof inner);
    secureZero(&ctx, sizeof ctx);
    return 0;
}
