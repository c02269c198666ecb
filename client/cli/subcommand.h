// The logoffcookie command: subcommands, each in a file of its own, found
// through one table. A new subcommand is its run function in a new file and
// one entry in subcommands.cc.
#pragma once

#include <iosfwd>
#include <span>
#include <string_view>
#include <vector>

namespace logoffcookie::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // the request failed
inline constexpr int kExitUsage = 2;    // the command line is wrong

// The version of this build.
extern const char kVersion[];

// Views of the program's arguments, which live as long as the process.
using Arguments = std::vector<std::string_view>;

struct Subcommand {
    std::string_view name;
    std::string_view summary;
    // `args` are the arguments after the subcommand's name.
    int (*run)(const Arguments& args, std::ostream& out, std::ostream& err);
};

std::span<const Subcommand> subcommands();

// The whole command line after the program name: the subcommand and its
// arguments, or the general help.
int runCommandLine(const Arguments& args, std::ostream& out, std::ostream& err);

int runQueryCommand(const Arguments& args, std::ostream& out, std::ostream& err);
int runAddCommand(const Arguments& args, std::ostream& out, std::ostream& err);
int runBenchCommand(const Arguments& args, std::ostream& out, std::ostream& err);
int runHealthCommand(const Arguments& args, std::ostream& out, std::ostream& err);

}  // namespace logoffcookie::cli
