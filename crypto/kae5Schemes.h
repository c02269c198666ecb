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
    uint8_t innerPad[SHA1_BLOCK_SIZE];
    uint8_t outerPad[SHA1_BLOCK_SIZE];
};

struct KAE5_scheme {
    int (*create)(unsigned int scheme, const KAE5_buffer* key, KAE5_context** context);
    int (*encrypt)(KAE5_context* context, KAE5_buffer* buffer);
    int (*decrypt)(KAE5_context* context, KAE5_buffer* buffer);
    int (*release)(KAE5_context* context);
};

extern const KAE5_scheme KAE5_scheme1;
extern const KAE5_scheme KAE5_scheme2;
