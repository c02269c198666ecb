#include "state/stateConfig.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

StateConfigResult readStateConfig(StateConfig& out, std::string& error) {
    const char* path = std::getenv("VOKLOGOFFSTATE");
    if (path == nullptr || *path == '\0') {
        return StateConfigResult::Off;
    }
    // The worker keeps the caller's working directory, which a relative path
    // would silently depend on.
    if (path[0] != '/') {
        error = "VOKLOGOFFSTATE must be an absolute path";
        return StateConfigResult::Refused;
    }
    out.path = path;

    const char* maxAge = std::getenv("VOKLOGOFFSTATEMAXAGE");
    if (maxAge != nullptr && *maxAge != '\0') {
        const char* end = maxAge + std::strlen(maxAge);
        std::int32_t seconds = -1;
        auto [stop, failure] = std::from_chars(maxAge, end, seconds);
        if (failure != std::errc() || stop != end || seconds < 0) {
            error = "VOKLOGOFFSTATEMAXAGE must be a number of seconds";
            return StateConfigResult::Refused;
        }
        out.maxAgeSeconds = seconds;
    }
    return StateConfigResult::On;
}
