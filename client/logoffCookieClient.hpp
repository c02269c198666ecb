// Client of the logoff cookie cache service for C++ agents. The same calls as
// the C interface in logoffCookieClient.h, with C++ types: one call is one
// connection, and the outcome is a status rather than an exception.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "logoffCookieClient.h"

namespace logoffcookie {

using ClientError = logoffCookieClient_error;

// The fields of one cookie; the meaning of each is in logoffCookieClient.h.
// The texts are views: they must outlive the call that sends them.
struct Cookie {
    // Both times now, a lifetime of 120 minutes, no idle timeout, kind 0.
    Cookie() : Cookie(std::string_view{}) {}
    explicit Cookie(std::string_view text);

    std::string_view text;
    std::string_view bytes;
    int32_t creationTime;
    int32_t lastUseTime;
    int32_t timeOffset = 0;
    uint32_t maxLifetimeMinutes = LC_CLIENT_DEFAULT_MAX_LIFETIME_MINUTES;
    uint32_t idleTimeoutMinutes = 0;
    int32_t cookieKind = 0;
};

// Waits longer than 2^31 - 1 ms (about 24.8 days) are shortened to that.
struct ClientOptions {
    std::string socketPath;  // empty: $WA_INSTALL_PATH/logoffCookieSocket
    std::chrono::milliseconds timeout{LC_CLIENT_DEFAULT_TIMEOUT_MS};
    std::chrono::milliseconds socketWait{LC_CLIENT_DEFAULT_SOCKET_WAIT_MS};
};

// The outcome of one call, with the system's reason where one applies.
struct ClientStatus {
    ClientError error = LC_CLIENT_OK;
    int systemError = 0;  // an errno value, or 0

    bool ok() const { return error == LC_CLIENT_OK; }
    // The service was absent or slow (logoffCookieClient_errorIsTransient).
    bool transient() const;
    // The error's sentence, followed by the system's reason when there is one.
    std::string message() const;
};

// Seconds since 1970-01-01 00:00 UTC now, as the 32-bit value requests carry.
int32_t currentTime();

// Asks whether the cookie counts as logged off; `cached` is set only on success.
ClientStatus cookieIsCached(const Cookie& cookie, bool& cached, const ClientOptions& options = {});

// Records the cookie as logged off.
ClientStatus addToCache(const Cookie& cookie, const ClientOptions& options = {});

// Sends any payload as one encrypted request and returns the 32-bit value of
// the reply, for tools that exercise the service with payloads of their own.
ClientStatus exchangePayload(const void* payload, size_t length, int32_t& replyValue,
                             const ClientOptions& options = {});

}  // namespace logoffcookie
