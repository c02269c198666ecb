// Lines for the operator: what farm sharing says goes to standard error,
// where whoever starts the service sees it, and to the trace. Repeated
// conditions are said at most once per period and reason.
#pragma once

#include <chrono>
#include <string>

// Writes the line (without its newline) to standard error and the trace.
void shareSay(const std::string& line);

// shareSay, unless a line of the same `reason` was said less than `period`
// ago; true when said.
bool shareSayAtMostEvery(const std::string& reason, std::chrono::seconds period,
                         const std::string& line);

// For conditions an operator must mend: once a minute per reason.
inline constexpr std::chrono::seconds kShareNoticePeriod{60};
