#include <iostream>

#include "client/cli/subcommand.h"

int main(int argc, char** argv) {
    logoffcookie::cli::Arguments args(argv + 1, argv + argc);
    return logoffcookie::cli::runCommandLine(args, std::cout, std::cerr);
}
