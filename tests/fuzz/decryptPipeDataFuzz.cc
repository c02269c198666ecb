// decryptPipeData, as the service's reader calls it, over arbitrary text of up
// to the 4096 bytes one read can return. The text lies in a heap block of
// exactly its length, which is also the capacity passed, so nothing may be
// read or written past it. A failure must leave buffer and length as they
// were; a success must leave the message length the decoded size less 48 and
// zeros from there to the capacity.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "crypto/logoffCookiePipe_crypt.h"

namespace {

constexpr size_t kReadLimit = 4096;

// The decoded size of a text that decodes: three bytes a group, less one per "=".
int decodedSize(const uint8_t* text, size_t length) {
    int padding = 0;
    for (size_t i = 0; i < length; ++i) {
        padding += text[i] == '=';
    }
    return static_cast<int>(length / 4 * 3) - padding;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setHashKeySeed();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kReadLimit) {
        return 0;
    }
    const int capacity = static_cast<int>(size);
    auto* buffer = static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size));
    if (size > 0) {
        std::memcpy(buffer, data, size);
    }
    int length = capacity;
    int result = decryptPipeData(buffer, &length, capacity, ENCRYPTION_KAE5);
    if (result == 0) {
        int expected = decodedSize(data, size) - 48;
        if (length != expected || length < 0 || length > capacity) {
            std::abort();
        }
        for (int i = length; i < capacity; ++i) {
            if (buffer[i] != 0) {
                std::abort();
            }
        }
    } else if (result != 2 || length != capacity ||
               (size > 0 && std::memcmp(buffer, data, size) != 0)) {
        std::abort();
    }
    std::free(buffer);
    return 0;
}
