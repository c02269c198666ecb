// The service process: start-up, the three processes and their signals, and
// the hand-over to the client loop.
#pragma once

#include <sys/types.h>

// The process name every instance runs under; the single-instance check
// looks for it.
inline constexpr const char kServiceProcessName[] = "VOKLogoffCookieService";
inline constexpr const char kSocketFileName[] = "logoffCookieSocket";

// The whole start-up; returns only through exit in one of the processes.
[[noreturn]] void logoffCookieAPI_ServerMain();

// Serves the listening descriptor for ever, one thread per connection.
[[noreturn]] void logoffCookieAPI_clientLoop(int fd_socket);
