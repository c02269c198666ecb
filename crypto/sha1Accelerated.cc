// SHA-1 with the x86 SHA extensions: four rounds per instruction, the message
// schedule in three more. About six times the portable speed, which matters
// because every request and reply is checked with HMAC-SHA-1 over its whole
// length and the keys are derived afresh for every message.
#include "crypto/sha1Compress.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

namespace {

// Four rounds with round function `f`: the next E comes from the state before
// them (sha1nexte), the schedule words in `msg` are added to it.
#define SHA1NI_ROUNDS(abcd, eNext, eCur, msg, f) \
    eCur = _mm_sha1nexte_epu32(eCur, msg);       \
    eNext = abcd;                                \
    abcd = _mm_sha1rnds4_epu32(abcd, eCur, f);

// The schedule: words t..t+3 from the sixteen before them, over two steps.
#define SHA1NI_SCHEDULE(m0, m1, m2, m3) \
    m0 = _mm_sha1msg2_epu32(m0, m3);    \
    m2 = _mm_sha1msg1_epu32(m2, m3);    \
    m1 = _mm_xor_si128(m1, m3);

__attribute__((target("sha,sse4.1,ssse3"))) void compressWithShaInstructions(uint32_t h[5],
                                                                             const uint8_t* data,
                                                                             size_t blocks) {
    // The state words as the instructions want them: A in the top lane.
    const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(h[4]), 0, 0, 0);
    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abcdSaved = abcd;
        const __m128i eSaved = e0;
        __m128i e1;
        __m128i m0 =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data)), byteSwap);
        __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16)),
                                      byteSwap);
        __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 32)),
                                      byteSwap);
        __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 48)),
                                      byteSwap);

        // Rounds 0-3: E enters as a plain addition.
        e0 = _mm_add_epi32(e0, m0);
        e1 = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, e0, 0);
        // Rounds 4-15.
        SHA1NI_ROUNDS(abcd, e0, e1, m1, 0)
        m0 = _mm_sha1msg1_epu32(m0, m1);
        SHA1NI_ROUNDS(abcd, e1, e0, m2, 0)
        m1 = _mm_sha1msg1_epu32(m1, m2);
        m0 = _mm_xor_si128(m0, m2);
        SHA1NI_ROUNDS(abcd, e0, e1, m3, 0)
        SHA1NI_SCHEDULE(m0, m1, m2, m3)
        // Rounds 16-67: the schedule runs four words ahead of the rounds.
        SHA1NI_ROUNDS(abcd, e1, e0, m0, 0)
        SHA1NI_SCHEDULE(m1, m2, m3, m0)
        SHA1NI_ROUNDS(abcd, e0, e1, m1, 1)
        SHA1NI_SCHEDULE(m2, m3, m0, m1)
        SHA1NI_ROUNDS(abcd, e1, e0, m2, 1)
        SHA1NI_SCHEDULE(m3, m0, m1, m2)
        SHA1NI_ROUNDS(abcd, e0, e1, m3, 1)
        SHA1NI_SCHEDULE(m0, m1, m2, m3)
        SHA1NI_ROUNDS(abcd, e1, e0, m0, 1)
        SHA1NI_SCHEDULE(m1, m2, m3, m0)
        SHA1NI_ROUNDS(abcd, e0, e1, m1, 1)
        SHA1NI_SCHEDULE(m2, m3, m0, m1)
        SHA1NI_ROUNDS(abcd, e1, e0, m2, 2)
        SHA1NI_SCHEDULE(m3, m0, m1, m2)
        SHA1NI_ROUNDS(abcd, e0, e1, m3, 2)
        SHA1NI_SCHEDULE(m0, m1, m2, m3)
        SHA1NI_ROUNDS(abcd, e1, e0, m0, 2)
        SHA1NI_SCHEDULE(m1, m2, m3, m0)
        SHA1NI_ROUNDS(abcd, e0, e1, m1, 2)
        SHA1NI_SCHEDULE(m2, m3, m0, m1)
        SHA1NI_ROUNDS(abcd, e1, e0, m2, 2)
        SHA1NI_SCHEDULE(m3, m0, m1, m2)
        SHA1NI_ROUNDS(abcd, e0, e1, m3, 3)
        SHA1NI_SCHEDULE(m0, m1, m2, m3)
        SHA1NI_ROUNDS(abcd, e1, e0, m0, 3)
        SHA1NI_SCHEDULE(m1, m2, m3, m0)
        // Rounds 68-79: the last schedule words need no further words.
        SHA1NI_ROUNDS(abcd, e0, e1, m1, 3)
        m2 = _mm_sha1msg2_epu32(m2, m1);
        m3 = _mm_xor_si128(m3, m1);
        SHA1NI_ROUNDS(abcd, e1, e0, m2, 3)
        m3 = _mm_sha1msg2_epu32(m3, m2);
        SHA1NI_ROUNDS(abcd, e0, e1, m3, 3)

        e0 = _mm_sha1nexte_epu32(e0, eSaved);
        abcd = _mm_add_epi32(abcd, abcdSaved);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_shuffle_epi32(abcd, 0x1B));
    h[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

bool processorHasShaInstructions() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
        return false;
    }
    const bool ssse3 = (ecx & bit_SSSE3) != 0;
    const bool sse41 = (ecx & bit_SSE4_1) != 0;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) {
        return false;
    }
    return ssse3 && sse41 && (ebx & bit_SHA) != 0;
}

}  // namespace

Sha1CompressFunction sha1CompressAccelerated() {
    static const Sha1CompressFunction chosen =
        processorHasShaInstructions() ? compressWithShaInstructions : nullptr;
    return chosen;
}

#else

Sha1CompressFunction sha1CompressAccelerated() {
    return nullptr;
}

#endif
