// logoffcookie bench: loads the service as many agents at once would.
#include <ostream>

#include "client/cli/benchLoad.h"
#include "client/cli/benchOptions.h"
#include "client/cli/benchProgress.h"
#include "client/cli/cookieOptions.h"
#include "client/cli/optionTable.h"
#include "client/cli/subcommand.h"

namespace logoffcookie::cli {

namespace {

void printRunHeader(std::ostream& out, const BenchOptions& options) {
    out << "logoffcookie bench: " << options.clients << " clients, " << options.queryPercent
        << "% queries over " << options.cookies << " cookies, ";
    if (options.requests > 0) {
        out << options.requests << " requests";
    } else {
        out << options.duration.count() / 1000.0 << " s";
    }
    if (options.expectRaw) {
        out << ", any 72-character reply counted right";
    }
    out << "\n";
}

}  // namespace

int runBenchCommand(const Arguments& args, std::ostream& out, std::ostream& err) {
    BenchOptions options;
    std::string error;
    if (!parseBenchCommand(args, options, error)) {
        return refuseCommandLine(err, "bench", error);
    }
    if (options.help) {
        printBenchHelp(out);
        return kExitSuccess;
    }
    BenchTally tally;
    double seconds = 0;
    ClientStatus status =
        runBenchLoad(options, err, benchProgressWanted(options.quiet, err), tally, seconds);
    if (!status.ok()) {
        return reportFailure(err, "bench", status, options.connection);
    }
    BenchSummary summary = summarize(tally, options.clients, seconds);
    if (options.tsv) {
        printBenchLine(out, summary);
    } else {
        printRunHeader(out, options);
        printBenchReport(out, summary, tally);
    }
    return summary.errors == 0 && summary.right > 0 ? kExitSuccess : kExitFailure;
}

}  // namespace logoffcookie::cli
