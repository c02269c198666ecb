#include "service/commandLine.h"

#include <cstring>

#ifndef LC_VERSION
#error "LC_VERSION must name the version of the build"
#endif

const char kServiceVersion[] = LC_VERSION;

int logoffCookieService_answerCommandLine(int argc, const char* const* argv, std::FILE* out) {
    if (argc < 2) {
        return -1;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::fprintf(out, "VOKLogoffCookieService %s\n", kServiceVersion);
        return 0;
    }
    if (std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(out,
                     "Usage: VOKLogoffCookieService [--version | --help]\n\n"
                     "Starts the logoff cookie cache service of this host, which serves on\n"
                     "$WA_INSTALL_PATH/logoffCookieSocket, prints the start line and the\n"
                     "monitor's pid, and leaves the service running. Only one instance runs\n"
                     "per host. See VOKLogoffCookieService(8).\n\n"
                     "  --version  print the version and exit\n"
                     "  --help     print this help and exit\n");
        return 0;
    }
    return -1;
}
