// logoffcookie health: one real round trip to the service, and optionally the
// age of its metrics file, for monitoring and for the systemd unit's start.
#pragma once

#include <chrono>
#include <iosfwd>
#include <string>

#include "client/logoffCookieClient.hpp"

namespace logoffcookie::cli {

inline constexpr std::chrono::milliseconds kDefaultHealthTimeout{2000};
// The worker rewrites its metrics file every 10 s: three writes missed.
inline constexpr std::chrono::seconds kMetricsFileMaxAge{30};

struct HealthOptions {
    std::string socketPath;  // empty: $WA_INSTALL_PATH/logoffCookieSocket
    // Bounds the wait for the socket and the answer together.
    std::chrono::milliseconds timeout = kDefaultHealthTimeout;
    std::string metricsPath;  // empty: the metrics file is not looked at
};

// Queries a fresh random cookie, which must be answered 0, within the
// time-out; then checks the metrics file when one is named. Prints the
// latency to `out` and returns 0, or the reason to `err` and returns 1.
int runHealthCheck(const HealthOptions& options, std::ostream& out, std::ostream& err);

// Empty when the file at `path` was written at most `maxAge` before `now`,
// otherwise why not.
std::string metricsFileProblem(const std::string& path, std::chrono::system_clock::time_point now,
                               std::chrono::seconds maxAge);

// Empty when the file at `path` reads as the text format and carries the
// service's families, otherwise why not.
std::string metricsContentProblem(const std::string& path);

}  // namespace logoffcookie::cli
