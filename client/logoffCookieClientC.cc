// The C interface: a thin layer over the C++ one that never lets an
// exception cross into C code.
#include <cerrno>
#include <system_error>

#include "client/logoffCookieClient.h"
#include "client/logoffCookieClient.hpp"
#include "protocol/requestLayout.h"

namespace {

using logoffcookie::ClientOptions;
using logoffcookie::ClientStatus;
using logoffcookie::Cookie;

// A C text of at most 64 bytes; longer is refused, without reading past 65.
bool viewText(const char* text, std::string_view& view) {
    if (text == nullptr) {
        view = {};
        return true;
    }
    size_t length = 0;
    while (length <= LC_CLIENT_TEXT_SIZE && text[length] != '\0') {
        ++length;
    }
    if (length > LC_CLIENT_TEXT_SIZE) {
        return false;
    }
    view = std::string_view(text, length);
    return true;
}

bool toCookie(const logoffCookieClient_cookie* in, Cookie& out) {
    if (in == nullptr || in->cookieText == nullptr || !viewText(in->cookieText, out.text) ||
        !viewText(in->cookieBytes, out.bytes)) {
        return false;
    }
    out.creationTime = in->creationTime;
    out.lastUseTime = in->lastUseTime;
    out.timeOffset = in->timeOffset;
    out.maxLifetimeMinutes = in->maxLifetimeMinutes;
    out.idleTimeoutMinutes = in->idleTimeoutMinutes;
    out.cookieKind = in->cookieKind;
    return true;
}

bool toOptions(const logoffCookieClient_options* in, ClientOptions& out) {
    if (in == nullptr) {
        return true;
    }
    if (in->timeoutMs <= 0 || in->socketWaitMs < 0) {
        return false;
    }
    out.socketPath = in->socketPath != nullptr ? in->socketPath : "";
    out.timeout = std::chrono::milliseconds(in->timeoutMs);
    out.socketWait = std::chrono::milliseconds(in->socketWaitMs);
    return true;
}

// The C caller reads the system's reason from errno.
int finish(const ClientStatus& status) {
    if (status.systemError != 0) {
        errno = status.systemError;
    }
    return status.error;
}

// errno is set on every LC_CLIENT_SYSTEM_ERROR, as the header promises.
template <typename Call>
int guarded(Call call) {
    try {
        return call();
    } catch (const std::system_error& failure) {
        int code = failure.code().value();
        return finish(ClientStatus{LC_CLIENT_SYSTEM_ERROR, code != 0 ? code : EIO});
    } catch (...) {
        // Otherwise only the standard library's refusal of memory or of a
        // size (bad_alloc, length_error) can leave the library's own code.
        return finish(ClientStatus{LC_CLIENT_SYSTEM_ERROR, ENOMEM});
    }
}

}  // namespace

extern "C" {

void logoffCookieClient_initCookie(logoffCookieClient_cookie* cookie, const char* cookieText) {
    if (cookie == nullptr) {
        return;
    }
    int32_t now = logoffcookie::currentTime();
    *cookie = logoffCookieClient_cookie{
        cookieText, nullptr, now, now, 0, LC_CLIENT_DEFAULT_MAX_LIFETIME_MINUTES, 0, 0};
}

void logoffCookieClient_initOptions(logoffCookieClient_options* options) {
    if (options == nullptr) {
        return;
    }
    *options = logoffCookieClient_options{nullptr, LC_CLIENT_DEFAULT_TIMEOUT_MS,
                                          LC_CLIENT_DEFAULT_SOCKET_WAIT_MS};
}

int logoffCookieClient_cookieIsCached(const logoffCookieClient_options* options,
                                      const logoffCookieClient_cookie* cookie, int* cached) {
    return guarded([&] {
        Cookie request;
        ClientOptions settings;
        if (cached == nullptr || !toCookie(cookie, request) || !toOptions(options, settings)) {
            return static_cast<int>(LC_CLIENT_BAD_ARGUMENT);
        }
        bool answer = false;
        ClientStatus status = logoffcookie::cookieIsCached(request, answer, settings);
        if (status.ok()) {
            *cached = answer ? 1 : 0;
        }
        return finish(status);
    });
}

int logoffCookieClient_addToCache(const logoffCookieClient_options* options,
                                  const logoffCookieClient_cookie* cookie) {
    return guarded([&] {
        Cookie request;
        ClientOptions settings;
        if (!toCookie(cookie, request) || !toOptions(options, settings)) {
            return static_cast<int>(LC_CLIENT_BAD_ARGUMENT);
        }
        return finish(logoffcookie::addToCache(request, settings));
    });
}

}  // extern "C"
