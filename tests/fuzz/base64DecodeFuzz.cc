// base64Decode over arbitrary text and output capacities, checked against a
// plain second decoder: result code, byte count and bytes must all agree.
// Input: byte 0 takes 0 to 3 bytes off the largest output the text could
// need; the rest is the text. Text and output live in heap blocks of exactly
// their size, so a read or write past either is reported.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/base64.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int valueOf(char c) {
    const char* found = c == '\0' ? nullptr : std::strchr(kAlphabet, c);
    return found == nullptr ? -1 : static_cast<int>(found - kAlphabet);
}

struct Expected {
    int result;
    std::vector<uint8_t> bytes;
};

// Group by group, stopping at the first that fails: two alphabet characters,
// then each of the last two an alphabet character or "=", no alphabet
// character after a third "=", and room for the group's bytes.
Expected referenceDecode(const char* text, int length, int capacity) {
    if (length % 4 != 0) {
        return {2, {}};
    }
    Expected expected{0, {}};
    for (int i = 0; i < length; i += 4) {
        int w = valueOf(text[i]), x = valueOf(text[i + 1]);
        int y = valueOf(text[i + 2]), z = valueOf(text[i + 3]);
        bool yPad = text[i + 2] == '=', zPad = text[i + 3] == '=';
        if (w < 0 || x < 0 || (y < 0 && !yPad) || (z < 0 && !zPad) || (yPad && !zPad)) {
            return {1, {}};
        }
        int padded = yPad + zPad;
        if (static_cast<int>(expected.bytes.size()) + 3 - padded > capacity) {
            return {3, {}};
        }
        expected.bytes.push_back(static_cast<uint8_t>((w << 2) | (x >> 4)));
        if (!yPad) {
            expected.bytes.push_back(static_cast<uint8_t>(((x & 15) << 4) | (y >> 2)));
        }
        if (!zPad) {
            expected.bytes.push_back(static_cast<uint8_t>(((y & 3) << 6) | z));
        }
    }
    return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 8192) {
        return 0;
    }
    const int length = static_cast<int>(size - 1);
    int capacity = length / 4 * 3 - data[0] % 4;
    if (capacity < 0) {
        capacity = 0;
    }
    char* text = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
    std::memcpy(text, data + 1, static_cast<size_t>(length));
    uint8_t* out =
        capacity > 0 ? static_cast<uint8_t*>(std::malloc(static_cast<size_t>(capacity))) : nullptr;

    int written = capacity;
    int result = base64Decode(text, length, out, &written);
    Expected expected = referenceDecode(text, length, capacity);
    if (result != expected.result) {
        std::abort();
    }
    if (result == 0) {
        if (written != static_cast<int>(expected.bytes.size()) ||
            (written > 0 && std::memcmp(out, expected.bytes.data(), expected.bytes.size()) != 0)) {
            std::abort();
        }
    }
    std::free(out);
    std::free(text);
    return 0;
}
