// Inside the packet cipher: the context layouts and the operations of each
// scheme, which the entry points reach through the scheme table.
#pragma once

#include <cstdint>

#include "crypto/kae5Cipher.h"
#include "crypto/rc5.h"
#include "crypto/sha1.h"

struct KAE5_context {
    int32_t scheme;
};

// Scheme 2's context; `base` first, so a KAE5_context* converts to it.
struct KAE5_scheme2Context {
    KAE5_context base;
    RC5_state rc5;
    uint8_t innerPad[kSha1BlockSize];
    uint8_t outerPad[kSha1BlockSize];
};

struct KAE5_scheme {
    int (*create)(unsigned int scheme, const KAE5_buffer* key, KAE5_context** context);
    int (*encrypt)(KAE5_context* context, KAE5_buffer* buffer);
    int (*decrypt)(KAE5_context* context, KAE5_buffer* buffer);
    int (*release)(KAE5_context* context);
};

// The checks that open a packet of either scheme, in this order: a usable
// buffer (7), some data (25), the context's scheme byte (23), the 8-byte
// header present (25), and a stated length of at least `minTotal` that the
// data holds (25). Returns 0 with that length in *total, or the first failure.
int KAE5_readHeader(const KAE5_context* context, const KAE5_buffer* buffer, uint32_t minTotal,
                    uint32_t* total);

extern const KAE5_scheme KAE5_scheme1;
extern const KAE5_scheme KAE5_scheme2;
