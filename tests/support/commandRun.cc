#include "tests/support/commandRun.h"

#include <sys/wait.h>

#include "tests/support/shellOutput.h"

namespace lctest {

CommandRun runCommand(const std::string& commandLine) {
    CommandRun run;
    if (std::optional<ShellOutput> output = runShell(commandLine)) {
        run.out = output->text;
        run.status = WIFEXITED(output->status) ? WEXITSTATUS(output->status) : -1;
    }
    return run;
}

}  // namespace lctest
