#include "client/cli/cookieOptions.h"

#include <charconv>
#include <cstdlib>
#include <iomanip>
#include <limits>
#include <ostream>

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

bool parseMilliseconds(std::string_view text, bool zeroAllowed, std::chrono::milliseconds& value) {
    int32_t count = 0;
    if (!parseInt32(text, count) || count < 0 || (count == 0 && !zeroAllowed)) {
        return false;
    }
    value = std::chrono::milliseconds(count);
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

struct OptionSpec {
    std::string_view name;
    std::string_view valueName;  // empty for a flag
    bool addOnly;
    std::string_view help;
    // False when the value is not acceptable.
    bool (*apply)(std::string_view value, int32_t now, CookieCommand& command);
};

const OptionSpec kOptions[] = {
    {"--text", "TEXT", false, "the cookie text, 1 to 64 bytes (required)",
     [](std::string_view v, int32_t, CookieCommand& c) {
         c.cookie.text = v;
         return !v.empty() && fitsTextField(v);
     }},
    {"--bytes", "TEXT", false, "the second cookie text, at most 64 bytes (default: empty)",
     [](std::string_view v, int32_t, CookieCommand& c) {
         c.cookie.bytes = v;
         return fitsTextField(v);
     }},
    {"--created", "TIME", false, "the cookie's creation time, TIME below (default: now)",
     [](std::string_view v, int32_t now, CookieCommand& c) {
         return parseTime(v, now, c.cookie.creationTime);
     }},
    {"--last-use", "TIME", true, "the cookie's last use, TIME below (default: now)",
     [](std::string_view v, int32_t now, CookieCommand& c) {
         return parseTime(v, now, c.cookie.lastUseTime);
     }},
    {"--offset", "SECONDS", false, "the issuer's clock minus this host's clock (default: 0)",
     [](std::string_view v, int32_t, CookieCommand& c) {
         return parseInt32(v, c.cookie.timeOffset);
     }},
    {"--max-lifetime", "MINUTES", false, "maximum lifetime from creation (default: 120)",
     [](std::string_view v, int32_t, CookieCommand& c) {
         return parseUint32(v, c.cookie.maxLifetimeMinutes);
     }},
    {"--idle-timeout", "MINUTES", false, "idle timeout from last use, 0 for none (default: 0)",
     [](std::string_view v, int32_t, CookieCommand& c) {
         return parseUint32(v, c.cookie.idleTimeoutMinutes);
     }},
    {"--kind", "N", true, "the cookie kind: 1, 2, or 0 for any other (default: 0)",
     [](std::string_view v, int32_t, CookieCommand& c) {
         return parseInt32(v, c.cookie.cookieKind);
     }},
    {"--socket", "PATH", false,
     "the service socket, at most 107 bytes (default: $WA_INSTALL_PATH/logoffCookieSocket)",
     [](std::string_view v, int32_t, CookieCommand& c) {
         c.options.socketPath = std::string(v);
         return fitsSocketAddress(v);
     }},
    {"--timeout", "MS", false, "longest wait for the answer, in milliseconds (default: 5000)",
     [](std::string_view v, int32_t, CookieCommand& c) {
         return parseMilliseconds(v, false, c.options.timeout);
     }},
    {"--socket-wait", "MS", false,
     "how long a missing or refusing socket is retried (default: 1000)",
     [](std::string_view v, int32_t, CookieCommand& c) {
         return parseMilliseconds(v, true, c.options.socketWait);
     }},
    {"--raw", "", false,
     "print the reply's value instead of words: 1 cached, 0 not cached, -1 added",
     [](std::string_view, int32_t, CookieCommand& c) {
         c.raw = true;
         return true;
     }},
};

constexpr size_t kOptionCount = sizeof kOptions / sizeof kOptions[0];

const OptionSpec* findOption(std::string_view name, RequestKind kind) {
    for (const OptionSpec& option : kOptions) {
        if (option.name == name && (!option.addOnly || kind == RequestKind::Add)) {
            return &option;
        }
    }
    return nullptr;
}

std::string quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
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

bool parseCookieCommand(const Arguments& args, RequestKind kind, int32_t now,
                        CookieCommand& command, std::string& error) {
    command = CookieCommand{};
    command.cookie.creationTime = now;
    command.cookie.lastUseTime = now;
    // An option given twice is refused rather than the last one winning: a
    // script that says --created twice has said two different things.
    bool given[kOptionCount] = {};
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            command.help = true;
            return true;
        }
        // Both "--name value" and "--name=value".
        std::string_view name = arg;
        std::string_view value;
        bool inlineValue = false;
        if (size_t equals = arg.find('='); arg.substr(0, 2) == "--" && equals != arg.npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            inlineValue = true;
        }
        const OptionSpec* option = findOption(name, kind);
        if (option == nullptr) {
            error = findOption(name, RequestKind::Add) != nullptr
                        ? quoted(name) + " is only for add"
                        : "unknown argument " + quoted(arg);
            return false;
        }
        bool& seen = given[static_cast<size_t>(option - kOptions)];
        if (seen) {
            error = quoted(name) + " is given more than once";
            return false;
        }
        seen = true;
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
        if (!option->apply(value, now, command)) {
            error = "bad value " + quoted(value) + " for " + std::string(name) + ": expected " +
                    std::string(option->valueName) + ", " + std::string(option->help);
            return false;
        }
    }
    if (!given[static_cast<size_t>(findOption("--text", kind) - kOptions)]) {
        error = "--text is required";
        return false;
    }
    return true;
}

void printCookieOptions(std::ostream& out, RequestKind kind) {
    out << "Options:\n";
    for (const OptionSpec& option : kOptions) {
        if (option.addOnly && kind != RequestKind::Add) {
            continue;
        }
        std::string head = std::string(option.name);
        if (!option.valueName.empty()) {
            head += " " + std::string(option.valueName);
        }
        out << "  " << std::left << std::setw(24) << head << option.help << "\n";
    }
    out << "  " << std::left << std::setw(24) << "--help"
        << "this text\n"
        << "\nTIME is seconds since 1970-01-01 00:00 UTC (a decimal integer, may be\n"
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

}  // namespace logoffcookie::cli
