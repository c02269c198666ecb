#include "tests/fuzz/fuzzShare.h"

#include <string>

namespace {

struct StateKeyBytes {
    StateKeyBytes() {
        for (std::size_t i = 0; i < sizeof bytes; ++i) {
            bytes[i] = static_cast<std::uint8_t>(i + 1);
        }
    }
    std::uint8_t bytes[kStateKeySize];
};

}  // namespace

const FarmKey& fuzzFarmKey() {
    static const std::string secret(40, 'k');
    static const FarmKey key(reinterpret_cast<const std::uint8_t*>(secret.data()), secret.size());
    return key;
}

const StateKey& fuzzStateKey() {
    static const StateKey key(StateKeyBytes().bytes);
    return key;
}
