// The endpoint parser on arbitrary VOKLOGOFFSHARE values. An endpoint taken
// must be one a connection can be made to, with names that print as one line,
// and its description, which goes into messages, must name none of its users
// or passwords.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "share/shareConfig.h"

namespace {

[[noreturn]] void fail() {
    std::abort();
}

// A name that reaches messages as written: no control byte to cut a line.
bool printable(const std::string& name) {
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < ' ' || byte == 0x7f) {
            return false;
        }
    }
    return true;
}

// The description is the same whatever the credentials: then none of them
// can be in it, even where a password happens to match a piece of the host.
bool describedWithoutCredentials(const ShareEndpoint& endpoint) {
    ShareEndpoint other = endpoint;
    other.user = "\x01user";
    other.password = "\x01password";
    other.sentinelUser = "\x01sentinel user";
    other.sentinelPassword = "\x01sentinel password";
    return other.describe() == endpoint.describe();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    ShareEndpoint endpoint;
    std::string error;
    if (!parseShareEndpoint(text, endpoint, error)) {
        if (error.empty()) {
            fail();
        }
        return 0;
    }
    if (endpoint.db < 0 || (endpoint.unixSocket && endpoint.path.empty())) {
        fail();
    }
    if (!endpoint.unixSocket && !endpoint.viaSentinel() &&
        (endpoint.host.empty() || endpoint.port < 1 || endpoint.port > 65535)) {
        fail();
    }
    for (const SentinelAddress& sentinel : endpoint.sentinels) {
        if (sentinel.host.empty() || sentinel.port < 1 || sentinel.port > 65535) {
            fail();
        }
    }
    if (endpoint.viaSentinel() && endpoint.masterName.empty()) {
        fail();
    }
    if (!printable(endpoint.host) || !printable(endpoint.path) || !printable(endpoint.masterName) ||
        !describedWithoutCredentials(endpoint)) {
        fail();
    }
    return 0;
}
