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

inline uint32_t byteSwap32(uint32_t v) {
    return __builtin_bswap32(v);
}

inline uint32_t load32_be(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return std::endian::native == std::endian::big ? v : byteSwap32(v);
}

inline void store32_be(uint8_t* p, uint32_t v) {
    v = std::endian::native == std::endian::big ? v : byteSwap32(v);
    std::memcpy(p, &v, sizeof v);
}

inline uint32_t load32_le(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return std::endian::native == std::endian::little ? v : byteSwap32(v);
}

inline void store32_le(uint8_t* p, uint32_t v) {
    v = std::endian::native == std::endian::little ? v : byteSwap32(v);
    std::memcpy(p, &v, sizeof v);
}

inline uint32_t rotl32(uint32_t x, uint32_t n) {
    return std::rotl(x, static_cast<int>(n & 31));
}

inline uint32_t rotr32(uint32_t x, uint32_t n) {
    return std::rotr(x, static_cast<int>(n & 31));
}
