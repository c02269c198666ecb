// A shell command line run through a pipe, what it writes collected: the
// common ground of the command runner and the metrics parser, which live in
// libraries of their own.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace lctest {

struct ShellOutput {
    std::string text;  // standard output and error together
    int status = -1;   // as pclose gives it
};

// nullopt when the shell could not be started.
inline std::optional<ShellOutput> runShell(const std::string& commandLine) {
    std::string line = commandLine + " 2>&1";
    FILE* pipe = popen(line.c_str(), "r");
    if (pipe == nullptr) {
        return std::nullopt;
    }
    ShellOutput output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.text.append(buffer, n);
    }
    output.status = pclose(pipe);
    return output;
}

}  // namespace lctest
