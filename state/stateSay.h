// The warm restart's lines for the operator: each one on standard error and
// in the trace, since a start that comes up cold signs users out.
#pragma once

__attribute__((format(printf, 1, 2))) void stateSay(const char* format, ...);
