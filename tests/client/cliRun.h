// Runs the logoffcookie command line in this process and collects what it
// prints, for the tests of its subcommands.
#pragma once

#include <string>
#include <vector>

namespace lctest {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

// `words` are the arguments after the program name, the subcommand first.
CliRun runCli(const std::vector<std::string>& words);

}  // namespace lctest
