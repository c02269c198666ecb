// Lines for the operator: said on standard error, where whoever starts the
// service sees them, and in the trace, where they stand among the rest.
#pragma once

// Writes the formatted line (without its newline) to standard error, then to
// the trace at TRACE_DETAIL; a line longer than 1023 bytes is cut there.
__attribute__((format(printf, 1, 2))) void traceAndSay(const char* format, ...);
