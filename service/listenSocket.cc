#include "service/listenSocket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diag/traceLog.h"
#include "protocol/socketPath.h"

namespace {

constexpr int kListenBacklog = 128;

// One way of failing for every step: the call's name and the system's reason,
// to the trace and to stderr.
int failSetup(const char* call, int fd, bool removeFile, const char* path) {
    int error = errno;
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_ServerMain() -- %s failed on %s: %s", call, path,
              std::strerror(error));
    std::fprintf(stderr, "logoffCookieAPI_ServerMain() -- %s failed on %s: %s\n", call, path,
                 std::strerror(error));
    if (fd >= 0) {
        close(fd);
    }
    if (removeFile) {
        unlink(path);
    }
    return -1;
}

// Whoever may write in the socket file's directory can remove the file and
// put another in its place; the sticky bit limits that to the file's owner.
// Only a warning: the installation decides who may write there.
void warnIfDirectoryOpenToOthers(const char* path) {
    char directory[512];
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        std::snprintf(directory, sizeof directory, ".");
    } else {
        int length = slash == path ? 1 : static_cast<int>(slash - path);
        std::snprintf(directory, sizeof directory, "%.*s", length, path);
    }
    struct stat info {};
    if (stat(directory, &info) != 0 || (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 ||
        (info.st_mode & S_ISVTX) != 0) {
        return;
    }
    TRACE_LOG(TRACE_DETAIL,
              "logoffCookieAPI_ServerMain() -- warning: %s may be written by group or others and "
              "has no sticky bit; they could replace the socket file.",
              directory);
    std::fprintf(stderr,
                 "logoffCookieAPI_ServerMain() -- warning: %s may be written by group or others "
                 "and has no sticky bit; they could replace the socket file.\n",
                 directory);
}

}  // namespace

bool composeSocketPath(char* path, size_t capacity, char* error, size_t errorCapacity) {
    const char* installPath = socketDirectory();
    if (installPath == nullptr) {
        std::snprintf(error, errorCapacity,
                      "WA_INSTALL_PATH is not set; it must name the directory of the socket file.");
        return false;
    }
    size_t length = composeSocketPathIn(installPath, path, capacity);
    if (length > kMaxSocketPathLength || length >= capacity) {
        std::snprintf(
            error, errorCapacity,
            "socket path under WA_INSTALL_PATH is too long (%zu characters, at most %zu).", length,
            kMaxSocketPathLength);
        return false;
    }
    return true;
}

bool checkSocketDirectory(char* error, size_t errorCapacity) {
    const char* installPath = socketDirectory();
    struct stat info {};
    if (installPath == nullptr) {
        std::snprintf(error, errorCapacity,
                      "WA_INSTALL_PATH is not set; it must name the directory of the socket file.");
        return false;
    }
    if (stat(installPath, &info) != 0) {
        std::snprintf(error, errorCapacity, "WA_INSTALL_PATH %s: %s", installPath,
                      std::strerror(errno));
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        std::snprintf(error, errorCapacity, "WA_INSTALL_PATH %s: %s", installPath,
                      std::strerror(ENOTDIR));
        return false;
    }
    return true;
}

int createListeningSocket(const char* path) {
    warnIfDirectoryOpenToOthers(path);
    unlink(path);

    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) {
        return failSetup("socket", -1, false, path);
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path, sizeof address.sun_path - 1);
    // The file is born open to everybody: a mode changed by path after bind
    // would follow whatever link another user put at that path meanwhile.
    mode_t callerMask = umask(0);
    int bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    umask(callerMask);
    if (bound != 0) {
        return failSetup("bind", fd, false, path);
    }

    // Operators know this step by its trace line; bind has given the mode.
    char chmodCommand[512];
    std::snprintf(chmodCommand, sizeof chmodCommand, "chmod 777 %s", path);
    TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_ServerMain() -- chmod command: %s", chmodCommand);
    if (listen(fd, kListenBacklog) != 0) {
        return failSetup("listen", fd, true, path);
    }
    return fd;
}
