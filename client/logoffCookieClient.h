/* Client of the logoff cookie cache service, for agent modules written in C
 * (C99 or later) or C++. One call is one connection: the request is built
 * from the cookie's fields, encrypted with the pipe key of this host, sent,
 * and the service's one reply is read, decrypted and checked.
 *
 * Every function is safe to call from several threads at once. Calls block
 * for at most the socket wait plus the time-out of their options. */
#ifndef LOGOFF_COOKIE_CLIENT_H
#define LOGOFF_COOKIE_CLIENT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Results of every call. When the system gave a reason for a failure, errno
 * holds it when the call returns: always for LC_CLIENT_CONNECT_FAILED,
 * LC_CLIENT_RECEIVE_FAILED and LC_CLIENT_SYSTEM_ERROR, ENOENT for
 * LC_CLIENT_NO_SOCKET, ECONNREFUSED for LC_CLIENT_REFUSED, and mostly for
 * LC_CLIENT_SEND_FAILED. Otherwise errno is unspecified. */
typedef enum logoffCookieClient_error {
    LC_CLIENT_OK = 0,
    /* A null pointer, a text over 64 bytes, a time-out that is not positive
     * or a negative socket wait. */
    LC_CLIENT_BAD_ARGUMENT = 1,
    /* No socket path given, and WA_INSTALL_PATH unset or empty. */
    LC_CLIENT_NO_INSTALL_PATH = 2,
    /* The socket path does not fit a local socket address (107 bytes). */
    LC_CLIENT_PATH_TOO_LONG = 3,
    /* The socket file was not there, not even after the socket wait. */
    LC_CLIENT_NO_SOCKET = 4,
    /* The socket file is there but no service listens on it (a stopped
     * service leaves its socket file behind). */
    LC_CLIENT_REFUSED = 5,
    /* Connecting failed otherwise: no permission, a path through a file, or
     * a path that is not a socket (ENOTSOCK, reported without a wait). */
    LC_CLIENT_CONNECT_FAILED = 6,
    /* The request could not be encrypted. */
    LC_CLIENT_ENCRYPT_FAILED = 7,
    /* The request could not be sent whole in one write. */
    LC_CLIENT_SEND_FAILED = 8,
    /* The service did not accept the connection, or did not answer, within
     * the time-out. A signal caught meanwhile does not end the wait early. */
    LC_CLIENT_TIMED_OUT = 9,
    /* Reading the reply failed. */
    LC_CLIENT_RECEIVE_FAILED = 10,
    /* The service closed the connection without a reply: it could not
     * decrypt the request (its pipe key differs from this process's: the
     * host's facts changed since it started), or it refused an add from this
     * process's user (not in its VOKLOGOFFADDUSERS), or it stopped meanwhile.
     * Counted as transient; docs/client.md says how a module tells a
     * persistent key mismatch or a refused add from an outage. */
    LC_CLIENT_NO_REPLY = 11,
    /* The reply was not envelope text under this host's pipe key. */
    LC_CLIENT_REPLY_UNDECRYPTABLE = 12,
    /* The reply decrypted but is not an answer to the request: another
     * length, or a value the request cannot have. */
    LC_CLIENT_UNEXPECTED_REPLY = 13,
    /* The system refused this process a socket, memory or buffers; errno
     * says which (EMFILE, ENOMEM, ENOBUFS, ...). */
    LC_CLIENT_SYSTEM_ERROR = 14
} logoffCookieClient_error;

/* Cookie texts are at most this many bytes; a text of exactly 64 bytes is
 * sent without a terminating NUL. */
#define LC_CLIENT_TEXT_SIZE 64

/* Defaults of logoffCookieClient_initOptions, in milliseconds. */
#define LC_CLIENT_DEFAULT_TIMEOUT_MS 5000
#define LC_CLIENT_DEFAULT_SOCKET_WAIT_MS 1000
/* Lifetime of logoffCookieClient_initCookie, in minutes. */
#define LC_CLIENT_DEFAULT_MAX_LIFETIME_MINUTES 120

/* The fields of one cookie. Times are seconds since 1970-01-01 00:00 UTC on
 * the clock of the cookie's issuer; timeOffset is the issuer's clock minus
 * this host's clock, in seconds. A query carries every field but lastUseTime
 * and cookieKind. The cache identifies a cookie by its two texts and its
 * creation time, so a query finds an added cookie only with all three equal. */
typedef struct logoffCookieClient_cookie {
    const char* cookieText;  /* required, at most 64 bytes */
    const char* cookieBytes; /* the second text, at most 64 bytes; NULL is empty */
    int32_t creationTime;
    int32_t lastUseTime;
    int32_t timeOffset;
    /* Counted from creationTime. 0 keeps the cookie only until the service's
     * next cleanup pass (at most 240 s), not "expires at once". */
    uint32_t maxLifetimeMinutes;
    uint32_t idleTimeoutMinutes; /* counted from lastUseTime; 0 means none */
    int32_t cookieKind;          /* 1, 2, or 0 for any other kind */
} logoffCookieClient_cookie;

typedef struct logoffCookieClient_options {
    /* NULL: $WA_INSTALL_PATH/logoffCookieSocket. */
    const char* socketPath;
    /* Longest wait for the service to accept, take the request and answer. */
    int timeoutMs;
    /* How long a missing socket file or a refusing socket is retried, for a
     * service that is still starting; 0 tries once. On a web server's request
     * path use 0: the default makes every request wait that long while the
     * service is down. */
    int socketWaitMs;
} logoffCookieClient_options;

/* Sets `cookie` to the text given, an empty second text, both times now,
 * offset 0, a lifetime of 120 minutes, no idle timeout and kind 0. */
void logoffCookieClient_initCookie(logoffCookieClient_cookie* cookie, const char* cookieText);

/* Sets `options` to the default socket path and the default waits. */
void logoffCookieClient_initOptions(logoffCookieClient_options* options);

/* Asks whether the cookie counts as logged off. On LC_CLIENT_OK *cached is 1
 * (logged off: refuse the cookie) or 0. `options` may be NULL for the
 * defaults. */
int logoffCookieClient_cookieIsCached(const logoffCookieClient_options* options,
                                      const logoffCookieClient_cookie* cookie, int* cached);

/* Records the cookie as logged off. LC_CLIENT_OK means the service
 * acknowledged the request. `options` may be NULL for the defaults. */
int logoffCookieClient_addToCache(const logoffCookieClient_options* options,
                                  const logoffCookieClient_cookie* cookie);

/* A fixed sentence for an error value, and its enumerator name
 * ("LC_CLIENT_NO_SOCKET"); both texts for values outside the list too. */
const char* logoffCookieClient_errorText(int error);
const char* logoffCookieClient_errorName(int error);

/* 1 when `error` means that the service is absent, starting, stopped, slow
 * or went away, or that this process was short of a resource: the same call
 * may succeed later unchanged. 0 for LC_CLIENT_OK, for a wrong call or
 * setting, and for a reply that cannot be trusted (an undecryptable or
 * unexpected reply). A module on a web server's request path typically lets
 * a cookie through on the first kind and refuses it on the others. */
int logoffCookieClient_errorIsTransient(int error);

#ifdef __cplusplus
}
#endif

#endif /* LOGOFF_COOKIE_CLIENT_H */
