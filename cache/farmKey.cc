#include "cache/farmKey.h"

#include "crypto/hmacSha1.h"
#include "crypto/secureMemory.h"

FarmKey::FarmKey(const std::uint8_t* secret, std::size_t length) {
    std::uint8_t innerPad[SHA1_BLOCK_SIZE];
    std::uint8_t outerPad[SHA1_BLOCK_SIZE];
    hmacSha1Pads(secret, length, innerPad, outerPad);
    SHA1_init(&innerStart_);
    SHA1_update(&innerStart_, innerPad, sizeof innerPad);
    SHA1_init(&outerStart_);
    SHA1_update(&outerStart_, outerPad, sizeof outerPad);
    secureZero(innerPad, sizeof innerPad);
    secureZero(outerPad, sizeof outerPad);
}

FarmKey::~FarmKey() {
    secureZero(&innerStart_, sizeof innerStart_);
    secureZero(&outerStart_, sizeof outerStart_);
}

FarmKey::Mac::Mac(const FarmKey& key) : key_(key), inner_(key.innerStart_) {}

FarmKey::Mac::~Mac() {
    secureZero(&inner_, sizeof inner_);
}

void FarmKey::Mac::update(const void* data, std::size_t length) {
    SHA1_update(&inner_, data, length);
}

void FarmKey::Mac::finish(std::uint8_t out[SHA1_DIGEST_SIZE]) {
    std::uint8_t innerDigest[SHA1_DIGEST_SIZE];
    SHA1_final(&inner_, innerDigest);
    SHA1_context outer = key_.outerStart_;
    SHA1_update(&outer, innerDigest, sizeof innerDigest);
    SHA1_final(&outer, out);
    secureZero(innerDigest, sizeof innerDigest);
    secureZero(&outer, sizeof outer);
}
