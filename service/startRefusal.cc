#include "service/startRefusal.h"

#include <cstdlib>

#include "diag/operatorLine.h"

void refuseStart(const std::string& reason) {
    traceAndSay("logoffCookieAPI_ServerMain() -- %s", reason.c_str());
    std::exit(1);
}
