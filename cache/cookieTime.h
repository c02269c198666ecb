// Time arithmetic of the cache. Times are 32-bit signed seconds and wrap
// around like the clocks that produce them; the sums are done in uint32_t,
// where wrapping is defined, and turned back into int32_t (modulo 2^32).
#pragma once

#include <cstdint>

inline std::int32_t wrappingAdd(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

inline std::int32_t wrappingSubtract(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

// A timeout in minutes as seconds, wrapping as the 32-bit product does.
inline std::int32_t minutesAsSeconds(std::uint32_t minutes) {
    return static_cast<std::int32_t>(minutes * 60u);
}
