#include "crypto/secureMemory.h"

#include <cstdint>
#include <cstring>

void secureZero(void* p, size_t len) {
    if (p != nullptr && len > 0) {
        explicit_bzero(p, len);
    }
}

bool constantTimeEqual(const void* a, const void* b, size_t len) {
    const auto* x = static_cast<const volatile uint8_t*>(a);
    const auto* y = static_cast<const volatile uint8_t*>(b);
    uint8_t difference = 0;
    for (size_t i = 0; i < len; ++i) {
        difference |= static_cast<uint8_t>(x[i] ^ y[i]);
    }
    return difference == 0;
}
