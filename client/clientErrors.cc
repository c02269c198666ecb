// The names and sentences of the client's errors, for both interfaces.
#include <cstring>
#include <string>

#include "client/logoffCookieClient.h"
#include "client/logoffCookieClient.hpp"

namespace {

struct ErrorDescription {
    const char* name;
    const char* text;
    // The service was absent or slow, or this process short of a resource:
    // nothing the caller did, and the same call may succeed later. Wrong
    // calls and settings do not heal by themselves, and a reply that cannot
    // be trusted must not be waved through as an absent service.
    bool transient;
};

// Indexed by the error's value.
constexpr ErrorDescription kErrors[] = {
    {"LC_CLIENT_OK", "success", false},
    {"LC_CLIENT_BAD_ARGUMENT", "bad argument", false},
    {"LC_CLIENT_NO_INSTALL_PATH", "no socket path given and WA_INSTALL_PATH is not set", false},
    {"LC_CLIENT_PATH_TOO_LONG", "socket path too long for a local socket", false},
    {"LC_CLIENT_NO_SOCKET", "no service socket file", true},
    {"LC_CLIENT_REFUSED", "connection refused: no service is listening on the socket", true},
    {"LC_CLIENT_CONNECT_FAILED", "cannot connect to the service socket", false},
    {"LC_CLIENT_ENCRYPT_FAILED", "the request could not be encrypted", true},
    {"LC_CLIENT_SEND_FAILED", "the request could not be sent", true},
    {"LC_CLIENT_TIMED_OUT", "timed out waiting for the service", true},
    {"LC_CLIENT_RECEIVE_FAILED", "reading the reply failed", true},
    {"LC_CLIENT_NO_REPLY",
     "the service closed the connection without a reply: its pipe key differs from this "
     "process's, or it refused an add from this user (VOKLOGOFFADDUSERS)",
     true},
    {"LC_CLIENT_REPLY_UNDECRYPTABLE", "the reply did not decrypt with this host's pipe key", false},
    {"LC_CLIENT_UNEXPECTED_REPLY", "the reply is not an answer to the request", false},
    {"LC_CLIENT_SYSTEM_ERROR", "the system refused this process a resource", true},
};

constexpr ErrorDescription kUnknown = {"LC_CLIENT_UNKNOWN_ERROR", "unknown error", false};

const ErrorDescription& describe(int error) {
    if (error < 0 || static_cast<size_t>(error) >= sizeof kErrors / sizeof kErrors[0]) {
        return kUnknown;
    }
    return kErrors[error];
}

}  // namespace

extern "C" const char* logoffCookieClient_errorText(int error) {
    return describe(error).text;
}

extern "C" const char* logoffCookieClient_errorName(int error) {
    return describe(error).name;
}

extern "C" int logoffCookieClient_errorIsTransient(int error) {
    return describe(error).transient ? 1 : 0;
}

namespace logoffcookie {

bool ClientStatus::transient() const {
    return describe(error).transient;
}

std::string ClientStatus::message() const {
    std::string text = logoffCookieClient_errorText(error);
    if (systemError != 0) {
        text += ": ";
        text += std::strerror(systemError);
    }
    return text;
}

}  // namespace logoffcookie
