#include "crypto/hmacSha1.h"

#include <cstring>

#include "crypto/secureMemory.h"

int hmacSha1Pads(const void* key, size_t keyLen, uint8_t innerPad[kSha1BlockSize],
                 uint8_t outerPad[kSha1BlockSize]) {
    if (innerPad == nullptr || outerPad == nullptr) {
        return -1;
    }
    if (key == nullptr && keyLen > 0) {
        return -2;
    }
    uint8_t block[kSha1BlockSize] = {};
    if (keyLen > kSha1BlockSize) {
        sha1Digest(key, keyLen, block);
    } else if (keyLen > 0) {
        std::memcpy(block, key, keyLen);
    }
    for (size_t i = 0; i < kSha1BlockSize; ++i) {
        innerPad[i] = block[i] ^ 0x36;
        outerPad[i] = block[i] ^ 0x5c;
    }
    secureZero(block, sizeof block);
    return 0;
}

int hmacSha1KeyFromPads(HmacSha1Key* out, const uint8_t innerPad[kSha1BlockSize],
                        const uint8_t outerPad[kSha1BlockSize]) {
    if (out == nullptr || innerPad == nullptr || outerPad == nullptr) {
        return -1;
    }
    SHA1_init(&out->innerStart);
    SHA1_update(&out->innerStart, innerPad, kSha1BlockSize);
    SHA1_init(&out->outerStart);
    SHA1_update(&out->outerStart, outerPad, kSha1BlockSize);
    return 0;
}

int hmacSha1KeyInit(HmacSha1Key* out, const void* key, size_t keyLen) {
    if (out == nullptr) {
        return -1;
    }
    uint8_t innerPad[kSha1BlockSize];
    uint8_t outerPad[kSha1BlockSize];
    int result = hmacSha1Pads(key, keyLen, innerPad, outerPad);
    if (result == 0) {
        result = hmacSha1KeyFromPads(out, innerPad, outerPad);
    }
    secureZero(innerPad, sizeof innerPad);
    secureZero(outerPad, sizeof outerPad);
    return result;
}

void hmacSha1KeyWipe(HmacSha1Key* key) {
    if (key != nullptr) {
        secureZero(key, sizeof *key);
    }
}

int hmacSha1Init(HmacSha1Context* ctx, const HmacSha1Key* key) {
    if (ctx == nullptr || key == nullptr) {
        return -1;
    }
    ctx->inner = key->innerStart;
    ctx->key = key;
    return 0;
}

int hmacSha1Update(HmacSha1Context* ctx, const void* data, size_t len) {
    if (ctx == nullptr || ctx->key == nullptr) {
        return -1;
    }
    return SHA1_update(&ctx->inner, data, len);
}

int hmacSha1Final(HmacSha1Context* ctx, uint8_t out[kSha1DigestSize]) {
    if (ctx == nullptr || ctx->key == nullptr) {
        return -1;
    }
    if (out == nullptr) {
        return -2;
    }
    uint8_t innerDigest[kSha1DigestSize];
    SHA1_final(&ctx->inner, innerDigest);
    SHA1_context outer = ctx->key->outerStart;
    SHA1_update(&outer, innerDigest, sizeof innerDigest);
    SHA1_final(&outer, out);
    secureZero(innerDigest, sizeof innerDigest);
    secureZero(&outer, sizeof outer);
    secureZero(ctx, sizeof *ctx);
    return 0;
}

int hmacSha1Mac(const HmacSha1Key* key, const void* data, size_t len,
                uint8_t out[kSha1DigestSize]) {
    if (key == nullptr) {
        return -1;
    }
    if (data == nullptr || out == nullptr) {
        return -2;
    }
    HmacSha1Context ctx;
    hmacSha1Init(&ctx, key);
    hmacSha1Update(&ctx, data, len);
    return hmacSha1Final(&ctx, out);
}

int hmacSha1(const uint8_t innerPad[kSha1BlockSize], const uint8_t outerPad[kSha1BlockSize],
             const void* data, size_t len, uint8_t out[kSha1DigestSize]) {
    if (innerPad == nullptr || outerPad == nullptr) {
        return -1;
    }
    if (data == nullptr || out == nullptr) {
        return -2;
    }
    HmacSha1Key key;
    hmacSha1KeyFromPads(&key, innerPad, outerPad);
    int result = hmacSha1Mac(&key, data, len, out);
    hmacSha1KeyWipe(&key);
    return result;
}
