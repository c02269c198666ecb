#include "crypto/base64.h"

#include <array>
#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kPadding = 64;
constexpr uint8_t kInvalid = 255;

constexpr std::array<uint8_t, 256> makeDecodeTable() {
    std::array<uint8_t, 256> table{};
    for (auto& value : table) {
        value = kInvalid;
    }
    for (uint8_t i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(kAlphabet[i])] = i;
    }
    table['='] = kPadding;
    return table;
}

constexpr std::array<uint8_t, 256> kDecodeTable = makeDecodeTable();

}  // namespace

int base64Encode(const unsigned char* in, int inLen, char* out, int* outLen) {
    if (outLen == nullptr || inLen < 0 || (in == nullptr && inLen > 0) || *outLen < 0 ||
        (out == nullptr && *outLen > 0)) {
        return 3;
    }
    const long capacity = *outLen;
    long written = 0;
    int i = 0;
    for (; inLen - i >= 3; i += 3) {
        if (written + 4 > capacity) {
            return 3;
        }
        uint8_t b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
        out[written++] = kAlphabet[b0 >> 2];
        out[written++] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        out[written++] = kAlphabet[((b1 & 15) << 2) | (b2 >> 6)];
        out[written++] = kAlphabet[b2 & 63];
    }
    int remaining = inLen - i;
    if (remaining > 0) {
        if (written + 4 > capacity) {
            return 3;
        }
        uint8_t b0 = in[i];
        uint8_t b1 = remaining == 2 ? in[i + 1] : 0;
        out[written++] = kAlphabet[b0 >> 2];
        out[written++] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        out[written++] = remaining == 2 ? kAlphabet[(b1 & 15) << 2] : '=';
        out[written++] = '=';
    }
    *outLen = static_cast<int>(written);
    return 0;
}

int base64Decode(const char* in, int inLen, unsigned char* out, int* outLen) {
    if (inLen < 0 || inLen % 4 != 0) {
        return 2;
    }
    if (outLen == nullptr || (in == nullptr && inLen > 0) || *outLen < 0 ||
        (out == nullptr && *outLen > 0)) {
        return 3;
    }
    const long capacity = *outLen;
    long written = 0;
    for (int i = 0; i < inLen; i += 4) {
        uint8_t w = kDecodeTable[static_cast<unsigned char>(in[i])];
        uint8_t x = kDecodeTable[static_cast<unsigned char>(in[i + 1])];
        uint8_t y = kDecodeTable[static_cast<unsigned char>(in[i + 2])];
        uint8_t z = kDecodeTable[static_cast<unsigned char>(in[i + 3])];
        // Four alphabet characters (values below 64) with room for three
        // bytes: nearly every group, decoded without the checks below.
        if (((w | x | y | z) & 0xC0) == 0 && written + 3 <= capacity) {
            uint32_t bits = (uint32_t{w} << 18) | (uint32_t{x} << 12) | (uint32_t{y} << 6) | z;
            out[written] = static_cast<uint8_t>(bits >> 16);
            out[written + 1] = static_cast<uint8_t>(bits >> 8);
            out[written + 2] = static_cast<uint8_t>(bits);
            written += 3;
            continue;
        }
        if (w >= kPadding || x >= kPadding || y == kInvalid || z == kInvalid ||
            (y == kPadding && z != kPadding)) {
            return 1;
        }
        int padded = (y == kPadding) + (z == kPadding);
        if (written + 3 - padded > capacity) {
            return 3;
        }
        out[written++] = static_cast<uint8_t>((w << 2) | (x >> 4));
        if (padded < 2) {
            out[written++] = static_cast<uint8_t>(((x & 15) << 4) | (y >> 2));
        }
        if (padded == 0) {
            out[written++] = static_cast<uint8_t>(((y & 3) << 6) | z);
        }
    }
    *outLen = static_cast<int>(written);
    return 0;
}
