#include "crypto/rc5.h"

#include <cstring>

#include "crypto/byteOrder.h"
#include "crypto/secureMemory.h"

namespace {

constexpr uint32_t kP32 = 0xB7E15163;
constexpr uint32_t kQ32 = 0x9E3779B9;
constexpr int kKeyWords = kRc5KeySize / 4;

template <int Rounds>
inline void encryptWords(const RC5_keyTable<Rounds>& table, uint32_t& a, uint32_t& b) {
    const uint32_t* s = table.S;
    a += s[0];
    b += s[1];
    for (int i = 1; i <= Rounds; ++i) {
        a = rotl32(a ^ b, b) + s[2 * i];
        b = rotl32(b ^ a, a) + s[2 * i + 1];
    }
}

template <int Rounds>
inline void decryptWords(const RC5_keyTable<Rounds>& table, uint32_t& a, uint32_t& b) {
    const uint32_t* s = table.S;
    for (int i = Rounds; i >= 1; --i) {
        b = rotr32(b - s[2 * i + 1], a) ^ a;
        a = rotr32(a - s[2 * i], b) ^ b;
    }
    b -= s[1];
    a -= s[0];
}

// Blocks of a chained decryption do not depend on each other, unlike those of
// an encryption: decrypting several side by side keeps the processor busy
// while each waits on its chain of data-dependent rotates. Four at a time
// decrypt a request about three times as fast as one at a time.
constexpr size_t kDecryptLanes = 4;

template <int Rounds>
inline void decryptWordsSideBySide(const RC5_keyTable<Rounds>& table, uint32_t (&a)[kDecryptLanes],
                                   uint32_t (&b)[kDecryptLanes]) {
    const uint32_t* s = table.S;
    // Unrolled, so that the lanes live in registers.
#pragma GCC unroll 16
    for (int i = Rounds; i >= 1; --i) {
#pragma GCC unroll 4
        for (size_t k = 0; k < kDecryptLanes; ++k) {
            b[k] = rotr32(b[k] - s[2 * i + 1], a[k]) ^ a[k];
        }
#pragma GCC unroll 4
        for (size_t k = 0; k < kDecryptLanes; ++k) {
            a[k] = rotr32(a[k] - s[2 * i], b[k]) ^ b[k];
        }
    }
#pragma GCC unroll 4
    for (size_t k = 0; k < kDecryptLanes; ++k) {
        b[k] -= s[1];
        a[k] -= s[0];
    }
}

// The remaining bytes of a chained run: XOR with the encryption of the chain value.
void xorTail(const RC5_state& state, uint8_t* data, size_t len) {
    uint32_t a = state.chain[0];
    uint32_t b = state.chain[1];
    encryptWords<kRc5Rounds>(state.table, a, b);
    uint8_t stream[kRc5BlockSize];
    store32_le(stream, a);
    store32_le(stream + 4, b);
    for (size_t i = 0; i < len; ++i) {
        data[i] ^= stream[i];
    }
}

template <int Rounds, void (*Words)(const RC5_keyTable<Rounds>&, uint32_t&, uint32_t&)>
inline void blockThroughWords(const RC5_keyTable<Rounds>& table, uint8_t block[kRc5BlockSize]) {
    uint32_t a = load32_le(block);
    uint32_t b = load32_le(block + 4);
    Words(table, a, b);
    store32_le(block, a);
    store32_le(block + 4, b);
}

// The whole blocks of a chained run, `len` a multiple of 8; the chain value
// (ha, hb) goes in and comes out advanced.
using ChainedBlocks = void (*)(const RC5_keyTable<kRc5Rounds>& table, uint8_t* data, size_t len,
                               uint32_t& ha, uint32_t& hb);

inline void encryptBlocks(const RC5_keyTable<kRc5Rounds>& table, uint8_t* data, size_t len,
                          uint32_t& ha, uint32_t& hb) {
    for (; len >= kRc5BlockSize; len -= kRc5BlockSize, data += kRc5BlockSize) {
        ha ^= load32_le(data);
        hb ^= load32_le(data + 4);
        encryptWords<kRc5Rounds>(table, ha, hb);
        store32_le(data, ha);
        store32_le(data + 4, hb);
    }
}

inline void decryptBlocks(const RC5_keyTable<kRc5Rounds>& table, uint8_t* data, size_t len,
                          uint32_t& ha, uint32_t& hb) {
    constexpr size_t kLanesSize = kDecryptLanes * kRc5BlockSize;
    for (; len >= kLanesSize; len -= kLanesSize, data += kLanesSize) {
        uint32_t ca[kDecryptLanes], cb[kDecryptLanes], a[kDecryptLanes], b[kDecryptLanes];
#pragma GCC unroll 4
        for (size_t k = 0; k < kDecryptLanes; ++k) {
            a[k] = ca[k] = load32_le(data + k * kRc5BlockSize);
            b[k] = cb[k] = load32_le(data + k * kRc5BlockSize + 4);
        }
        decryptWordsSideBySide<kRc5Rounds>(table, a, b);
#pragma GCC unroll 4
        for (size_t k = 0; k < kDecryptLanes; ++k) {
            store32_le(data + k * kRc5BlockSize, a[k] ^ (k == 0 ? ha : ca[k - 1]));
            store32_le(data + k * kRc5BlockSize + 4, b[k] ^ (k == 0 ? hb : cb[k - 1]));
        }
        ha = ca[kDecryptLanes - 1];
        hb = cb[kDecryptLanes - 1];
    }
    for (; len >= kRc5BlockSize; len -= kRc5BlockSize, data += kRc5BlockSize) {
        uint32_t ca = load32_le(data);
        uint32_t cb = load32_le(data + 4);
        uint32_t a = ca;
        uint32_t b = cb;
        decryptWords<kRc5Rounds>(table, a, b);
        store32_le(data, a ^ ha);
        store32_le(data + 4, b ^ hb);
        ha = ca;
        hb = cb;
    }
}

// Either direction of a chained run: the chain value kept in the state from
// one run to the next, and the bytes after the last whole block.
template <ChainedBlocks Blocks>
int chainedRun(RC5_state* state, uint8_t* data, size_t len) {
    if (state == nullptr || (data == nullptr && len > 0)) {
        return -1;
    }
    const size_t whole = len - len % kRc5BlockSize;
    uint32_t ha = state->chain[0];
    uint32_t hb = state->chain[1];
    Blocks(state->table, data, whole, ha, hb);
    state->chain[0] = ha;
    state->chain[1] = hb;
    if (whole < len) {
        xorTail(*state, data + whole, len - whole);
    }
    return 0;
}

}  // namespace

template <int Rounds>
int RC5_keySchedule(const uint8_t key[kRc5KeySize], RC5_keyTable<Rounds>* table) {
    if (key == nullptr || table == nullptr) {
        return -1;
    }
    constexpr int kTableWords = 2 * Rounds + 2;
    uint32_t* s = table->S;
    uint32_t l[kKeyWords];
    for (int j = 0; j < kKeyWords; ++j) {
        l[j] = load32_le(key + 4 * j);
    }
    s[0] = kP32;
    for (int i = 1; i < kTableWords; ++i) {
        s[i] = s[i - 1] + kQ32;
    }
    uint32_t a = 0, b = 0;
    int i = 0, j = 0;
    for (int step = 0; step < 3 * kTableWords; ++step) {
        a = s[i] = rotl32(s[i] + a + b, 3);
        b = l[j] = rotl32(l[j] + a + b, a + b);
        i = (i + 1) % kTableWords;
        j = (j + 1) % kKeyWords;
    }
    secureZero(l, sizeof l);
    secureZero(&a, sizeof a);
    secureZero(&b, sizeof b);
    return 0;
}

template <int Rounds>
void RC5_encryptBlock(const RC5_keyTable<Rounds>& table, uint8_t block[kRc5BlockSize]) {
    blockThroughWords<Rounds, encryptWords<Rounds>>(table, block);
}

template <int Rounds>
void RC5_decryptBlock(const RC5_keyTable<Rounds>& table, uint8_t block[kRc5BlockSize]) {
    blockThroughWords<Rounds, decryptWords<Rounds>>(table, block);
}

template int RC5_keySchedule<12>(const uint8_t*, RC5_keyTable<12>*);
template int RC5_keySchedule<16>(const uint8_t*, RC5_keyTable<16>*);
template void RC5_encryptBlock<12>(const RC5_keyTable<12>&, uint8_t*);
template void RC5_encryptBlock<16>(const RC5_keyTable<16>&, uint8_t*);
template void RC5_decryptBlock<12>(const RC5_keyTable<12>&, uint8_t*);
template void RC5_decryptBlock<16>(const RC5_keyTable<16>&, uint8_t*);

int RC5_setKey(RC5_state* state, const uint8_t key[kRc5KeySize]) {
    if (state == nullptr || key == nullptr) {
        return -1;
    }
    std::memcpy(state->key, key, kRc5KeySize);
    return RC5_keySchedule<kRc5Rounds>(state->key, &state->table);
}

int RC5_setChainValue(RC5_state* state, const uint8_t value[kRc5BlockSize]) {
    if (state == nullptr || value == nullptr) {
        return -1;
    }
    state->chain[0] = load32_le(value);
    state->chain[1] = load32_le(value + 4);
    return 0;
}

int RC5_chainEncrypt(RC5_state* state, uint8_t* data, size_t len) {
    return chainedRun<encryptBlocks>(state, data, len);
}

int RC5_chainDecrypt(RC5_state* state, uint8_t* data, size_t len) {
    return chainedRun<decryptBlocks>(state, data, len);
}
