// The pipe key is stored nowhere: service and clients derive it from facts of
// the host they share. The service reads the facts once, at start, into a
// process-wide seed; clients read them afresh for every message.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "crypto/hostFacts.h"
#include "crypto/hostKeySeed.h"
#include "crypto/logoffCookiePipe_crypt.h"
#include "crypto/secureMemory.h"
#include "crypto/sha1.h"
#include "diag/traceLog.h"

namespace {

constexpr int kFactBufferSize = 512;
constexpr size_t kSaltSize = 16;
constexpr size_t kKeyOffset = 2;  // the key skips the digest's first two bytes

// Written once, before the first connection thread exists; never freed.
std::atomic<uint8_t*> hashKeySeed{nullptr};
std::mutex hashKeySeedMutex;

// Built byte by byte in the caller's buffer, so the salt never lies in the
// binary as one recognisable run of bytes.
void buildHashKeySalt(uint8_t salt[kSaltSize]) {
    salt[0] = 0xf0;
    salt[1] = 0x0d;
    salt[2] = 0xfa;
    salt[3] = 0x1a;
    salt[4] = 0x57;
    salt[5] = 0x39;
    salt[6] = 0x62;
    salt[7] = 0xca;
    salt[8] = 0xb7;
    salt[9] = 0xaa;
    salt[10] = 0xcb;
    salt[11] = 0x8b;
    salt[12] = 0xea;
    salt[13] = 0x8a;
    salt[14] = 0xcb;
    salt[15] = 0x27;
}

struct FactReader {
    int (*read)(char* out, int* size);
    const char* traceLine;
};

const FactReader kFactReaders[] = {
    {get_machine, "logoffCookie -- setHashKeySeed: Got %d bytes from get_machine()"},
    {get_version, "logoffCookie -- setHashKeySeed: Got %d bytes from get_version()"},
    {get_platform, "logoffCookie -- setHashKeySeed: Got %d bytes from get_platform()"},
    {get_hostname, "logoffCookie -- setHashKeySeed: Got %d bytes from get_hostname()"},
};

}  // namespace

int fillHashKeySeed(uint8_t seed[kHashKeySeedSize], bool traced) {
    std::memset(seed, 0, kHashKeySeedSize);
    char scratch[kFactBufferSize] = {};
    size_t total = 0;
    // The machine name always enters; the later facts only while room is left.
    for (const FactReader& reader : kFactReaders) {
        if (&reader != kFactReaders && total >= kHashKeySeedSize) {
            break;
        }
        int size = kFactBufferSize;
        reader.read(scratch, &size);
        size_t copied = std::min(static_cast<size_t>(size), kHashKeySeedSize - total);
        std::memcpy(seed + total, scratch, copied);
        total += copied;
        if (traced) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
            TRACE_LOG(TRACE_DETAIL, reader.traceLine, static_cast<int>(copied));
#pragma GCC diagnostic pop
        }
    }
    secureZero(scratch, sizeof scratch);
    return static_cast<int>(total);
}

void deriveHashedKey(const uint8_t seed[kHashKeySeedSize], uint8_t key[PIPE_KEY_SIZE]) {
    uint8_t block[kHashKeySeedSize + kSaltSize];
    std::memcpy(block, seed, kHashKeySeedSize);
    buildHashKeySalt(block + kHashKeySeedSize);
    uint8_t digest[kSha1DigestSize];
    sha1Digest(block, sizeof block, digest);
    std::memcpy(key, digest + kKeyOffset, PIPE_KEY_SIZE);
    secureZero(digest, sizeof digest);
    secureZero(block, sizeof block);
}

void setHashKeySeed(void) {
    TRACE_LOG(TRACE_ENTRY, "logoffCookie -- setHashKeySeed Entry");
    std::lock_guard<std::mutex> lock(hashKeySeedMutex);
    if (hashKeySeed.load(std::memory_order_acquire) == nullptr) {
        // Left absent when it cannot be allocated: every message then fails with 1.
        auto* seed = static_cast<uint8_t*>(std::calloc(1, kHashKeySeedSize));
        if (seed != nullptr) {
            int total = fillHashKeySeed(seed, true);
            TRACE_LOG(TRACE_DETAIL,
                      "logoffCookie -- setHashKeySeed: Got total Hash key seed bytes: %d", total);
            hashKeySeed.store(seed, std::memory_order_release);
        }
    }
    TRACE_LOG(TRACE_DETAIL, "logoffCookie -- setHashKeySeed EXIT");
}

int getHashedKey(unsigned char* key) {
    const uint8_t* seed = hashKeySeed.load(std::memory_order_acquire);
    if (seed == nullptr || key == nullptr) {
        TRACE_LOG(TRACE_DETAIL, "logoffCookie -- getHashedKey: Failed to get cached hashed key");
        return 1;
    }
    deriveHashedKey(seed, key);
    return 0;
}

int getHostPipeKey(unsigned char* key) {
    if (key == nullptr) {
        return 1;
    }
    uint8_t seed[kHashKeySeedSize];
    fillHashKeySeed(seed, false);
    deriveHashedKey(seed, key);
    secureZero(seed, sizeof seed);
    return 0;
}
