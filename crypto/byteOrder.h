// Fixed byte order for everything that is hashed, enciphered or sent: SHA-1
// and packet lengths are big-endian, RC5 words little-endian, whatever the host.
//
// Each helper is one unaligned load or store, byte-swapped when the host's
// order differs: assembling words byte by byte cost RC5 more instructions
// than its rounds.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

// The host's word in `Order`, and back: the same swap either way.
template <std::endian Order>
inline uint32_t inByteOrder(uint32_t v) {
    return std::endian::native == Order ? v : __builtin_bswap32(v);
}

template <std::endian Order>
inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return inByteOrder<Order>(v);
}

template <std::endian Order>
inline void store32(uint8_t* p, uint32_t v) {
    v = inByteOrder<Order>(v);
    std::memcpy(p, &v, sizeof v);
}

inline uint32_t load32_be(const uint8_t* p) {
    return load32<std::endian::big>(p);
}

inline void store32_be(uint8_t* p, uint32_t v) {
    store32<std::endian::big>(p, v);
}

inline uint32_t load32_le(const uint8_t* p) {
    return load32<std::endian::little>(p);
}

inline void store32_le(uint8_t* p, uint32_t v) {
    store32<std::endian::little>(p, v);
}

inline uint32_t rotl32(uint32_t x, uint32_t n) {
    return std::rotl(x, static_cast<int>(n & 31));
}

inline uint32_t rotr32(uint32_t x, uint32_t n) {
    return std::rotr(x, static_cast<int>(n & 31));
}
