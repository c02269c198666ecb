// Where the service's socket file is: the file `logoffCookieSocket` in the
// directory that WA_INSTALL_PATH names. The service creates it there and
// every client looks for it there, so both compose the path here.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

inline constexpr char kSocketFileName[] = "logoffCookieSocket";
inline constexpr char kInstallPathVariable[] = "WA_INSTALL_PATH";

// Longest socket path a local address can hold (its path field has 108
// bytes, one for the terminator).
inline constexpr size_t kMaxSocketPathLength = 107;

// The directory of the socket file, or nullptr when WA_INSTALL_PATH is unset
// or empty (an empty directory would put the socket at the root).
inline const char* socketDirectory() {
    const char* directory = std::getenv(kInstallPathVariable);
    return directory != nullptr && *directory != '\0' ? directory : nullptr;
}

// Writes "<directory>/logoffCookieSocket" into `path` (of `capacity` bytes,
// always terminated when capacity is not 0). Returns the length of the whole
// path: the path in `path` is complete only when that is below `capacity`.
// (A cut path is what the caller asked for: g++ need not warn where it
// foresees one.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-truncation"
#endif
inline size_t composeSocketPathIn(const char* directory, char* path, size_t capacity) {
    int length = std::snprintf(path, capacity, "%s/%s", directory, kSocketFileName);
    // snprintf fails only for a length beyond INT_MAX: too long either way.
    return length < 0 ? static_cast<size_t>(-1) : static_cast<size_t>(length);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// The same path as a string, for clients and for messages.
inline std::string socketPathIn(std::string_view directory) {
    std::string path(directory);
    path += '/';
    path += kSocketFileName;
    return path;
}
