#include <iomanip>
#include <ostream>

#include "client/cli/subcommand.h"

#ifndef LC_VERSION
#error "LC_VERSION must name the version of the build"
#endif

namespace logoffcookie::cli {

const char kVersion[] = LC_VERSION;

namespace {

constexpr Subcommand kSubcommands[] = {
    {"query", "ask whether a cookie counts as logged off", runQueryCommand},
    {"add", "record a cookie as logged off", runAddCommand},
    {"bench", "load the service with many clients and report its speed", runBenchCommand},
    {"health", "check that the service answers, right and in time", runHealthCommand},
};

void printUsage(std::ostream& out) {
    out << "Usage: logoffcookie <command> [options]\n"
           "       logoffcookie <command> --help\n\n"
           "Talks to the logoff cookie cache service of this host through\n"
           "$WA_INSTALL_PATH/logoffCookieSocket (or --socket PATH).\n\n"
           "Commands:\n";
    for (const Subcommand& command : kSubcommands) {
        out << "  " << std::left << std::setw(8) << command.name << command.summary << "\n";
    }
    out << "\n  --help     print this help\n"
           "  --version  print the version\n"
           "\nExit status: 0 answered, 1 the request failed, 2 wrong command line.\n";
}

}  // namespace

std::span<const Subcommand> subcommands() {
    return kSubcommands;
}

int runCommandLine(const Arguments& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        printUsage(err);
        return kExitUsage;
    }
    std::string_view name = args.front();
    if (name == "--help" || name == "-h" || name == "help") {
        printUsage(out);
        return kExitSuccess;
    }
    if (name == "--version") {
        out << "logoffcookie " << kVersion << "\n";
        return kExitSuccess;
    }
    for (const Subcommand& command : kSubcommands) {
        if (command.name == name) {
            return command.run(Arguments(args.begin() + 1, args.end()), out, err);
        }
    }
    err << "logoffcookie: unknown command '" << name << "'\n"
        << "Try 'logoffcookie --help'.\n";
    return kExitUsage;
}

}  // namespace logoffcookie::cli
