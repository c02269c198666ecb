// Lines for the operator: what farm sharing says goes to standard error,
// where whoever starts the service sees it, and to the trace. Repeated
// conditions are said at most once per kShareNoticePeriod and reason.
#pragma once

#include <chrono>
#include <string>

// Writes the line (without its newline) to the trace, then to standard
// error. Not traceAndSay: these lines carry Redis's replies and the
// endpoint, and are written whole, where traceAndSay cuts at 1023 bytes.
void shareSay(const std::string& line);

// For conditions an operator must mend: once a minute per reason.
inline constexpr std::chrono::seconds kShareNoticePeriod{60};

// shareSay, unless a line of the same `reason` was said less than
// kShareNoticePeriod ago; true when said. Reasons are held for a period
// each, a bounded number at a time (diag/keyedOncePerInterval.h): beyond
// that, the lines of reasons without room are said once a period together.
bool shareNotice(const std::string& reason, const std::string& line);
