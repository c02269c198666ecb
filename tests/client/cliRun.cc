#include "tests/client/cliRun.h"

#include <sstream>

#include "client/cli/subcommand.h"

namespace lctest {

CliRun runCli(const std::vector<std::string>& words) {
    logoffcookie::cli::Arguments args(words.begin(), words.end());
    std::ostringstream out;
    std::ostringstream err;
    int status = logoffcookie::cli::runCommandLine(args, out, err);
    return {status, out.str(), err.str()};
}

}  // namespace lctest
