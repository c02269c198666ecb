#include "cache/farmKey.h"

#include "crypto/secureMemory.h"

FarmKey::FarmKey(const std::uint8_t* secret, std::size_t length) {
    hmacSha1KeyInit(&key_, secret, length);
}

FarmKey::~FarmKey() {
    hmacSha1KeyWipe(&key_);
}

FarmKey::Mac::Mac(const FarmKey& key) {
    hmacSha1Init(&context_, &key.key_);
}

// A MAC never finished still holds a hash state of the secret's pad.
FarmKey::Mac::~Mac() {
    secureZero(&context_, sizeof context_);
}

void FarmKey::Mac::update(const void* data, std::size_t length) {
    hmacSha1Update(&context_, data, length);
}

void FarmKey::Mac::finish(std::uint8_t out[kSha1DigestSize]) {
    hmacSha1Final(&context_, out);
}
