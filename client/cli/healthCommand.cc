// logoffcookie health: is the service answering, right and in time?
#include <ostream>

#include "client/cli/cookieOptions.h"
#include "client/cli/healthCheck.h"
#include "client/cli/optionTable.h"
#include "client/cli/subcommand.h"
#include "protocol/socketPath.h"

namespace logoffcookie::cli {

namespace {

const CommandOption<HealthOptions> kHealthOptions[] = {
    {"--timeout", "MS",
     "longest wait for the socket and the answer together, in milliseconds (default: 2000)",
     [](std::string_view v, HealthOptions& o) { return parseMilliseconds(v, false, o.timeout); }},
    {"--metrics", "FILE",
     "also fail when this metrics file is older than 30 s, not the service's, or shows farm "
     "sharing failing",
     [](std::string_view v, HealthOptions& o) {
         o.metricsPath = std::string(v);
         return !v.empty();
     }},
    {"--socket", "PATH",
     "the service socket, at most 107 bytes (default: $WA_INSTALL_PATH/logoffCookieSocket)",
     [](std::string_view v, HealthOptions& o) {
         o.socketPath = std::string(v);
         return !v.empty() && v.size() <= kMaxSocketPathLength;
     }},
};

void printHealthHelp(std::ostream& out) {
    out << "Usage: logoffcookie health [options]\n\n"
           "Asks the service about a fresh random cookie, which it must answer as\n"
           "not logged off, and prints 'ok' with the time the answer took. A socket\n"
           "that is not there yet is waited for within the time-out, so the check\n"
           "can follow a start at once.\n\n";
    printCommandOptions<HealthOptions>(out, kHealthOptions, 18);
    out << "\nOptions also take the form --name=value; each may be given once.\n"
           "With --metrics and farm sharing on, the check also fails when the host\n"
           "has not read from Redis for 60 s, when Redis refuses its logoffs, or\n"
           "when more than half of what it read in the last minute was not signed\n"
           "with the farm secret.\n"
           "Exit status 0 when the service answered right in time (and the metrics\n"
           "file is fresh and the service's), 1 otherwise, 2 for a wrong command line.\n";
}

}  // namespace

int runHealthCommand(const Arguments& args, std::ostream& out, std::ostream& err) {
    HealthOptions options;
    std::string error;
    switch (parseCommandOptions<HealthOptions>(args, kHealthOptions, options, error)) {
        case OptionsParsed::Help:
            printHealthHelp(out);
            return kExitSuccess;
        case OptionsParsed::Error:
            return refuseCommandLine(err, "health", error);
        case OptionsParsed::Ok:
            break;
    }
    return runHealthCheck(options, out, err);
}

}  // namespace logoffcookie::cli
