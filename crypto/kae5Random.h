// The SHA-1 based random generator that supplies each packet's per-packet
// value, and the process-wide instance the packet cipher draws from.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/kae5Buffer.h"

constexpr int kKae5RandomNoGenerator = 27;

struct KAE5_random {
    uint8_t state[20];   // a 160-bit number, most significant byte first
    uint8_t output[20];  // the last output block
    uint32_t pending;    // 0..20: the last `pending` bytes of output are unused
};

// a += b as big-endian numbers of `len` bytes, modulo 2^(8 len).
void add160(uint8_t* a, size_t len, const uint8_t* b);

// One step: output = SHA-1(state), pending = 20, state += SHA-1(output).
void randomStep(KAE5_random* generator);

// Fills the buffer's data (start, length) with the generator's next bytes, in
// output order, none handed out twice. Returns 27 for a null generator, else 0.
// Takes no lock: a generator belongs to one caller at a time.
int randomBytes(KAE5_random* generator, KAE5_buffer* buffer);

// Draws from the process-wide generator `globalRandom`, one caller at a time.
// Before its first draw in a process it takes its state from the operating
// system, so the per-packet values differ between runs and between processes
// forked from one another. Returns 0, or 27 for a null buffer.
int globalRandomBytes(KAE5_buffer* buffer);
