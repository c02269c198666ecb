// Runs a shell command line and collects what it writes, for tests of the
// command-line client and of processes run as another user.
#pragma once

#include <string>

namespace lctest {

struct CommandRun {
    int status = -1;  // the exit status, or -1 when it did not exit normally
    std::string out;  // standard output and error together
};

CommandRun runCommand(const std::string& commandLine);

}  // namespace lctest
