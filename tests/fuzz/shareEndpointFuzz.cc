// The endpoint parser on arbitrary VOKLOGOFFSHARE values. An endpoint taken
// must be one a connection can be made to, and its description, which goes
// into messages, must name none of its users or passwords.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "share/shareConfig.h"

namespace {

[[noreturn]] void fail() {
    std::abort();
}

// Whether `secret` shows in `described` where the endpoint's other parts
// do not explain it.
bool leaks(const std::string& described, const std::string& secret, const ShareEndpoint& e) {
    if (secret.size() < 6 || described.find(secret) == std::string::npos) {
        return false;
    }
    std::string named = e.host + " " + e.path + " " + e.masterName;
    for (const SentinelAddress& sentinel : e.sentinels) {
        named += " " + sentinel.host;
    }
    return named.find(secret) == std::string::npos;
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
    const std::string described = endpoint.describe();
    if (leaks(described, endpoint.password, endpoint) ||
        leaks(described, endpoint.user, endpoint) ||
        leaks(described, endpoint.sentinelPassword, endpoint) ||
        leaks(described, endpoint.sentinelUser, endpoint)) {
        fail();
    }
    return 0;
}
