// logoffcookie query: asks whether a cookie counts as logged off.
#include <ostream>

#include "client/cli/cookieOptions.h"
#include "client/cli/subcommand.h"

namespace logoffcookie::cli {

namespace {

void printQueryHelp(std::ostream& out) {
    out << "Usage: logoffcookie query --text TEXT [options]\n\n"
           "Asks the service whether the cookie counts as logged off and prints\n"
           "'cached' (logged off: refuse the cookie) or 'not cached'. The service\n"
           "finds a recorded cookie only by the same text, second text and\n"
           "creation time, so give --created as it was given to add.\n\n";
    printCookieOptions(out, RequestKind::Query);
}

ClientStatus query(const CookieCommand& command, std::ostream& out) {
    bool cached = false;
    ClientStatus status = cookieIsCached(command.cookie, cached, command.options);
    if (status.ok()) {
        if (command.raw) {
            out << (cached ? "1" : "0") << "\n";
        } else {
            out << (cached ? "cached" : "not cached") << "\n";
        }
    }
    return status;
}

}  // namespace

int runQueryCommand(const Arguments& args, std::ostream& out, std::ostream& err) {
    return runCookieCommand(args, RequestKind::Query, printQueryHelp, query, out, err);
}

}  // namespace logoffcookie::cli
