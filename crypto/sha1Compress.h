// The SHA-1 block function, in two implementations with the same results:
// the portable one, and one using the processor's SHA instructions where the
// processor has them (x86 SHA extensions). Internal to the crypto library;
// the tests compare the two.
#pragma once

#include <cstddef>
#include <cstdint>

// Compresses `blocks` whole 64-byte blocks from `data` into `h`.
using Sha1CompressFunction = void (*)(uint32_t h[5], const uint8_t* data, size_t blocks);

void sha1CompressPortable(uint32_t h[5], const uint8_t* data, size_t blocks);

// The instruction-based implementation, or null when this processor (or this
// build's target) has no SHA instructions.
Sha1CompressFunction sha1CompressAccelerated();
