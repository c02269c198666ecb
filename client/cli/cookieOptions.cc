#include "client/cli/cookieOptions.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <ostream>
#include <span>
#include <vector>

#include "client/cli/optionTable.h"
#include "protocol/requestLayout.h"
#include "protocol/socketPath.h"

namespace logoffcookie::cli {

namespace {

bool parseInt64(std::string_view text, int64_t& value) {
    const char* end = text.data() + text.size();
    auto [stop, problem] = std::from_chars(text.data(), end, value);
    return !text.empty() && problem == std::errc() && stop == end;
}

template <typename Int>
bool parseInRange(std::string_view text, Int& value) {
    int64_t wide = 0;
    if (!parseInt64(text, wide) || wide < std::numeric_limits<Int>::min() ||
        wide > std::numeric_limits<Int>::max()) {
        return false;
    }
    value = static_cast<Int>(wide);
    return true;
}

bool fitsTextField(std::string_view text) {
    return text.size() <= kCookieTextSize;
}

// The library would refuse a longer path only when the request is sent, as a
// failed request; here it is what it is, a wrong command line.
bool fitsSocketAddress(std::string_view path) {
    return !path.empty() && path.size() <= kMaxSocketPathLength;
}

// What the table's options fill in: the command, and the time "now" in
// TIME values stands for.
struct CookieTarget {
    CookieCommand& command;
    int32_t now;

    ClientOptions& connection() { return command.options; }
};

using CookieOption = CommandOption<CookieTarget>;

template <int32_t Cookie::*field>
bool setTime(std::string_view v, CookieTarget& t) {
    return parseTime(v, t.now, t.command.cookie.*field);
}

template <int32_t Cookie::*field>
bool setInt32(std::string_view v, CookieTarget& t) {
    return parseInt32(v, t.command.cookie.*field);
}

template <uint32_t Cookie::*field>
bool setUint32(std::string_view v, CookieTarget& t) {
    return parseUint32(v, t.command.cookie.*field);
}

// A text of the cookie: a view of the argument itself.
template <std::string_view Cookie::*field, bool required>
bool setText(std::string_view v, CookieTarget& t) {
    t.command.cookie.*field = v;
    return (!required || !v.empty()) && fitsTextField(v);
}

// Every option of add, in the order of the help text.
const CookieOption kOptions[] = {
    {"--text", "TEXT", "the cookie text, 1 to 64 bytes (required)", setText<&Cookie::text, true>},
    {"--bytes", "TEXT", "the second cookie text, at most 64 bytes (default: empty)",
     setText<&Cookie::bytes, false>},
    {"--created", "TIME", "the cookie's creation time, TIME below (default: now)",
     setTime<&Cookie::creationTime>},
    {"--last-use", "TIME", "the cookie's last use, TIME below (default: now)",
     setTime<&Cookie::lastUseTime>},
    {"--offset", "SECONDS", "the issuer's clock minus this host's clock (default: 0)",
     setInt32<&Cookie::timeOffset>},
    {"--max-lifetime", "MINUTES", "maximum lifetime from creation (default: 120)",
     setUint32<&Cookie::maxLifetimeMinutes>},
    {"--idle-timeout", "MINUTES", "idle timeout from last use, 0 for none (default: 0)",
     setUint32<&Cookie::idleTimeoutMinutes>},
    {"--kind", "N", "the cookie kind: 1, 2, or 0 for any other (default: 0)",
     setInt32<&Cookie::cookieKind>},
    {"--socket", "PATH",
     "the service socket, at most 107 bytes (default: $WA_INSTALL_PATH/logoffCookieSocket)",
     setSocketPath<CookieTarget, fitsSocketAddress>},
    {"--timeout", "MS", "longest wait for the answer, in milliseconds (default: 5000)",
     setConnectionWait<CookieTarget, &ClientOptions::timeout, false>},
    {"--socket-wait", "MS", "how long a missing or refusing socket is retried (default: 1000)",
     setConnectionWait<CookieTarget, &ClientOptions::socketWait, true>},
    {"--raw", "", "print the reply's value instead of words: 1 cached, 0 not cached, -1 added",
     [](std::string_view, CookieTarget& t) {
         t.command.raw = true;
         return true;
     }},
};

// The options of add that query lacks.
constexpr std::string_view kAddOnly[] = {"--last-use", "--kind"};

std::vector<CookieOption> optionsOf(RequestKind kind) {
    std::vector<CookieOption> options;
    for (const CookieOption& option : kOptions) {
        if (kind == RequestKind::Add ||
            std::ranges::find(kAddOnly, option.name) == std::end(kAddOnly)) {
            options.push_back(option);
        }
    }
    return options;
}

std::span<const CookieOption> optionTable(RequestKind kind) {
    static const std::vector<CookieOption> query = optionsOf(RequestKind::Query);
    static const std::vector<CookieOption> add = optionsOf(RequestKind::Add);
    return kind == RequestKind::Add ? add : query;
}

std::string_view kindName(RequestKind kind) {
    return kind == RequestKind::Add ? "add" : "query";
}

}  // namespace

bool parseInt32(std::string_view text, int32_t& value) {
    return parseInRange(text, value);
}

bool parseUint32(std::string_view text, uint32_t& value) {
    return parseInRange(text, value);
}

bool parseTime(std::string_view text, int32_t now, int32_t& value) {
    if (text.substr(0, 3) != "now") {
        return parseInt32(text, value);
    }
    std::string_view change = text.substr(3);
    if (change.empty()) {
        value = now;
        return true;
    }
    int64_t seconds = 0;
    if ((change[0] != '+' && change[0] != '-') || !parseInt64(change.substr(1), seconds) ||
        seconds < 0) {
        return false;
    }
    // N is compared with the room on its side of now before anything is
    // added: N itself may be near the 64-bit limit.
    const bool later = change[0] == '+';
    const int64_t room = later ? int64_t{std::numeric_limits<int32_t>::max()} - now
                               : int64_t{now} - std::numeric_limits<int32_t>::min();
    if (seconds > room) {
        return false;
    }
    value = static_cast<int32_t>(later ? now + seconds : now - seconds);
    return true;
}

bool parseMilliseconds(std::string_view text, bool zeroAllowed, std::chrono::milliseconds& value) {
    int32_t count = 0;
    if (!parseInt32(text, count) || count < 0 || (count == 0 && !zeroAllowed)) {
        return false;
    }
    value = std::chrono::milliseconds(count);
    return true;
}

bool parseCookieCommand(const Arguments& args, RequestKind kind, int32_t now,
                        CookieCommand& command, std::string& error) {
    command = CookieCommand{};
    command.cookie.creationTime = now;
    command.cookie.lastUseTime = now;
    CookieTarget target{command, now};
    const OptionsParsed parsed = parseCommandOptions<CookieTarget>(
        args, optionTable(kind), target, error, {optionTable(RequestKind::Add), "add"});
    command.help = parsed == OptionsParsed::Help;
    if (parsed != OptionsParsed::Ok) {
        return command.help;
    }
    // --text refuses an empty value, so an empty text was never given.
    if (command.cookie.text.empty()) {
        error = "--text is required";
        return false;
    }
    return true;
}

void printCookieOptions(std::ostream& out, RequestKind kind) {
    printCommandOptions<CookieTarget>(out, optionTable(kind), 24);
    out << "\nTIME is seconds since 1970-01-01 00:00 UTC (a decimal integer, may be\n"
           "negative), 'now', or 'now+N' / 'now-N' with N in seconds. Every time must\n"
           "fit 32 bits: the protocol carries none after 2038-01-19 03:14:07 UTC.\n"
           "Options also take the form --name=value; each may be given once.\n";
}

int reportFailure(std::ostream& err, std::string_view commandName, const ClientStatus& status,
                  const ClientOptions& options) {
    std::string socket = options.socketPath;
    if (socket.empty()) {
        const char* installPath = socketDirectory();
        socket = installPath != nullptr ? socketPathIn(installPath)
                                        : socketPathIn(std::string("$") + kInstallPathVariable);
    }
    err << "logoffcookie " << commandName << ": " << status.message() << " ("
        << logoffCookieClient_errorName(status.error) << "); socket " << socket << "\n";
    return kExitFailure;
}

int runCookieCommand(const Arguments& args, RequestKind kind, void (*printHelp)(std::ostream&),
                     CookieRequest request, std::ostream& out, std::ostream& err) {
    CookieCommand command;
    std::string error;
    if (!parseCookieCommand(args, kind, currentTime(), command, error)) {
        return refuseCommandLine(err, kindName(kind), error);
    }
    if (command.help) {
        printHelp(out);
        return kExitSuccess;
    }
    ClientStatus status = request(command, out);
    if (!status.ok()) {
        return reportFailure(err, kindName(kind), status, command.options);
    }
    return kExitSuccess;
}

}  // namespace logoffcookie::cli
