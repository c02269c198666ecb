#include "service/startRefusal.h"

#include <cstdio>
#include <cstdlib>

#include "diag/traceLog.h"

void refuseStart(const std::string& reason) {
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_ServerMain() -- %s", reason.c_str());
    std::fprintf(stderr, "logoffCookieAPI_ServerMain() -- %s\n", reason.c_str());
    std::exit(1);
}
