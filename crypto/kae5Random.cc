#include "crypto/kae5Random.h"

#include <pthread.h>
#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "crypto/secureMemory.h"
#include "crypto/sha1.h"

namespace {

KAE5_random globalRandom;  // zero state, no pending output, until seeded
std::mutex globalRandomMutex;
bool globalRandomSeeded = false;  // guarded by globalRandomMutex

// Gives the state whatever the system has; with nothing, the zero state stays.
void seedFromSystem(KAE5_random* generator) {
    size_t filled = 0;
    while (filled < sizeof generator->state) {
        ssize_t got = getrandom(generator->state + filled, sizeof generator->state - filled, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        filled += static_cast<size_t>(got);
    }
    generator->pending = 0;
}

// A forked child starts with its parent's generator; without fresh state it
// would hand out the very values the parent hands out next.
void lockBeforeFork() {
    globalRandomMutex.lock();
}
void unlockInParent() {
    globalRandomMutex.unlock();
}
void reseedInChild() {
    globalRandomSeeded = false;
    globalRandomMutex.unlock();
}

}  // namespace

void add160(uint8_t* a, size_t len, const uint8_t* b) {
    unsigned carry = 0;
    for (size_t i = len; i-- > 0;) {
        unsigned sum = unsigned{a[i]} + unsigned{b[i]} + carry;
        a[i] = static_cast<uint8_t>(sum);
        carry = sum >> 8;
    }
}

void randomStep(KAE5_random* generator) {
    uint8_t digest[kSha1DigestSize];
    sha1Digest(generator->state, sizeof generator->state, generator->output);
    generator->pending = sizeof generator->output;
    sha1Digest(generator->output, sizeof generator->output, digest);
    add160(generator->state, sizeof generator->state, digest);
    secureZero(digest, sizeof digest);
}

int randomBytes(KAE5_random* generator, KAE5_buffer* buffer) {
    if (generator == nullptr) {
        return kKae5RandomNoGenerator;
    }
    if (buffer == nullptr || buffer->dataStart == nullptr) {
        return 0;
    }
    uint8_t* out = buffer->dataStart;
    uint32_t missing = buffer->dataLength;
    while (missing > 0) {
        if (generator->pending == 0) {
            randomStep(generator);
        }
        uint32_t take = std::min(missing, generator->pending);
        std::memcpy(out, generator->output + sizeof generator->output - generator->pending, take);
        generator->pending -= take;
        out += take;
        missing -= take;
    }
    return 0;
}

int globalRandomBytes(KAE5_buffer* buffer) {
    if (buffer == nullptr) {
        return kKae5RandomNoGenerator;
    }
    static const bool forkHandlersInstalled =
        pthread_atfork(lockBeforeFork, unlockInParent, reseedInChild) == 0;
    (void)forkHandlersInstalled;

    std::lock_guard<std::mutex> lock(globalRandomMutex);
    if (!globalRandomSeeded) {
        seedFromSystem(&globalRandom);
        globalRandomSeeded = true;
    }
    return randomBytes(&globalRandom, buffer);
}
