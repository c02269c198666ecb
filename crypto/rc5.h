// RC5 with 32-bit words and 16-byte keys, in the chained (CBC) mode of the
// packet cipher. The round count is a template parameter so the published
// 12-round vectors check the same code that runs 16 rounds for packets.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kRc5Rounds = 16;
constexpr size_t kRc5KeySize = 16;
constexpr size_t kRc5BlockSize = 8;

template <int Rounds>
struct RC5_keyTable {
    uint32_t S[2 * Rounds + 2];
};

// Expands `key` into `table`. Returns 0, or -1 for a null argument.
template <int Rounds>
int RC5_keySchedule(const uint8_t key[kRc5KeySize], RC5_keyTable<Rounds>* table);

// One 8-byte block in place; words are read and written least significant byte first.
template <int Rounds>
void RC5_encryptBlock(const RC5_keyTable<Rounds>& table, uint8_t block[kRc5BlockSize]);
template <int Rounds>
void RC5_decryptBlock(const RC5_keyTable<Rounds>& table, uint8_t block[kRc5BlockSize]);

// The packet cipher's RC5 part of a context.
struct RC5_state {
    uint8_t key[kRc5KeySize];
    uint32_t chain[2];  // the chain value as two little-endian words
    RC5_keyTable<kRc5Rounds> table;
};

// Copies the key and expands it. Returns 0, or -1 for a null argument.
int RC5_setKey(RC5_state* state, const uint8_t key[kRc5KeySize]);

// Sets the chain value from 8 bytes. Returns 0, or -1 for a null argument.
int RC5_setChainValue(RC5_state* state, const uint8_t value[kRc5BlockSize]);

// Chained encryption and decryption of `len` bytes in place, starting from the
// state's chain value. Whole blocks are chained; the last len % 8 bytes are
// XORed with the encryption of the chain value reached, the same in both
// directions. Return 0, or -1 for a null argument.
int RC5_chainEncrypt(RC5_state* state, uint8_t* data, size_t len);
int RC5_chainDecrypt(RC5_state* state, uint8_t* data, size_t len);
