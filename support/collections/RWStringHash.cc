#include "support/collections/RWStringHash.h"

#include <cstddef>

namespace {

std::uint32_t rotl5(std::uint32_t value) {
    return (value << 5) | (value >> 27);
}

std::uint32_t load32Le(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

std::uint32_t rwStringHash(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t length = text.size();
    auto h = static_cast<std::uint32_t>(length);

    std::size_t at = 0;
    for (; at + 4 <= length; at += 4) {
        h = rotl5(h) ^ load32Le(bytes + at);
    }
    if (at < length) {
        std::uint32_t tail = 0;
        for (; at < length; ++at) {
            auto extended = static_cast<std::int32_t>(static_cast<signed char>(bytes[at]));
            tail = (tail << 8) | static_cast<std::uint32_t>(extended);
        }
        h = rotl5(h) ^ tail;
    }
    return h;
}
