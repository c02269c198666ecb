#include "client/cli/benchOptions.h"

#include <charconv>
#include <cmath>
#include <iomanip>
#include <ostream>

#include "client/cli/cookieOptions.h"

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

struct BenchOptionSpec {
    std::string_view name;
    std::string_view valueName;  // empty for a flag
    std::string_view help;
    bool (*apply)(std::string_view value, BenchOptions& options);
};

const BenchOptionSpec kBenchOptions[] = {
    {"--clients", "C", "concurrent clients, 1 to 1024 (default: 4)",
     [](std::string_view v, BenchOptions& o) {
         return parseIntInRange(v, 1, kMaxBenchClients, o.clients);
     }},
    {"--queries", "PERCENT", "share of queries, 0 to 100; the rest are adds (default: 100)",
     [](std::string_view v, BenchOptions& o) {
         return parseIntInRange(v, 0, 100, o.queryPercent);
     }},
    {"--cookies", "N", "distinct cookies, 1 to 100000 (default: 1000)",
     [](std::string_view v, BenchOptions& o) {
         return parseIntInRange(v, 1, kMaxBenchCookies, o.cookies);
     }},
    {"--duration", "SECONDS", "how long to run, fractions allowed (default: 5)",
     [](std::string_view v, BenchOptions& o) { return parseSeconds(v, o.duration); }},
    {"--requests", "N", "run this many requests instead of a duration",
     [](std::string_view v, BenchOptions& o) {
         int32_t count = 0;
         bool ok = parseIntInRange(v, 1, INT32_MAX, count);
         o.requests = count;
         return ok;
     }},
    {"--created", "TIME",
     "the cookies' creation time: seconds since 1970, or now+N (default: now+1)",
     [](std::string_view v, BenchOptions& o) {
         return parseTime(v, currentTime(), o.creationTime) && o.creationTime != 0;
     }},
    {"--prefill", "", "add every cookie once before measuring, so queries find them",
     [](std::string_view, BenchOptions& o) { return o.prefill = true; }},
    {"--expect-raw", "", "count any 72-character reply as right (for logoffcookie-floor)",
     [](std::string_view, BenchOptions& o) { return o.expectRaw = true; }},
    {"--encrypt-each", "", "encrypt every request anew, as agents do (default: once per cookie)",
     [](std::string_view, BenchOptions& o) { return o.encryptEach = true; }},
    {"--tsv", "", "print one tab-separated line of figures instead of the report",
     [](std::string_view, BenchOptions& o) { return o.tsv = true; }},
    {"--quiet", "", "show no progress (it is shown only when standard error is a terminal)",
     [](std::string_view, BenchOptions& o) { return o.quiet = true; }},
    {"--socket", "PATH", "the service socket (default: $WA_INSTALL_PATH/logoffCookieSocket)",
     [](std::string_view v, BenchOptions& o) {
         o.connection.socketPath = std::string(v);
         return !v.empty();
     }},
    {"--timeout", "MS", "longest wait for one answer, in milliseconds (default: 5000)",
     [](std::string_view v, BenchOptions& o) {
         int32_t milliseconds = 0;
         bool ok = parseIntInRange(v, 1, INT32_MAX, milliseconds);
         o.connection.timeout = std::chrono::milliseconds(milliseconds);
         return ok;
     }},
    {"--socket-wait", "MS",
     "how long a missing or refusing socket is retried, per request (default: 1000)",
     [](std::string_view v, BenchOptions& o) {
         int32_t milliseconds = 0;
         bool ok = parseIntInRange(v, 0, INT32_MAX, milliseconds);
         o.connection.socketWait = std::chrono::milliseconds(milliseconds);
         return ok;
     }},
};

const BenchOptionSpec* findBenchOption(std::string_view name) {
    for (const BenchOptionSpec& option : kBenchOptions) {
        if (option.name == name) {
            return &option;
        }
    }
    return nullptr;
}

std::string quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

}  // namespace

bool parseBenchCommand(const Arguments& args, BenchOptions& options, std::string& error) {
    options = BenchOptions{};
    bool durationGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return true;
        }
        std::string_view name = arg;
        std::string_view value;
        bool inlineValue = false;
        if (size_t equals = arg.find('='); arg.substr(0, 2) == "--" && equals != arg.npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            inlineValue = true;
        }
        const BenchOptionSpec* option = findBenchOption(name);
        if (option == nullptr) {
            error = "unknown argument " + quoted(arg);
            return false;
        }
        if (option->valueName.empty()) {
            if (inlineValue) {
                error = quoted(name) + " takes no value";
                return false;
            }
        } else if (!inlineValue) {
            if (i + 1 == args.size()) {
                error = quoted(name) + " needs a value (" + std::string(option->valueName) + ")";
                return false;
            }
            value = args[++i];
        }
        if (!option->apply(value, options)) {
            error = "bad value " + quoted(value) + " for " + std::string(name) + ": expected " +
                    std::string(option->valueName) + ", " + std::string(option->help);
            return false;
        }
        durationGiven = durationGiven || name == "--duration";
    }
    if (durationGiven && options.requests > 0) {
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
           "reply, give --expect-raw.\n\n"
           "Options:\n";
    for (const BenchOptionSpec& option : kBenchOptions) {
        std::string head = std::string(option.name);
        if (!option.valueName.empty()) {
            head += " " + std::string(option.valueName);
        }
        out << "  " << std::left << std::setw(22) << head << option.help << "\n";
    }
    out << "  " << std::left << std::setw(22) << "--help"
        << "this text\n"
        << "\nOptions also take the form --name=value. Exit status 0 when every\n"
           "request was answered right, 1 when any failed, 2 for a wrong command line.\n";
}

}  // namespace logoffcookie::cli
