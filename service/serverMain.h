// The service process's start-up: the launcher, the monitor and the worker.
#pragma once

// The process name every instance runs under; the single-instance check
// looks for it.
inline constexpr const char kServiceProcessName[] = "VOKLogoffCookieService";

// The whole start-up; returns only through exit in one of the processes.
[[noreturn]] void logoffCookieAPI_ServerMain();
