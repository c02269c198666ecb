// The fixed key of the fuzz targets that work below the envelope, so that
// committed seed packets stay valid on every host.
#pragma once

#include <cstdint>

#include "crypto/kae5Cipher.h"

inline constexpr uint8_t kFuzzKey[16] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                         0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};

// A scheme-2 context under kFuzzKey, made once and kept for the process.
KAE5_context* fuzzContext();

// A PipeKeySource that hands out kFuzzKey.
int fuzzKeySource(unsigned char* key);
