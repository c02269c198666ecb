#include "client/cli/benchStatistics.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <ostream>

namespace logoffcookie::cli {

namespace {

// The smallest value that at least `percent` of all values do not exceed.
int64_t nearestRank(const std::vector<int64_t>& sorted, double percent) {
    auto rank =
        static_cast<size_t>(std::ceil(percent / 100.0 * static_cast<double>(sorted.size())));
    return sorted[std::max<size_t>(rank, 1) - 1];
}

double milliseconds(int64_t nanos) {
    return static_cast<double>(nanos) / 1e6;
}

int64_t microseconds(int64_t nanos) {
    return (nanos + 500) / 1000;
}

}  // namespace

void BenchTally::record(ClientError outcome, int64_t nanos) {
    outcomes[static_cast<size_t>(outcome) < kErrorKinds ? outcome : LC_CLIENT_SYSTEM_ERROR] += 1;
    latencyNanos.push_back(nanos);
}

void BenchTally::merge(BenchTally&& other) {
    for (size_t kind = 0; kind < kErrorKinds; ++kind) {
        outcomes[kind] += other.outcomes[kind];
    }
    latencyNanos.insert(latencyNanos.end(), other.latencyNanos.begin(), other.latencyNanos.end());
    other.latencyNanos.clear();
}

int64_t BenchTally::errors() const {
    int64_t total = 0;
    for (size_t kind = LC_CLIENT_OK + 1; kind < kErrorKinds; ++kind) {
        total += outcomes[kind];
    }
    return total;
}

LatencySummary summarizeLatency(std::vector<int64_t>& nanos) {
    LatencySummary summary;
    if (nanos.empty()) {
        return summary;
    }
    std::sort(nanos.begin(), nanos.end());
    summary.p50 = nearestRank(nanos, 50);
    summary.p90 = nearestRank(nanos, 90);
    summary.p99 = nearestRank(nanos, 99);
    summary.max = nanos.back();
    return summary;
}

BenchSummary summarize(BenchTally& tally, int32_t clients, double seconds) {
    BenchSummary summary;
    summary.clients = clients;
    summary.seconds = seconds;
    summary.right = tally.right();
    summary.errors = tally.errors();
    summary.requestsPerSecond = seconds > 0 ? static_cast<double>(summary.right) / seconds : 0;
    summary.latency = summarizeLatency(tally.latencyNanos);
    return summary;
}

void printBenchReport(std::ostream& out, const BenchSummary& summary, const BenchTally& tally) {
    out << std::fixed << std::setprecision(2);
    out << "clients     " << summary.clients << "\n"
        << "elapsed     " << summary.seconds << " s\n"
        << "requests    " << summary.right + summary.errors << " (" << summary.right
        << " answered right, " << summary.errors << " failed)\n"
        << "throughput  " << std::setprecision(1) << summary.requestsPerSecond << " requests/s\n"
        << std::setprecision(3) << "latency     p50 " << milliseconds(summary.latency.p50)
        << " ms, p90 " << milliseconds(summary.latency.p90) << " ms, p99 "
        << milliseconds(summary.latency.p99) << " ms, max " << milliseconds(summary.latency.max)
        << " ms\n";
    if (summary.errors == 0) {
        out << "errors      none\n";
        return;
    }
    out << "errors\n";
    for (size_t kind = LC_CLIENT_OK + 1; kind < kErrorKinds; ++kind) {
        if (tally.outcomes[kind] != 0) {
            out << "  " << std::left << std::setw(30)
                << logoffCookieClient_errorName(static_cast<int>(kind)) << std::right
                << tally.outcomes[kind] << "  "
                << logoffCookieClient_errorText(static_cast<int>(kind)) << "\n";
        }
    }
}

void printBenchLine(std::ostream& out, const BenchSummary& summary) {
    out << summary.clients << '\t' << std::fixed << std::setprecision(3) << summary.seconds << '\t'
        << summary.right << '\t' << summary.errors << '\t' << std::setprecision(1)
        << summary.requestsPerSecond << '\t' << microseconds(summary.latency.p50) << '\t'
        << microseconds(summary.latency.p90) << '\t' << microseconds(summary.latency.p99) << '\t'
        << microseconds(summary.latency.max) << '\n';
}

}  // namespace logoffcookie::cli
