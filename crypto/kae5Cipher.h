// The packet cipher: turns a payload into a self-describing packet in place
// and back. Scheme 2 enciphers with RC5-32/16/16 in CBC mode behind a
// per-packet random value and authenticates with HMAC-SHA-1 cut to 10 bytes;
// scheme 1 only frames the payload. Failures are small odd codes, never traced.
#pragma once

#include <cstdint>

#include "crypto/kae5Buffer.h"

enum KAE5_result : int {
    KAE5_OK = 0,
    KAE5_BAD_SCHEME = 1,        // scheme number not 1 or 2
    KAE5_NO_ROOM = 3,           // not enough room after the data for the packet
    KAE5_BAD_DESCRIPTOR = 7,    // invalid buffer descriptor (or no place for the context)
    KAE5_NO_MEMORY = 9,         // context could not be allocated
    KAE5_KEY_SCHEDULE = 11,     // RC5 key schedule failed
    KAE5_NO_CHAIN_VALUE = 13,   // chain value not accepted
    KAE5_CHAIN_ENCRYPT = 17,    // chained encryption failed
    KAE5_CHAIN_DECRYPT = 19,    // chained decryption failed
    KAE5_CHECK_MISMATCH = 21,   // check value differs: tampered or another key
    KAE5_SCHEME_MISMATCH = 23,  // packet's scheme byte is not the context's
    KAE5_BAD_LENGTH = 25,       // stated length does not fit the data, or the packet is malformed
};

// Scheme 2's packet around a payload of L bytes is L + kKae5Overhead + P bytes,
// P = 8 - L % 8 padding bytes (1 to 8).
constexpr uint32_t kKae5HeaderSize = 16;
constexpr uint32_t kKae5CheckSize = 10;
constexpr uint32_t kKae5Overhead = kKae5HeaderSize + kKae5CheckSize;
constexpr uint32_t kKae5MinPacket = kKae5Overhead + 8;

// Opaque to callers; its first field is the scheme number.
struct KAE5_context;

// Creates a context for `scheme` (1 or 2) with the key's data bytes (at most
// the first 16 are used; scheme 1 ignores the key). Returns 0 and the context
// in *context, or 1, 7, 9 or 11.
int KAE5_crypto_init_context(unsigned int scheme, const KAE5_buffer* key, KAE5_context** context);

// Turns the payload at the data start into a packet there; on success the data
// length is the packet's length. The region must leave room after the data
// (scheme 2: 26 + P bytes, scheme 1: 8). Returns 0, or 1, 3, 7, 13 or 17; on
// failure the data length is unchanged though the bytes may be rewritten.
int KAE5_encrypt_packet(KAE5_context* context, KAE5_buffer* buffer);

// Checks and opens the packet at the data start (bytes after its end are
// ignored); on success the payload lies at the data start, the data length is
// its length and zeros follow it (16 bytes for scheme 2, 8 for scheme 1).
// Returns 0, or 1, 7, 13, 19, 21, 23 or 25. A scheme-2 packet whose stated
// length fits has its data length set to that length minus 10 even on failure.
int KAE5_decrypt_packet(KAE5_context* context, KAE5_buffer* buffer);

// Wipes and frees the context; null is allowed. Returns 0.
int KAE5_free_context(KAE5_context* context);
