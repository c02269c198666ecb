#include "tests/support/childProcess.h"

#include <fcntl.h>
#include <unistd.h>

namespace lctest {

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& entry : strings) {
        pointers.push_back(entry.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

int openForAppend(const std::string& path) {
    return open(path.c_str(), O_CREAT | O_WRONLY | O_APPEND | O_CLOEXEC, 0644);
}

void attachStandardStreams(int out, int err) {
    // dup2 clears close-at-exec on the copies only.
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, STDIN_FILENO);
    if (devnull > STDERR_FILENO) {
        close(devnull);
    }
}

pid_t startQuietly(std::vector<std::string> args) {
    std::vector<char*> argv = pointersTo(args);
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, STDIN_FILENO);
        dup2(devnull, STDOUT_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

}  // namespace lctest
