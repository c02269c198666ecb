// logoffcookie add: records a cookie as logged off.
#include <ostream>

#include "client/cli/cookieOptions.h"
#include "client/cli/subcommand.h"

namespace logoffcookie::cli {

namespace {

void printAddHelp(std::ostream& out) {
    out << "Usage: logoffcookie add --text TEXT [options]\n\n"
           "Records the cookie as logged off and prints 'added' once the service\n"
           "has acknowledged it. The service forgets the cookie when its maximum\n"
           "lifetime or its idle timeout has passed.\n\n";
    printCookieOptions(out, RequestKind::Add);
}

}  // namespace

int runAddCommand(const Arguments& args, std::ostream& out, std::ostream& err) {
    CookieCommand command;
    std::string error;
    if (!parseCookieCommand(args, RequestKind::Add, currentTime(), command, error)) {
        err << "logoffcookie add: " << error << "\nTry 'logoffcookie add --help'.\n";
        return kExitUsage;
    }
    if (command.help) {
        printAddHelp(out);
        return kExitSuccess;
    }
    ClientStatus status = addToCache(command.cookie, command.options);
    if (!status.ok()) {
        return reportFailure(err, "add", status, command.options);
    }
    out << (command.raw ? "-1" : "added") << "\n";
    return kExitSuccess;
}

}  // namespace logoffcookie::cli
