// The farm entry decoder on arbitrary fields, as any writer to the stream may
// send them. Input: one field a line, "name=value" (the name ends at the
// first '='); values may hold any byte but a newline. An accepted entry must
// come out of encoding it again the same, MAC and all.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

#include "share/shareEntry.h"
#include "tests/fuzz/fuzzShare.h"

namespace {

using Fields = std::vector<std::pair<std::string_view, std::string_view>>;

[[noreturn]] void fail() {
    std::abort();
}

Fields splitFields(std::string_view text) {
    Fields fields;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            fields.emplace_back(line, std::string_view());
        } else {
            fields.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        }
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    return fields;
}

bool sameLogoff(const FarmLogoff& a, const FarmLogoff& b) {
    const CookieTimes& x = a.times;
    const CookieTimes& y = b.times;
    return a.identity == b.identity && x.creationTime == y.creationTime &&
           x.lastUseTime == y.lastUseTime && x.timeOffset == y.timeOffset &&
           x.idleTimeoutMinutes == y.idleTimeoutMinutes &&
           x.maxLifetimeMinutes == y.maxLifetimeMinutes && x.cookieKind == y.cookieKind;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const FarmKey& key = fuzzFarmKey();
    Fields fields = splitFields(std::string_view(reinterpret_cast<const char*>(data), size));
    FarmLogoff logoff;
    ShareRunId sender{};
    ShareEntryCheck check = decodeShareEntry(key, fields, kFuzzOwnRun, logoff, &sender);
    if (check != ShareEntryCheck::Accepted) {
        return 0;
    }
    if (sender == kFuzzOwnRun) {
        fail();
    }
    // The MAC covers a fixed layout, not the text: written again in the
    // encoder's own way, the entry still verifies and says the same.
    ShareEntryFields again = encodeShareEntry(key, logoff, sender);
    Fields view;
    for (const auto& [name, value] : again) {
        view.emplace_back(name, value);
    }
    FarmLogoff second;
    if (decodeShareEntry(key, view, kFuzzOwnRun, second) != ShareEntryCheck::Accepted ||
        !sameLogoff(logoff, second)) {
        fail();
    }
    return 0;
}
