// The credentials file parser on arbitrary files. What it takes must read as
// the file's format says; what it refuses it must refuse without quoting the
// file, which holds passwords.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "share/shareCredentials.h"

namespace {

[[noreturn]] void fail() {
    std::abort();
}

// A line that no message text could hold by chance: long, and with a byte
// that none of the parser's own texts has.
bool distinctive(std::string_view line) {
    if (line.size() < 8) {
        return false;
    }
    for (char c : line) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 || byte < 0x20 ||
            std::string_view("#$&*!~`^|").find(c) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

void checkCredential(const ShareCredential& credential) {
    if (credential.password.empty() || credential.password.find('\n') != std::string::npos ||
        credential.user.find(' ') != std::string::npos ||
        credential.user.find('\n') != std::string::npos) {
        fail();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ShareCredentials credentials;
    std::string error;
    if (parseShareCredentials(text, credentials, error)) {
        checkCredential(credentials.dataNodes);
        if (credentials.forSentinels) {
            checkCredential(credentials.sentinels);
        }
        return 0;
    }
    if (error.empty()) {
        fail();
    }
    std::string_view rest = text;
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        if (distinctive(line) && error.find(line) != std::string::npos) {
            fail();
        }
        if (end == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(end + 1);
    }
    return 0;
}
