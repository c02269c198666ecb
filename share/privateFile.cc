#include "share/privateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "crypto/secureMemory.h"

namespace {

// Checks what `fd` is before a byte is read from it.
bool checkPrivate(int fd, const std::string& path, std::size_t smallest, std::size_t largest,
                  std::size_t& size, std::string& error) {
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        error = "fstat " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = path + " is not a regular file";
        return false;
    }
    if (info.st_uid != geteuid()) {
        error = path + " is not owned by the service's user";
        return false;
    }
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        error = path + " is open to group or others (chmod 600)";
        return false;
    }
    if (info.st_size < static_cast<off_t>(smallest) || info.st_size > static_cast<off_t>(largest)) {
        error = path + " must hold from " + std::to_string(smallest) + " to " +
                std::to_string(largest) + " bytes";
        return false;
    }
    size = static_cast<std::size_t>(info.st_size);
    return true;
}

}  // namespace

bool readPrivateFile(const std::string& path, std::size_t smallest, std::size_t largest,
                     std::vector<std::uint8_t>& out, std::string& error) {
    // Not blocking: a FIFO put at the path would otherwise hold the open
    // until a writer comes, and the start with it.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = errno == ELOOP ? path + " is a symbolic link"
                               : "open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::size_t size = 0;
    std::vector<std::uint8_t> bytes;
    bool ok = checkPrivate(fd, path, smallest, largest, size, error);
    if (ok) {
        bytes.resize(size);
        std::size_t filled = 0;
        while (ok && filled < size) {
            ssize_t got = read(fd, bytes.data() + filled, size - filled);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                error = "read " + path + ": " + (got < 0 ? std::strerror(errno) : "short read");
                ok = false;
            } else {
                filled += static_cast<std::size_t>(got);
            }
        }
    }
    close(fd);
    if (ok) {
        out.swap(bytes);
    }
    if (!bytes.empty()) {
        secureZero(bytes.data(), bytes.size());
    }
    return ok;
}
