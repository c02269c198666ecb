// Starting a program from a test: its environment as execve takes it, and
// its standard streams set up in the forked child.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace lctest {

// Null-terminated pointers into `strings`, which must outlive them.
std::vector<char*> pointersTo(std::vector<std::string>& strings);

// Opens `path` for appending, created when missing, closed at exec; -1 on
// failure. For a child's standard output or error kept in a file.
int openForAppend(const std::string& path);

// In a forked child before exec: `out` and `err` become standard output and
// error, and standard input reads nothing.
void attachStandardStreams(int out, int err);

// Starts `args[0]`, found on PATH, with standard input and output on
// /dev/null and standard error kept; the child's pid, or -1 when fork fails.
pid_t startQuietly(std::vector<std::string> args);

}  // namespace lctest
