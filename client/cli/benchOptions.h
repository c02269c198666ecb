// The command line of logoffcookie bench: how many clients, which requests,
// for how long, and against what kind of server.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "client/cli/subcommand.h"
#include "client/logoffCookieClient.hpp"

namespace logoffcookie::cli {

inline constexpr int32_t kMaxBenchClients = 1024;
// Every distinct cookie keeps its encrypted requests in memory (about 1.4 kB each).
inline constexpr int32_t kMaxBenchCookies = 100000;

struct BenchOptions {
    int32_t clients = 4;
    int32_t queryPercent = 100;  // the rest are adds
    int32_t cookies = 1000;      // distinct cookies the requests are spread over
    std::chrono::milliseconds duration{5000};
    int64_t requests = 0;  // when positive, this many requests instead of the duration
    // The cookies' creation time; 0 means a second after now. Runs that give
    // the same time send the same cookies.
    int32_t creationTime = 0;
    bool prefill = false;      // add every cookie once before measuring
    bool expectRaw = false;    // any 72-character reply counts as right (the floor server)
    bool encryptEach = false;  // encrypt every request anew instead of once per cookie
    bool tsv = false;          // one tab-separated line instead of the report
    bool quiet = false;        // no progress, even on a terminal
    ClientOptions connection;
    bool help = false;  // --help was asked for: nothing else was checked
};

// Parses the arguments after "bench". On failure `error` names the argument.
bool parseBenchCommand(const Arguments& args, BenchOptions& options, std::string& error);

void printBenchHelp(std::ostream& out);

}  // namespace logoffcookie::cli
