// How the launcher refuses to start on a bad setting: before anything is
// forked, so no pid is printed and nothing is left running.
#pragma once

#include <string>

// Writes "logoffCookieAPI_ServerMain() -- `reason`" as one line to the trace
// and to standard error, and exits with 1.
[[noreturn]] void refuseStart(const std::string& reason);

// Reads a setting with `read` (readShareConfig, readStateConfig): true when
// it is on, false when off; refuses the start when it is refused.
template <typename Result, typename Config>
bool requireSetting(Result (*read)(Config& out, std::string& error), Config& config) {
    std::string error;
    Result result = read(config, error);
    if (result == Result::Refused) {
        refuseStart(error);
    }
    return result == Result::On;
}
