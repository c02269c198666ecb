#include "client/cli/benchOptions.h"

#include <charconv>
#include <cmath>
#include <ostream>

#include "client/cli/cookieOptions.h"
#include "client/cli/optionTable.h"

namespace logoffcookie::cli {

namespace {

constexpr double kMaxDurationSeconds = 3600;

bool parseIntInRange(std::string_view text, int32_t low, int32_t high, int32_t& value) {
    int32_t parsed = 0;
    if (!parseInt32(text, parsed) || parsed < low || parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

// Seconds with an optional fraction, down to milliseconds.
bool parseSeconds(std::string_view text, std::chrono::milliseconds& value) {
    double seconds = 0;
    const char* end = text.data() + text.size();
    auto [stop, problem] = std::from_chars(text.data(), end, seconds);
    if (text.empty() || problem != std::errc() || stop != end || !(seconds > 0) ||
        seconds > kMaxDurationSeconds) {
        return false;
    }
    auto milliseconds = static_cast<int64_t>(std::llround(seconds * 1000));
    if (milliseconds == 0) {
        return false;
    }
    value = std::chrono::milliseconds(milliseconds);
    return true;
}

// What the table's options fill in; --duration is remembered so that it is
// not given together with --requests.
struct BenchTarget {
    BenchOptions& options;
    bool durationGiven = false;

    ClientOptions& connection() { return options.connection; }
};

using BenchOption = CommandOption<BenchTarget>;

template <int32_t BenchOptions::*field, int32_t low, int32_t high>
bool setInRange(std::string_view v, BenchTarget& t) {
    return parseIntInRange(v, low, high, t.options.*field);
}

template <bool BenchOptions::*flag>
bool setFlag(std::string_view, BenchTarget& t) {
    t.options.*flag = true;
    return true;
}

bool isNotEmpty(std::string_view text) {
    return !text.empty();
}

const BenchOption kBenchOptions[] = {
    {"--clients", "C", "concurrent clients, 1 to 1024 (default: 4)",
     setInRange<&BenchOptions::clients, 1, kMaxBenchClients>},
    {"--queries", "PERCENT", "share of queries, 0 to 100; the rest are adds (default: 100)",
     setInRange<&BenchOptions::queryPercent, 0, 100>},
    {"--cookies", "N", "distinct cookies, 1 to 100000 (default: 1000)",
     setInRange<&BenchOptions::cookies, 1, kMaxBenchCookies>},
    {"--duration", "SECONDS", "how long to run, fractions allowed (default: 5)",
     [](std::string_view v, BenchTarget& t) {
         t.durationGiven = true;
         return parseSeconds(v, t.options.duration);
     }},
    {"--requests", "N", "run this many requests instead of a duration",
     [](std::string_view v, BenchTarget& t) {
         int32_t count = 0;
         bool ok = parseIntInRange(v, 1, INT32_MAX, count);
         t.options.requests = count;
         return ok;
     }},
    {"--created", "TIME",
     "the cookies' creation time: seconds since 1970, or now+N (default: now+1)",
     [](std::string_view v, BenchTarget& t) {
         return parseTime(v, currentTime(), t.options.creationTime) && t.options.creationTime != 0;
     }},
    {"--prefill", "", "add every cookie once before measuring, so queries find them",
     setFlag<&BenchOptions::prefill>},
    {"--expect-raw", "", "count any 72-character reply as right (for logoffcookie-floor)",
     setFlag<&BenchOptions::expectRaw>},
    {"--encrypt-each", "", "encrypt every request anew, as agents do (default: once per cookie)",
     setFlag<&BenchOptions::encryptEach>},
    {"--tsv", "", "print one tab-separated line of figures instead of the report",
     setFlag<&BenchOptions::tsv>},
    {"--quiet", "", "show no progress (it is shown only when standard error is a terminal)",
     setFlag<&BenchOptions::quiet>},
    {"--socket", "PATH", "the service socket (default: $WA_INSTALL_PATH/logoffCookieSocket)",
     setSocketPath<BenchTarget, isNotEmpty>},
    {"--timeout", "MS", "longest wait for one answer, in milliseconds (default: 5000)",
     setConnectionWait<BenchTarget, &ClientOptions::timeout, false>},
    {"--socket-wait", "MS",
     "how long a missing or refusing socket is retried, per request (default: 1000)",
     setConnectionWait<BenchTarget, &ClientOptions::socketWait, true>},
};

}  // namespace

bool parseBenchCommand(const Arguments& args, BenchOptions& options, std::string& error) {
    options = BenchOptions{};
    BenchTarget target{options};
    const OptionsParsed parsed =
        parseCommandOptions<BenchTarget>(args, kBenchOptions, target, error);
    options.help = parsed == OptionsParsed::Help;
    if (parsed != OptionsParsed::Ok) {
        return options.help;
    }
    if (target.durationGiven && options.requests > 0) {
        error = "give either --duration or --requests, not both";
        return false;
    }
    return true;
}

void printBenchHelp(std::ostream& out) {
    out << "Usage: logoffcookie bench [options]\n\n"
           "Loads the service as agents do, one connection per request, from C\n"
           "concurrent clients, and reports answered requests per second, latency\n"
           "percentiles (connect to end of reply) and errors by kind. The cookies\n"
           "must be created after the service started, or queries are answered\n"
           "without a look into the cache.\n"
           "Against logoffcookie-floor, which answers every request with one fixed\n"
           "reply, give --expect-raw.\n\n";
    printCommandOptions<BenchTarget>(out, kBenchOptions, 22);
    out << "\nOptions also take the form --name=value. Exit status 0 when every\n"
           "request was answered right, 1 when any failed, 2 for a wrong command line.\n";
}

}  // namespace logoffcookie::cli
