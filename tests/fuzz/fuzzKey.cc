#include "tests/fuzz/fuzzKey.h"

#include <cstdlib>
#include <cstring>

KAE5_context* fuzzContext() {
    static KAE5_context* context = [] {
        uint8_t key[16];
        std::memcpy(key, kFuzzKey, sizeof key);
        KAE5_buffer keyBytes = {key, sizeof key, key, sizeof key};
        KAE5_context* created = nullptr;
        if (KAE5_crypto_init_context(2, &keyBytes, &created) != KAE5_OK) {
            std::abort();
        }
        return created;
    }();
    return context;
}

int fuzzKeySource(unsigned char* key) {
    std::memcpy(key, kFuzzKey, sizeof kFuzzKey);
    return 0;
}
