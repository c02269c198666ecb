#include "tests/support/commandRun.h"

#include <sys/wait.h>

#include <cstdio>

namespace lctest {

CommandRun runCommand(const std::string& commandLine) {
    CommandRun run;
    std::string line = commandLine + " 2>&1";
    FILE* pipe = popen(line.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[256];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.out.append(buffer, n);
    }
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace lctest
