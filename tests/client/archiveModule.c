/* A module of a host program that loads and unloads its modules (a web
 * server at every restart), linked with the client's archive. Its one entry
 * makes a real call, so that the library's key derivation, encryption and
 * socket code run inside it. */
#include <logoffcookie/logoffCookieClient.h>

int archiveModule_query(const char* socketPath) {
    logoffCookieClient_options options;
    logoffCookieClient_cookie cookie;
    int cached = -1;
    logoffCookieClient_initOptions(&options);
    options.socketPath = socketPath;
    options.socketWaitMs = 0;
    logoffCookieClient_initCookie(&cookie, "cookie of the module");
    return logoffCookieClient_cookieIsCached(&options, &cookie, &cached);
}
