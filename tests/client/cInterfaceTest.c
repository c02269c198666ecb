/* Built as C99 against the shared library that agents link: the header must
 * be plain C and the library must export the C interface. */
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "client/logoffCookieClient.h"

static int failures = 0;

static void check(int condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "failed: %s\n", what);
        ++failures;
    }
}

int main(void) {
    logoffCookieClient_cookie cookie;
    logoffCookieClient_options options;
    int cached = -1;
    int result;

    logoffCookieClient_initCookie(&cookie, "c-cookie");
    logoffCookieClient_initOptions(&options);
    check(options.timeoutMs == LC_CLIENT_DEFAULT_TIMEOUT_MS, "default time-out");
    check(cookie.maxLifetimeMinutes == LC_CLIENT_DEFAULT_MAX_LIFETIME_MINUTES, "default lifetime");

    options.socketPath = "/nonexistent-directory-of-logoff-cookie-tests/logoffCookieSocket";
    options.socketWaitMs = 0;
    errno = 0;
    result = logoffCookieClient_cookieIsCached(&options, &cookie, &cached);
    check(result == LC_CLIENT_NO_SOCKET, "missing socket is LC_CLIENT_NO_SOCKET");
    check(errno == ENOENT, "errno is ENOENT");
    check(cached == -1, "no answer on failure");
    check(strcmp(logoffCookieClient_errorName(result), "LC_CLIENT_NO_SOCKET") == 0, "name");
    check(strlen(logoffCookieClient_errorText(result)) > 0, "text");

    check(logoffCookieClient_addToCache(NULL, NULL) == LC_CLIENT_BAD_ARGUMENT, "null cookie");
    return failures == 0 ? 0 : 1;
}
