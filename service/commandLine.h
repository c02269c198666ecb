// The few arguments the service answers: everything else on its command line
// is ignored, as callers that pass arguments out of habit expect.
#pragma once

#include <cstdio>

// The version of this build.
extern const char kServiceVersion[];

// When the first argument is --version or --help, prints the version or a
// short usage to `out` and returns 0, the exit status; otherwise returns -1
// and the start goes on.
int logoffCookieService_answerCommandLine(int argc, const char* const* argv, std::FILE* out);
