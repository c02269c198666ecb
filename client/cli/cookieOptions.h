// The options that query and add share: the cookie's fields, where the
// service is, how long to wait, and how to print the answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "client/cli/subcommand.h"
#include "client/logoffCookieClient.hpp"

namespace logoffcookie::cli {

enum class RequestKind { Query, Add };

struct CookieCommand {
    Cookie cookie;  // its texts are views of the arguments
    ClientOptions options;
    bool raw = false;   // print the reply's value instead of words
    bool help = false;  // --help was asked for: nothing else was checked
};

// Parses the arguments of a query or an add. Times default to `now`. On
// failure `error` says which argument is wrong and why.
bool parseCookieCommand(const Arguments& args, RequestKind kind, int32_t now,
                        CookieCommand& command, std::string& error);

// The option list of the help text for `kind`.
void printCookieOptions(std::ostream& out, RequestKind kind);

// A time: seconds since 1970 as a decimal, "now", or "now+N" / "now-N" with
// N in seconds; it must fit a signed 32-bit value.
bool parseTime(std::string_view text, int32_t now, int32_t& value);

// Decimal numbers in the range of their type, nothing else on the text.
bool parseInt32(std::string_view text, int32_t& value);
bool parseUint32(std::string_view text, uint32_t& value);

// A wait in milliseconds that fits 32 signed bits: positive, or also zero
// when `zeroAllowed`.
bool parseMilliseconds(std::string_view text, bool zeroAllowed, std::chrono::milliseconds& value);

// Option table setters of the connection's settings, for every command that
// talks to the service: its Target's connection() gives the ClientOptions
// the command line fills in.
template <typename Target, std::chrono::milliseconds ClientOptions::*field, bool zeroAllowed>
bool setConnectionWait(std::string_view value, Target& target) {
    return parseMilliseconds(value, zeroAllowed, target.connection().*field);
}
// The path is taken whole; `acceptable` says whether the command can use it.
template <typename Target, bool (*acceptable)(std::string_view)>
bool setSocketPath(std::string_view value, Target& target) {
    target.connection().socketPath = std::string(value);
    return acceptable(value);
}

// Prints a failed request to `err` and gives the exit status for it.
int reportFailure(std::ostream& err, std::string_view commandName, const ClientStatus& status,
                  const ClientOptions& options);

// What a query or an add does once its command line is read: sends the
// request and, when it is answered, prints the answer to `out`.
using CookieRequest = ClientStatus (*)(const CookieCommand& command, std::ostream& out);

// The run both commands share: a wrong command line is a usage error, --help
// prints `printHelp`, anything else is `request`, whose failure is reported.
int runCookieCommand(const Arguments& args, RequestKind kind, void (*printHelp)(std::ostream&),
                     CookieRequest request, std::ostream& out, std::ostream& err);

}  // namespace logoffcookie::cli
