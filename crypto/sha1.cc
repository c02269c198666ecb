#include "crypto/sha1.h"

#include <cstring>

#include "crypto/byteOrder.h"
#include "crypto/secureMemory.h"
#include "crypto/sha1Compress.h"

namespace {

constexpr uint32_t kInitial[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};

// The 80-word schedule is kept as a rolling window of 16 words: word t only
// needs words t-3, t-8, t-14 and t-16, and the small window stays in registers.
#define SHA1_W(t) (w[(t)&15])
#define SHA1_EXPAND(t) \
    (SHA1_W(t) = rotl32(SHA1_W((t) + 13) ^ SHA1_W((t) + 8) ^ SHA1_W((t) + 2) ^ SHA1_W(t), 1))

#define SHA1_F1(b, c, d) (((c) ^ (d)) & (b)) ^ (d)
#define SHA1_F2(b, c, d) ((b) ^ (c) ^ (d))
#define SHA1_F3(b, c, d) (((b) & (c)) | (((b) | (c)) & (d)))

#define SHA1_ROUND(a, b, c, d, e, f, k, word)        \
    e += rotl32(a, 5) + (f(b, c, d)) + (k) + (word); \
    b = rotl32(b, 30);

#define SHA1_FIRST(a, b, c, d, e, t) SHA1_ROUND(a, b, c, d, e, SHA1_F1, 0x5A827999, SHA1_W(t))
#define SHA1_R1(a, b, c, d, e, t) SHA1_ROUND(a, b, c, d, e, SHA1_F1, 0x5A827999, SHA1_EXPAND(t))
#define SHA1_R2(a, b, c, d, e, t) SHA1_ROUND(a, b, c, d, e, SHA1_F2, 0x6ED9EBA1, SHA1_EXPAND(t))
#define SHA1_R3(a, b, c, d, e, t) SHA1_ROUND(a, b, c, d, e, SHA1_F3, 0x8F1BBCDC, SHA1_EXPAND(t))
#define SHA1_R4(a, b, c, d, e, t) SHA1_ROUND(a, b, c, d, e, SHA1_F2, 0xCA62C1D6, SHA1_EXPAND(t))

// Five rounds rotate the roles of the working variables back to the start.
#define SHA1_FIVE(R, t)        \
    R(a, b, c, d, e, (t));     \
    R(e, a, b, c, d, (t) + 1); \
    R(d, e, a, b, c, (t) + 2); \
    R(c, d, e, a, b, (t) + 3); \
    R(b, c, d, e, a, (t) + 4);

}  // namespace

void sha1CompressPortable(uint32_t h[5], const uint8_t* data, size_t blocks) {
    uint32_t w[16];
    for (; blocks > 0; --blocks, data += kSha1BlockSize) {
        for (int i = 0; i < 16; ++i) {
            w[i] = load32_be(data + 4 * i);
        }
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        SHA1_FIVE(SHA1_FIRST, 0)
        SHA1_FIVE(SHA1_FIRST, 5)
        SHA1_FIVE(SHA1_FIRST, 10)
        SHA1_FIRST(a, b, c, d, e, 15)
        SHA1_R1(e, a, b, c, d, 16)
        SHA1_R1(d, e, a, b, c, 17)
        SHA1_R1(c, d, e, a, b, 18)
        SHA1_R1(b, c, d, e, a, 19)
        SHA1_FIVE(SHA1_R2, 20)
        SHA1_FIVE(SHA1_R2, 25)
        SHA1_FIVE(SHA1_R2, 30)
        SHA1_FIVE(SHA1_R2, 35)
        SHA1_FIVE(SHA1_R3, 40)
        SHA1_FIVE(SHA1_R3, 45)
        SHA1_FIVE(SHA1_R3, 50)
        SHA1_FIVE(SHA1_R3, 55)
        SHA1_FIVE(SHA1_R4, 60)
        SHA1_FIVE(SHA1_R4, 65)
        SHA1_FIVE(SHA1_R4, 70)
        SHA1_FIVE(SHA1_R4, 75)
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
    // The schedule is derived from the message, which may be key material.
    secureZero(w, sizeof w);
}

namespace {

// The processor's SHA instructions where it has them, chosen once.
void compress(uint32_t h[5], const uint8_t* data, size_t blocks) {
    static const Sha1CompressFunction chosen =
        sha1CompressAccelerated() != nullptr ? sha1CompressAccelerated() : sha1CompressPortable;
    chosen(h, data, blocks);
}

void addToCount(SHA1_context* ctx, size_t len) {
    uint64_t count = (uint64_t{ctx->countHigh} << 32) | ctx->countLow;
    count += len;
    ctx->countHigh = static_cast<uint32_t>(count >> 32);
    ctx->countLow = static_cast<uint32_t>(count);
}

}  // namespace

int SHA1_init(SHA1_context* ctx) {
    if (ctx == nullptr) {
        return -1;
    }
    std::memcpy(ctx->h, kInitial, sizeof kInitial);
    ctx->countHigh = 0;
    ctx->countLow = 0;
    secureZero(ctx->buffer, sizeof ctx->buffer);
    return 0;
}

int SHA1_update(SHA1_context* ctx, const void* data, size_t len) {
    if (ctx == nullptr) {
        return -1;
    }
    if (data == nullptr) {
        return -2;
    }
    const auto* in = static_cast<const uint8_t*>(data);
    size_t buffered = ctx->countLow % kSha1BlockSize;
    addToCount(ctx, len);

    if (buffered > 0) {
        size_t fill = kSha1BlockSize - buffered;
        if (len < fill) {
            std::memcpy(ctx->buffer + buffered, in, len);
            return 0;
        }
        std::memcpy(ctx->buffer + buffered, in, fill);
        compress(ctx->h, ctx->buffer, 1);
        in += fill;
        len -= fill;
    }
    // Whole blocks are hashed straight from the caller's memory.
    size_t blocks = len / kSha1BlockSize;
    compress(ctx->h, in, blocks);
    in += blocks * kSha1BlockSize;
    len -= blocks * kSha1BlockSize;
    std::memcpy(ctx->buffer, in, len);
    return 0;
}

int SHA1_final(SHA1_context* ctx, uint8_t out[kSha1DigestSize]) {
    if (ctx == nullptr) {
        return -1;
    }
    if (out == nullptr) {
        return -2;
    }
    size_t buffered = ctx->countLow % kSha1BlockSize;
    uint32_t bitsHigh = (ctx->countHigh << 3) | (ctx->countLow >> 29);
    uint32_t bitsLow = ctx->countLow << 3;

    ctx->buffer[buffered++] = 0x80;
    if (buffered > kSha1BlockSize - 8) {
        std::memset(ctx->buffer + buffered, 0, kSha1BlockSize - buffered);
        compress(ctx->h, ctx->buffer, 1);
        buffered = 0;
    }
    std::memset(ctx->buffer + buffered, 0, kSha1BlockSize - 8 - buffered);
    store32_be(ctx->buffer + 56, bitsHigh);
    store32_be(ctx->buffer + 60, bitsLow);
    compress(ctx->h, ctx->buffer, 1);

    for (int i = 0; i < 5; ++i) {
        store32_be(out + 4 * i, ctx->h[i]);
    }
    return SHA1_init(ctx);
}

int sha1Digest(const void* data, size_t len, uint8_t out[kSha1DigestSize]) {
    SHA1_context ctx;
    int result = SHA1_init(&ctx);
    if (result == 0) {
        result = SHA1_update(&ctx, data, len);
    }
    if (result == 0) {
        result = SHA1_final(&ctx, out);
    }
    secureZero(&ctx, sizeof ctx);
    return result;
}
