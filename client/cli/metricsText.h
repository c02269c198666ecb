// Reading the service's metrics file as the node exporter's textfile
// collector does: the Prometheus text exposition format, strictly, so that a
// file the collector would refuse fails the health check instead of
// vanishing from the dashboards.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace logoffcookie::cli {

// Families every version of the service writes: a file without them is not
// the service's, or was cut short.
inline constexpr std::string_view kServiceMetricFamilies[] = {
    "voklogoffcookie_requests_total", "voklogoffcookie_connections_accepted_total",
    "voklogoffcookie_cookies_cached", "voklogoffcookie_start_time_seconds",
    "voklogoffcookie_build_info",
};

// Empty when `text` parses as the text format and has a sample of each of
// `families`; otherwise the first problem, with its line number.
std::string metricsTextProblem(std::string_view text, std::span<const std::string_view> families);

}  // namespace logoffcookie::cli
