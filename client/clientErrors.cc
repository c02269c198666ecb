// The names and sentences of the client's errors, for both interfaces.
#include <cstring>
#include <string>

#include "client/logoffCookieClient.h"
#include "client/logoffCookieClient.hpp"

namespace {

struct ErrorDescription {
    const char* name;
    const char* text;
};

// Indexed by the error's value.
constexpr ErrorDescription kErrors[] = {
    {"LC_CLIENT_OK", "success"},
    {"LC_CLIENT_BAD_ARGUMENT", "bad argument"},
    {"LC_CLIENT_NO_INSTALL_PATH", "no socket path given and WA_INSTALL_PATH is not set"},
    {"LC_CLIENT_PATH_TOO_LONG", "socket path too long for a local socket"},
    {"LC_CLIENT_NO_SOCKET", "no service socket file"},
    {"LC_CLIENT_REFUSED", "connection refused: no service is listening on the socket"},
    {"LC_CLIENT_CONNECT_FAILED", "cannot connect to the service socket"},
    {"LC_CLIENT_ENCRYPT_FAILED", "the request could not be encrypted"},
    {"LC_CLIENT_SEND_FAILED", "the request could not be sent"},
    {"LC_CLIENT_TIMED_OUT", "timed out waiting for the service"},
    {"LC_CLIENT_RECEIVE_FAILED", "reading the reply failed"},
    {"LC_CLIENT_NO_REPLY", "the service closed the connection without a reply"},
    {"LC_CLIENT_REPLY_UNDECRYPTABLE", "the reply did not decrypt with this host's pipe key"},
    {"LC_CLIENT_UNEXPECTED_REPLY", "the reply is not an answer to the request"},
    {"LC_CLIENT_SYSTEM_ERROR", "the system refused a resource"},
};

constexpr ErrorDescription kUnknown = {"LC_CLIENT_UNKNOWN_ERROR", "unknown error"};

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

namespace logoffcookie {

std::string ClientStatus::message() const {
    std::string text = logoffCookieClient_errorText(error);
    if (systemError != 0) {
        text += ": ";
        text += std::strerror(systemError);
    }
    return text;
}

}  // namespace logoffcookie
