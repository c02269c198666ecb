// The service's diagnostic channel: lines switched on and filtered by
// VOKTRACELEVEL, written to the file named by VOKTRACEDEST or to stderr.
#pragma once

enum TraceMask : int {
    TRACE_ENTRY = 2,
    TRACE_EXIT = 4,
    TRACE_DETAIL = 8,
};

// Writes one line when `mask` shares a bit with VOKTRACELEVEL. `file` and
// `line` are the caller's; `format` is printf-style and expanded with the rest.
void traceLog(int mask, const char* file, int line, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// Passes the caller's source position, so call sites read like printf.
#define TRACE_LOG(mask, ...) traceLog((mask), __FILE__, __LINE__, __VA_ARGS__)
