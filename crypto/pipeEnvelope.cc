// The envelope of every message on the socket. A payload of L bytes becomes a
// block of exactly L + 49 bytes (the scheme-2 packet, then zeros), sent as the
// base64 text of the whole block. Each call derives the key afresh, keeps its
// copy on the stack and wipes it as soon as the packet call has returned.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "crypto/base64.h"
#include "crypto/kae5Cipher.h"
#include "crypto/logoffCookiePipe_crypt.h"
#include "crypto/secureMemory.h"
#include "diag/traceLog.h"

namespace {

constexpr int kPipeScheme = 2;
// Packet overhead of 26, up to 8 padding bytes, and zeros to a fixed 49.
constexpr int kBlockOverhead = 49;
// A sender that uses this envelope always adds at least these 48 bytes; the
// receiver counts one byte more as message (the first fill zero).
constexpr int kMessageOverhead = 48;
// Largest payload whose text length still fits an int.
constexpr int kMaxPayload = (INT_MAX - 1) / 4 * 3 - kBlockOverhead - 2;

int base64TextSize(int blockSize) {
    return 4 * ((blockSize + 2) / 3);
}

KAE5_buffer keyBuffer(uint8_t* key) {
    return {key, PIPE_KEY_SIZE, key, PIPE_KEY_SIZE};
}

int fetchKey(PipeKeySource keySource, uint8_t* key) {
    return keySource != nullptr && keySource(key) == 0 ? 0 : 1;
}

}  // namespace

int encryptPipeDataWith(PipeKeySource keySource, const void* data, int len, char** out, int* outLen,
                        int encryptionType) {
    TRACE_LOG(TRACE_ENTRY, "logoffCookie -- encryptPipeData Entry");
    TRACE_LOG(TRACE_DETAIL, "logoffCookie -- encryptPipeData: Got %d bytes", len);
    TRACE_LOG(TRACE_DETAIL, "logoffCookie -- encryptPipeData: Encryption Type is: %d",
              encryptionType);
    if (out == nullptr || outLen == nullptr || len < 0 || len > kMaxPayload ||
        (data == nullptr && len > 0)) {
        return 3;
    }
    if (encryptionType == ENCRYPTION_NONE) {
        auto* copy = static_cast<char*>(std::calloc(static_cast<size_t>(len) + 1, 1));
        if (copy == nullptr) {
            return 3;
        }
        if (len > 0) {
            std::memcpy(copy, data, static_cast<size_t>(len));
        }
        *out = copy;
        *outLen = len;
        return 0;
    }

    uint8_t key[PIPE_KEY_SIZE];
    if (fetchKey(keySource, key) != 0) {
        return 1;
    }
    const int blockSize = len + kBlockOverhead;
    auto* block = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(blockSize), 1));
    if (block == nullptr) {
        secureZero(key, sizeof key);
        return 3;
    }
    if (len > 0) {
        std::memcpy(block, data, static_cast<size_t>(len));
    }
    TRACE_LOG(TRACE_DETAIL, "logoffCookie -- encryptPipeData: Encrypting data %s",
              reinterpret_cast<const char*>(block));

    KAE5_buffer keyBytes = keyBuffer(key);
    KAE5_context* context = nullptr;
    int result = KAE5_crypto_init_context(kPipeScheme, &keyBytes, &context);
    if (result != KAE5_OK) {
        secureZero(key, sizeof key);
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookie -- encryptPipeData: KAE5_crypto_init_context failed with return "
                  "code %d",
                  result);
        std::free(block);
        return 3;
    }
    TRACE_LOG(TRACE_DETAIL, "logoffCookie -- encryptPipeData: KAE5_crypto_init_context succeded");
    KAE5_buffer packet = {block, static_cast<uint32_t>(blockSize), block,
                          static_cast<uint32_t>(len)};
    result = KAE5_encrypt_packet(context, &packet);
    secureZero(key, sizeof key);
    KAE5_free_context(context);
    if (result != KAE5_OK) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookie -- encryptPipeData: KAE5_encrypt_packet failed with return code %d",
                  result);
        secureZero(block, static_cast<size_t>(blockSize));
        std::free(block);
        return 3;
    }

    int textSize = base64TextSize(blockSize);
    auto* text = static_cast<char*>(std::calloc(static_cast<size_t>(textSize) + 1, 1));
    if (text == nullptr) {
        std::free(block);
        return 3;
    }
    *out = text;
    int written = textSize;
    // The zero fill is encoded too: the text length depends on the payload length alone.
    if (base64Encode(block, blockSize, text, &written) != 0) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookie -- encryptPipeData: Failed to convert data to base64");
        std::free(block);
        return 3;
    }
    *outLen = written;
    std::free(block);
    TRACE_LOG(TRACE_DETAIL, "logoffCookie -- encryptPipeData: Encrypted data - %d bytes", written);
    TRACE_LOG(TRACE_EXIT, "logoffCookie -- encryptPipeData Exit");
    return 0;
}

int decryptPipeDataWith(PipeKeySource keySource, void* data, int* len, int capacity,
                        int encryptionType) {
    TRACE_LOG(TRACE_ENTRY, "logoffCookie -- decryptPipeData Entry");
    if (len == nullptr) {
        return 2;
    }
    const int textLength = *len;
    TRACE_LOG(TRACE_DETAIL, "logoffCookie -- decryptPipeData: Got %d bytes", textLength);
    TRACE_LOG(TRACE_DETAIL, "logoffCookie -- decryptPipeData: Encryption Type is: %d",
              encryptionType);
    if (encryptionType == ENCRYPTION_NONE) {
        return 0;
    }
    // The text must lie inside the caller's buffer; that also keeps the
    // message, which is shorter than the text, inside it.
    if (data == nullptr || textLength < 0 || textLength > capacity) {
        return 2;
    }
    TRACE_LOG(TRACE_DETAIL, "logoffCookie -- decryptPipeData: Base 64 data size is %d bytes",
              textLength + 1);

    uint8_t key[PIPE_KEY_SIZE];
    if (fetchKey(keySource, key) != 0) {
        return 1;
    }
    const size_t scratchSize = static_cast<size_t>(textLength) + 2;
    auto* scratch = static_cast<uint8_t*>(std::calloc(scratchSize, 1));
    if (scratch == nullptr) {
        secureZero(key, sizeof key);
        return 2;
    }
    int decoded = textLength + 1;
    int result = base64Decode(static_cast<const char*>(data), textLength, scratch, &decoded);
    if (result != 0) {
        secureZero(key, sizeof key);
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookie -- decryptPipeData: Failed to convert data to base64");
        std::free(scratch);
        return 2;
    }
    TRACE_LOG(TRACE_DETAIL, "logoffCookie -- decryptPipeData: data to decrypt is %d bytes",
              decoded);
    if (decoded < kMessageOverhead) {
        secureZero(key, sizeof key);
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookie -- decryptPipeData: data to decrypt is too short: %d bytes",
                  decoded);
        std::free(scratch);
        return 2;
    }

    KAE5_buffer keyBytes = keyBuffer(key);
    KAE5_context* context = nullptr;
    result = KAE5_crypto_init_context(kPipeScheme, &keyBytes, &context);
    if (result != KAE5_OK) {
        secureZero(key, sizeof key);
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookie -- decryptPipeData: KAE5_crypto_init_context failed with return "
                  "code %d",
                  result);
        std::free(scratch);
        return 2;
    }
    TRACE_LOG(TRACE_DETAIL, "logoffCookie -- decryptPipeData: KAE5_crypto_init_context succeded.");
    KAE5_buffer packet = {scratch, static_cast<uint32_t>(decoded), scratch,
                          static_cast<uint32_t>(decoded)};
    result = KAE5_decrypt_packet(context, &packet);
    secureZero(key, sizeof key);
    KAE5_free_context(context);
    if (result != KAE5_OK) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookie -- decryptPipeData: KAE5_decrypt_packet failed with return code %d",
                  result);
        secureZero(scratch, scratchSize);
        std::free(scratch);
        return 2;
    }

    // The length is the block's less 48, not the packet's: the receiver gets
    // the payload and the first zero of the fill after it.
    const int messageLength = decoded - kMessageOverhead;
    // A block cut short inside its zero fill still holds an authentic packet,
    // but its message length would cut the payload short: a request that
    // arrived in part would be served as a shorter one.
    if (messageLength < static_cast<int>(packet.dataLength) + 1) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookie -- decryptPipeData: data to decrypt is cut short: %d bytes for a "
                  "%u-byte payload",
                  decoded, packet.dataLength);
        secureZero(scratch, scratchSize);
        std::free(scratch);
        return 2;
    }
    std::memset(data, 0, static_cast<size_t>(capacity));
    std::memcpy(data, scratch, static_cast<size_t>(messageLength));
    *len = messageLength;
    secureZero(scratch, scratchSize);
    std::free(scratch);
    TRACE_LOG(TRACE_DETAIL, "logoffCookie -- decryptPipeData: decrypted data - %d bytes",
              messageLength);
    TRACE_LOG(TRACE_EXIT, "logoffCookie -- decryptPipeData Exit");
    return 0;
}

int encryptPipeData(const void* data, int len, char** out, int* outLen, int encryptionType) {
    return encryptPipeDataWith(getHashedKey, data, len, out, outLen, encryptionType);
}

int decryptPipeData(void* data, int* len, int capacity, int encryptionType) {
    return decryptPipeDataWith(getHashedKey, data, len, capacity, encryptionType);
}
