#include "diag/metricsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The collector and other readers usually run as another user.
constexpr mode_t kMetricsFileMode = 0644;

int failReplace(const char* call, int savedErrno, const char* subject, char* error,
                std::size_t errorSize) {
    std::snprintf(error, errorSize, "%s %s: %s", call, subject, std::strerror(savedErrno));
    return 0;
}

bool writeAll(int fd, const char* text, std::size_t length) {
    while (length > 0) {
        ssize_t written = write(fd, text, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        text += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

int metrics_replaceFile(const char* path, const char* text, std::size_t length, char* error,
                        std::size_t errorSize) {
    // A unique name made with O_EXCL: a file planted under a guessable name in
    // a shared directory is never written through. The suffix keeps it out of
    // the collector's "*.prom" while it is incomplete.
    std::string temporary = std::string(path) + ".XXXXXX";
    int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return failReplace("mkstemp", errno, temporary.c_str(), error, errorSize);
    }

    const char* failedCall = nullptr;
    int savedErrno = 0;
    if (fchmod(fd, kMetricsFileMode) != 0) {
        failedCall = "fchmod";
    } else if (!writeAll(fd, text, length)) {
        failedCall = "write";
    }
    if (failedCall != nullptr) {
        savedErrno = errno;
    }
    if (close(fd) != 0 && failedCall == nullptr) {
        failedCall = "close";
        savedErrno = errno;
    }
    if (failedCall == nullptr && rename(temporary.c_str(), path) != 0) {
        failedCall = "rename";
        savedErrno = errno;
    }
    if (failedCall != nullptr) {
        unlink(temporary.c_str());
        return failReplace(failedCall, savedErrno, temporary.c_str(), error, errorSize);
    }
    return 1;
}
