// What one bench run measured, and how it is printed.
#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <vector>

#include "client/logoffCookieClient.hpp"

namespace logoffcookie::cli {

// One slot per client error value; LC_CLIENT_OK counts the right answers.
inline constexpr size_t kErrorKinds = LC_CLIENT_SYSTEM_ERROR + 1;

struct BenchTally {
    std::array<int64_t, kErrorKinds> outcomes{};
    std::vector<int64_t> latencyNanos;  // of every request, right or not

    void record(ClientError outcome, int64_t nanos);
    // Folds another client's tally into this one.
    void merge(BenchTally&& other);
    int64_t right() const { return outcomes[LC_CLIENT_OK]; }
    int64_t errors() const;
};

struct LatencySummary {
    int64_t p50 = 0, p90 = 0, p99 = 0, max = 0;  // nanoseconds
};

// Nearest-rank percentiles; sorts `nanos`. All zero when it is empty.
LatencySummary summarizeLatency(std::vector<int64_t>& nanos);

struct BenchSummary {
    int32_t clients = 0;
    double seconds = 0;
    int64_t right = 0;
    int64_t errors = 0;
    double requestsPerSecond = 0;  // right answers only
    LatencySummary latency;
};

BenchSummary summarize(BenchTally& tally, int32_t clients, double seconds);

// The readable report: figures, then the errors by kind.
void printBenchReport(std::ostream& out, const BenchSummary& summary, const BenchTally& tally);

// One line: clients, seconds, right, errors, requests/s, then p50, p90, p99
// and max in microseconds, tab-separated.
void printBenchLine(std::ostream& out, const BenchSummary& summary);

}  // namespace logoffcookie::cli
