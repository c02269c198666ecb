// How the launcher refuses to start on a bad setting: before anything is
// forked, so no pid is printed and nothing is left running.
#pragma once

#include <string>

// Writes "logoffCookieAPI_ServerMain() -- `reason`" as one line to the trace
// and to standard error, and exits with 1.
[[noreturn]] void refuseStart(const std::string& reason);
