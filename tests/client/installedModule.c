/* A C module built from the installed package alone, as an integrator would:
 * the installed header, pkg-config's flags, the shared library or the
 * archive. It defines names that the library uses inside, as a host program
 * might: linking proves they do not clash. */
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <logoffcookie/logoffCookieClient.h>

int base64Encode(void) {
    return 7;
}
int get_machine(void) {
    return 7;
}
int encryptPipeData(void) {
    return 7;
}

static int failures = 0;

static void check(int condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "failed: %s\n", what);
        ++failures;
    }
}

int main(int argc, char** argv) {
    logoffCookieClient_cookie cookie;
    logoffCookieClient_options options;
    int cached = -1;
    int result;

    if (argc != 2) {
        fprintf(stderr, "usage: %s EMPTY-DIRECTORY\n", argv[0]);
        return 2;
    }
    logoffCookieClient_initCookie(&cookie, "module-cookie");
    logoffCookieClient_initOptions(&options);
    options.socketWaitMs = 0;

    /* A directory where the socket should be is no service at all. */
    options.socketPath = argv[1];
    errno = 0;
    result = logoffCookieClient_cookieIsCached(&options, &cookie, &cached);
    check(result == LC_CLIENT_CONNECT_FAILED, "a directory is LC_CLIENT_CONNECT_FAILED");
    check(errno == ENOTSOCK, "errno is ENOTSOCK");
    check(cached == -1, "no answer on failure");
    check(!logoffCookieClient_errorIsTransient(result), "a directory is not transient");
    check(logoffCookieClient_errorIsTransient(LC_CLIENT_NO_SOCKET), "no socket is transient");
    check(!logoffCookieClient_errorIsTransient(LC_CLIENT_UNEXPECTED_REPLY),
          "a suspicious reply is not transient");

    check(base64Encode() + get_machine() + encryptPipeData() == 21, "the module's own names");
    return failures == 0 ? 0 : 1;
}
