// The envelope of every message on the socket. A payload of L bytes becomes a
// block of exactly L + 49 bytes (the scheme-2 packet, then zeros), sent as the
// base64 text of the whole block. Each call derives the key afresh into an
// owner that wipes it once the packet call is done; the block lives in an
// owner that wipes it too, on the stack for every message the service and its
// clients exchange, so a message costs no allocation but the text it sends.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

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
// The block of the longest text a connection reads at once (4096
// characters); longer ones, which only other callers pass, go to the heap.
constexpr size_t kStackBlock = 4096 / 4 * 3;

using PipeKey = WipedBytes<PIPE_KEY_SIZE>;
using Block = WipedBuffer<kStackBlock>;

struct ContextRelease {
    void operator()(KAE5_context* context) const { KAE5_free_context(context); }
};
using PacketContext = std::unique_ptr<KAE5_context, ContextRelease>;

// One direction's packet call, and the names its trace lines give.
struct PacketStep {
    const char* caller;
    const char* contextReady;
    const char* callName;
    int (*call)(KAE5_context*, KAE5_buffer*);
};

constexpr PacketStep kSealStep = {"encryptPipeData", "succeded", "KAE5_encrypt_packet",
                                  KAE5_encrypt_packet};
constexpr PacketStep kOpenStep = {"decryptPipeData", "succeded.", "KAE5_decrypt_packet",
                                  KAE5_decrypt_packet};

int base64TextSize(int blockSize) {
    return 4 * ((blockSize + 2) / 3);
}

bool fetchKey(PipeKeySource keySource, PipeKey& key) {
    return keySource != nullptr && keySource(key.data()) == 0;
}

// Runs the step's packet call on `packet` under a context made from `key`
// for this call alone. True when both succeed.
bool runPacketStep(const PacketStep& step, PipeKey& key, KAE5_buffer* packet) {
    KAE5_buffer keyBytes = {key.data(), PIPE_KEY_SIZE, key.data(), PIPE_KEY_SIZE};
    KAE5_context* created = nullptr;
    int result = KAE5_crypto_init_context(kPipeScheme, &keyBytes, &created);
    PacketContext context(created);
    if (result != KAE5_OK) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookie -- %s: KAE5_crypto_init_context failed with return code %d",
                  step.caller, result);
    } else {
        TRACE_LOG(TRACE_DETAIL, "logoffCookie -- %s: KAE5_crypto_init_context %s", step.caller,
                  step.contextReady);
        result = step.call(context.get(), packet);
        if (result != KAE5_OK) {
            TRACE_LOG(TRACE_DETAIL, "logoffCookie -- %s: %s failed with return code %d",
                      step.caller, step.callName, result);
        }
    }
    return result == KAE5_OK;
}

// The plain mode: a zero-terminated copy of the payload.
int copyPlain(const void* data, int len, char** out, int* outLen) {
    auto* copy = static_cast<char*>(std::calloc(static_cast<size_t>(len) + 1, 1));
    if (copy != nullptr) {
        if (len > 0) {
            std::memcpy(copy, data, static_cast<size_t>(len));
        }
        *out = copy;
        *outLen = len;
    }
    return copy != nullptr ? 0 : 3;
}

// Fills `block` with the packet of the payload and its zero fill.
int sealBlock(PipeKeySource keySource, const void* data, int len, Block& block) {
    PipeKey key;
    int result = fetchKey(keySource, key) ? 0 : 1;
    if (result == 0 && !block.reserve(static_cast<size_t>(len) + kBlockOverhead)) {
        result = 3;
    }
    if (result == 0) {
        if (len > 0) {
            std::memcpy(block.data(), data, static_cast<size_t>(len));
        }
        std::memset(block.data() + len, 0, kBlockOverhead);
        TRACE_LOG(TRACE_DETAIL, "logoffCookie -- encryptPipeData: Encrypting data %s",
                  reinterpret_cast<const char*>(block.data()));
        KAE5_buffer packet = {block.data(), static_cast<uint32_t>(block.size()), block.data(),
                              static_cast<uint32_t>(len)};
        result = runPacketStep(kSealStep, key, &packet) ? 0 : 3;
    }
    return result;
}

// The base64 text of the whole block. Once allocated, the text is the
// caller's even when the encoding fails.
int writeText(Block& block, char** out, int* outLen) {
    const int blockSize = static_cast<int>(block.size());
    const int textSize = base64TextSize(blockSize);
    auto* text = static_cast<char*>(std::calloc(static_cast<size_t>(textSize) + 1, 1));
    int result = text != nullptr ? 0 : 3;
    if (result == 0) {
        *out = text;
        int written = textSize;
        // The zero fill is encoded too: the text length depends on the payload length alone.
        if (base64Encode(block.data(), blockSize, text, &written) != 0) {
            TRACE_LOG(TRACE_DETAIL,
                      "logoffCookie -- encryptPipeData: Failed to convert data to base64");
            result = 3;
        } else {
            *outLen = written;
            TRACE_LOG(TRACE_DETAIL, "logoffCookie -- encryptPipeData: Encrypted data - %d bytes",
                      written);
            TRACE_LOG(TRACE_EXIT, "logoffCookie -- encryptPipeData Exit");
        }
    }
    return result;
}

int sealEnvelope(PipeKeySource keySource, const void* data, int len, char** out, int* outLen) {
    Block block;
    int result = sealBlock(keySource, data, len, block);
    if (result == 0) {
        result = writeText(block, out, outLen);
    }
    return result;
}

// Decodes the text into `block`, which it sizes; *decoded is the block's
// length. No block too short to hold a message goes further.
int decodeText(const char* text, int textLength, Block& block, int* decoded) {
    int result = block.reserve(static_cast<size_t>(textLength) / 4 * 3) ? 0 : 2;
    *decoded = static_cast<int>(block.size());
    if (result == 0 && base64Decode(text, textLength, block.data(), decoded) != 0) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookie -- decryptPipeData: Failed to convert data to base64");
        result = 2;
    }
    if (result == 0) {
        TRACE_LOG(TRACE_DETAIL, "logoffCookie -- decryptPipeData: data to decrypt is %d bytes",
                  *decoded);
        if (*decoded < kMessageOverhead) {
            TRACE_LOG(TRACE_DETAIL,
                      "logoffCookie -- decryptPipeData: data to decrypt is too short: %d bytes",
                      *decoded);
            result = 2;
        }
    }
    return result;
}

// Opens the text's packet in `block`, where the message then starts;
// *messageLength is the count of bytes the receiver gets.
int openBlock(PipeKeySource keySource, const char* text, int textLength, Block& block,
              int* messageLength) {
    PipeKey key;
    int result = fetchKey(keySource, key) ? 0 : 1;
    int decoded = 0;
    if (result == 0) {
        result = decodeText(text, textLength, block, &decoded);
    }
    KAE5_buffer packet = {block.data(), static_cast<uint32_t>(decoded), block.data(),
                          static_cast<uint32_t>(decoded)};
    if (result == 0 && !runPacketStep(kOpenStep, key, &packet)) {
        result = 2;
    }
    // The length is the block's less 48, not the packet's: the receiver gets
    // the payload and the first zero of the fill after it.
    *messageLength = decoded - kMessageOverhead;
    // A block cut short inside its zero fill still holds an authentic packet,
    // but its message length would cut the payload short: a request that
    // arrived in part would be served as a shorter one.
    if (result == 0 && *messageLength < static_cast<int>(packet.dataLength) + 1) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookie -- decryptPipeData: data to decrypt is cut short: %d bytes for a "
                  "%u-byte payload",
                  decoded, packet.dataLength);
        result = 2;
    }
    return result;
}

// The caller's buffer changes only once the whole message is known good.
int openEnvelope(PipeKeySource keySource, char* data, int* len, int capacity) {
    const int textLength = *len;
    // The text must lie inside the caller's buffer; that also keeps the
    // message, which is shorter than the text, inside it.
    int result = data == nullptr || textLength < 0 || textLength > capacity ? 2 : 0;
    Block block;
    int messageLength = 0;
    if (result == 0) {
        TRACE_LOG(TRACE_DETAIL, "logoffCookie -- decryptPipeData: Base 64 data size is %d bytes",
                  textLength + 1);
        result = openBlock(keySource, data, textLength, block, &messageLength);
    }
    if (result == 0) {
        std::memset(data, 0, static_cast<size_t>(capacity));
        std::memcpy(data, block.data(), static_cast<size_t>(messageLength));
        *len = messageLength;
        TRACE_LOG(TRACE_DETAIL, "logoffCookie -- decryptPipeData: decrypted data - %d bytes",
                  messageLength);
        TRACE_LOG(TRACE_EXIT, "logoffCookie -- decryptPipeData Exit");
    }
    return result;
}

}  // namespace

int encryptPipeDataWith(PipeKeySource keySource, const void* data, int len, char** out, int* outLen,
                        int encryptionType) {
    TRACE_LOG(TRACE_ENTRY, "logoffCookie -- encryptPipeData Entry");
    TRACE_LOG(TRACE_DETAIL, "logoffCookie -- encryptPipeData: Got %d bytes", len);
    TRACE_LOG(TRACE_DETAIL, "logoffCookie -- encryptPipeData: Encryption Type is: %d",
              encryptionType);
    int result = out == nullptr || outLen == nullptr || len < 0 || len > kMaxPayload ||
                         (data == nullptr && len > 0)
                     ? 3
                     : 0;
    if (result == 0) {
        result = encryptionType == ENCRYPTION_NONE
                     ? copyPlain(data, len, out, outLen)
                     : sealEnvelope(keySource, data, len, out, outLen);
    }
    return result;
}

int decryptPipeDataWith(PipeKeySource keySource, void* data, int* len, int capacity,
                        int encryptionType) {
    TRACE_LOG(TRACE_ENTRY, "logoffCookie -- decryptPipeData Entry");
    int result = len != nullptr ? 0 : 2;
    if (result == 0) {
        TRACE_LOG(TRACE_DETAIL, "logoffCookie -- decryptPipeData: Got %d bytes", *len);
        TRACE_LOG(TRACE_DETAIL, "logoffCookie -- decryptPipeData: Encryption Type is: %d",
                  encryptionType);
        // The plain mode leaves the text where it is: it is the message.
        if (encryptionType != ENCRYPTION_NONE) {
            result = openEnvelope(keySource, static_cast<char*>(data), len, capacity);
        }
    }
    return result;
}

int encryptPipeData(const void* data, int len, char** out, int* outLen, int encryptionType) {
    return encryptPipeDataWith(getHashedKey, data, len, out, outLen, encryptionType);
}

int decryptPipeData(void* data, int* len, int capacity, int encryptionType) {
    return decryptPipeDataWith(getHashedKey, data, len, capacity, encryptionType);
}
