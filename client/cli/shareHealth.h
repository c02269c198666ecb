// What `logoffcookie health --metrics` finds wrong with farm sharing in the
// service's metrics file: sharing that looks healthy from the outside while
// it carries nothing.
#pragma once

#include <string>

namespace logoffcookie::cli {

// Longest time a host with sharing on may go without reading from Redis.
inline constexpr double kShareReadMaxAgeSeconds = 60;

// Empty when the metrics text shows sharing off, or on and working;
// otherwise the reason, on one line: no read from Redis for more than
// kShareReadMaxAgeSeconds, publishing refused, or more than half of the
// entries read in the last minute not signed with the farm secret.
std::string shareHealthProblem(const std::string& metricsText);

}  // namespace logoffcookie::cli
