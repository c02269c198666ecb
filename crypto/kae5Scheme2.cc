// Scheme 2: RC5-32/16/16 in CBC mode behind a per-packet random value, an
// 8-byte padding rule and a 10-byte HMAC-SHA-1 check value.
//
// Packet of T bytes for a payload of L bytes, P = 8 - L % 8, E = T - 10:
//   0: scheme   1..3: zero   4..7: T big-endian   8..E-1: cipher body
//   E..T-1: first 10 bytes of HMAC-SHA-1 over region start .. E-1
// The chained encryption runs over offsets 4..E-1 starting from the random
// value at 8..15; T then overwrites the first four cipher bytes. Decryption
// therefore starts its chain from the cipher bytes at 8..15 and only recovers
// the bytes from offset 16 on, which is all that carries meaning.
#include <cstdlib>
#include <cstring>

#include "crypto/byteOrder.h"
#include "crypto/hmacSha1.h"
#include "crypto/kae5Random.h"
#include "crypto/kae5Schemes.h"
#include "crypto/secureMemory.h"

namespace {

constexpr uint8_t kCipherKeyLabel[8] = {0x5a, 0x0c, 0x93, 0xe1, 0xb7, 0x46, 0x2d, 0xf8};
constexpr uint8_t kMacKeyLabel[8] = {0xc4, 0x1e, 0x7b, 0x29, 0x90, 0xf3, 0xa6, 0x5d};
constexpr uint32_t kMaxKeyBytes = 16;
constexpr uint32_t kRandomOffset = 8;
constexpr uint32_t kChainStart = 4;

KAE5_scheme2Context* scheme2(KAE5_context* context) {
    return reinterpret_cast<KAE5_scheme2Context*>(context);
}

// SHA-1 of the key followed by a label: the label keeps the cipher key and
// the MAC key apart although both come from the same pipe key.
void deriveFromKey(const uint8_t* key, uint32_t keyLen, const uint8_t label[8],
                   uint8_t out[kSha1DigestSize]) {
    SHA1_context sha;
    SHA1_init(&sha);
    SHA1_update(&sha, key, keyLen);
    SHA1_update(&sha, label, 8);
    SHA1_final(&sha, out);
    secureZero(&sha, sizeof sha);
}

int create(unsigned int scheme, const KAE5_buffer* key, KAE5_context** context) {
    if (!KAE5_bufferIsValid(key)) {
        return KAE5_BAD_DESCRIPTOR;
    }
    auto* created = static_cast<KAE5_scheme2Context*>(std::calloc(1, sizeof(KAE5_scheme2Context)));
    if (created == nullptr) {
        return KAE5_NO_MEMORY;
    }
    created->base.scheme = static_cast<int32_t>(scheme);
    uint32_t keyLen = key->dataLength < kMaxKeyBytes ? key->dataLength : kMaxKeyBytes;

    uint8_t derived[kSha1DigestSize];
    deriveFromKey(key->dataStart, keyLen, kCipherKeyLabel, derived);
    if (RC5_setKey(&created->rc5, derived) != 0) {
        secureZero(derived, sizeof derived);
        secureZero(created, sizeof *created);
        std::free(created);
        return KAE5_KEY_SCHEDULE;
    }
    deriveFromKey(key->dataStart, keyLen, kMacKeyLabel, derived);
    hmacSha1Pads(derived, 16, created->innerPad, created->outerPad);
    secureZero(derived, sizeof derived);
    *context = &created->base;
    return KAE5_OK;
}

// Bytes from the region start to `end`: what the check value covers.
uint32_t checkedLength(const KAE5_buffer* buffer, const uint8_t* end) {
    return static_cast<uint32_t>(end - buffer->regionStart);
}

int encrypt(KAE5_context* context, KAE5_buffer* buffer) {
    KAE5_scheme2Context* ctx = scheme2(context);
    if (!KAE5_bufferIsValid(buffer)) {
        return KAE5_BAD_DESCRIPTOR;
    }
    uint32_t length = buffer->dataLength;
    uint32_t padding = 8 - length % 8;
    if (KAE5_bytesFromDataStart(buffer) < uint64_t{length} + kKae5Overhead + padding) {
        return KAE5_NO_ROOM;
    }
    uint8_t* data = buffer->dataStart;
    std::memmove(data + kKae5HeaderSize, data, length);
    data[0] = static_cast<uint8_t>(ctx->base.scheme);
    data[1] = data[2] = data[3] = 0;

    KAE5_buffer random = {data + kRandomOffset, 8, data + kRandomOffset, 8};
    globalRandomBytes(&random);
    if (RC5_setChainValue(&ctx->rc5, data + kRandomOffset) != 0) {
        return KAE5_NO_CHAIN_VALUE;
    }

    uint32_t end = kKae5HeaderSize + length + padding;  // E, a multiple of 8
    std::memset(data + kKae5HeaderSize + length, static_cast<int>(padding), padding);
    // E - 4 is 4 past a multiple of 8: the last 4 bytes take the remaining-bytes rule.
    if (RC5_chainEncrypt(&ctx->rc5, data + kChainStart, end - kChainStart) != 0) {
        return KAE5_CHAIN_ENCRYPT;
    }
    uint32_t total = end + kKae5CheckSize;
    store32_be(data + 4, total);

    uint8_t check[kSha1DigestSize];
    hmacSha1(ctx->innerPad, ctx->outerPad, buffer->regionStart, checkedLength(buffer, data + end),
             check);
    std::memcpy(data + end, check, kKae5CheckSize);
    buffer->dataLength = total;
    return KAE5_OK;
}

int decrypt(KAE5_context* context, KAE5_buffer* buffer) {
    KAE5_scheme2Context* ctx = scheme2(context);
    uint32_t total = 0;
    int result = KAE5_readHeader(context, buffer, kKae5CheckSize, &total);
    if (result != KAE5_OK) {
        return result;
    }
    uint8_t* data = buffer->dataStart;
    buffer->dataLength = total - kKae5CheckSize;

    uint32_t end = total - kKae5CheckSize;
    uint8_t check[kSha1DigestSize];
    hmacSha1(ctx->innerPad, ctx->outerPad, buffer->regionStart, checkedLength(buffer, data + end),
             check);
    if (!constantTimeEqual(check, data + end, kKae5CheckSize)) {
        return KAE5_CHECK_MISMATCH;
    }
    // Only a key holder gets this far, yet no sender builds a packet below 34
    // bytes (an empty payload), and a shorter one could make the payload
    // length negative or its padding reach outside the packet.
    if (total < kKae5MinPacket) {
        return KAE5_BAD_LENGTH;
    }
    if (RC5_setChainValue(&ctx->rc5, data + kRandomOffset) != 0) {
        return KAE5_NO_CHAIN_VALUE;
    }
    if (RC5_chainDecrypt(&ctx->rc5, data + kChainStart, end - kChainStart) != 0) {
        return KAE5_CHAIN_DECRYPT;
    }
    uint32_t padding = data[end - 1];
    if (padding == 0 || padding > 8 || padding > total - kKae5Overhead) {
        return KAE5_BAD_LENGTH;
    }
    uint32_t length = total - kKae5Overhead - padding;
    std::memmove(data, data + kKae5HeaderSize, length);
    // length + 16 <= E - padding: the zeros stay inside the packet.
    std::memset(data + length, 0, kKae5HeaderSize);
    buffer->dataLength = length;
    return KAE5_OK;
}

int release(KAE5_context* context) {
    secureZero(context, sizeof(KAE5_scheme2Context));
    std::free(context);
    return KAE5_OK;
}

}  // namespace

const KAE5_scheme KAE5_scheme2 = {create, encrypt, decrypt, release};
