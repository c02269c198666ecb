#include "crypto/kae5Cipher.h"

#include "crypto/kae5Schemes.h"

namespace {

// Indexed by scheme number; row 0 is no scheme.
const KAE5_scheme* const kSchemeTable[] = {nullptr, &KAE5_scheme1, &KAE5_scheme2};

const KAE5_scheme* schemeFor(unsigned int scheme) {
    return scheme >= 1 && scheme <= 2 ? kSchemeTable[scheme] : nullptr;
}

const KAE5_scheme* schemeOf(const KAE5_context* context) {
    return context == nullptr ? nullptr : schemeFor(static_cast<unsigned int>(context->scheme));
}

}  // namespace

int KAE5_crypto_init_context(unsigned int scheme, const KAE5_buffer* key, KAE5_context** context) {
    const KAE5_scheme* row = schemeFor(scheme);
    if (row == nullptr) {
        return KAE5_BAD_SCHEME;
    }
    if (context == nullptr) {
        return KAE5_BAD_DESCRIPTOR;
    }
    return row->create(scheme, key, context);
}

int KAE5_encrypt_packet(KAE5_context* context, KAE5_buffer* buffer) {
    const KAE5_scheme* row = schemeOf(context);
    return row == nullptr ? KAE5_BAD_SCHEME : row->encrypt(context, buffer);
}

int KAE5_decrypt_packet(KAE5_context* context, KAE5_buffer* buffer) {
    const KAE5_scheme* row = schemeOf(context);
    return row == nullptr ? KAE5_BAD_SCHEME : row->decrypt(context, buffer);
}

int KAE5_free_context(KAE5_context* context) {
    const KAE5_scheme* row = schemeOf(context);
    if (row != nullptr) {
        row->release(context);
    }
    return KAE5_OK;
}
