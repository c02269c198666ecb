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

ClientStatus add(const CookieCommand& command, std::ostream& out) {
    ClientStatus status = addToCache(command.cookie, command.options);
    if (status.ok()) {
        out << (command.raw ? "-1" : "added") << "\n";
    }
    return status;
}

}  // namespace

int runAddCommand(const Arguments& args, std::ostream& out, std::ostream& err) {
    return runCookieCommand(args, RequestKind::Add, printAddHelp, add, out, err);
}

}  // namespace logoffcookie::cli
