// Inside the host key: the seed built from host facts and the key derived
// from a seed, shared by the service's process-wide seed and the clients'
// per-message derivation.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kHashKeySeedSize = 32;

// Fills the 32-byte `seed` (zeroed first) with the host fact texts joined
// without separator, stopping at 32 bytes: machine, then version, swap size
// and host name while room is left. `traced` writes the setHashKeySeed lines
// for each reader called and the total. Returns the number of bytes filled.
int fillHashKeySeed(uint8_t seed[kHashKeySeedSize], bool traced);

// key = bytes 2..17 of SHA-1(seed || hashKeySalt).
void deriveHashedKey(const uint8_t seed[kHashKeySeedSize], uint8_t key[16]);
