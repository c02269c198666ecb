#include "diag/operatorLine.h"

#include <cstdarg>
#include <cstdio>

#include "diag/traceLog.h"

void traceAndSay(const char* format, ...) {
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    std::fprintf(stderr, "%s\n", line);
    TRACE_LOG(TRACE_DETAIL, "%s", line);
}
