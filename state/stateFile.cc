#include "state/stateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <utility>

namespace {

constexpr mode_t kStateFileMode = 0600;
// A state file this large holds tens of millions of cookies: not ours.
constexpr off_t kLargestStateFile = off_t{1} << 32;

std::string systemError(const char* call, const std::string& subject, int error) {
    return std::string(call) + " " + subject + ": " + std::strerror(error);
}

std::string directoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

StateFileWriter::StateFileWriter(std::string path) : path_(std::move(path)) {}

StateFileWriter::~StateFileWriter() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (!temporary_.empty() && !committed_) {
        unlink(temporary_.c_str());
    }
}

bool StateFileWriter::fail(const char* call, const std::string& subject) {
    error_ = systemError(call, subject, errno);
    return false;
}

bool StateFileWriter::open() {
    // A unique name created with O_EXCL and O_NOFOLLOW: a file or link
    // planted under a guessable name is never written through. In the same
    // directory, so that the rename replaces the old file in one step.
    std::string name = path_ + ".XXXXXX";
    int fd = mkostemp(name.data(), O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return fail("mkstemp", name);
    }
    fd_ = fd;
    temporary_ = name;
    // The creation mode went through the file-mode mask.
    if (fchmod(fd_, kStateFileMode) != 0) {
        return fail("fchmod", temporary_);
    }
    return true;
}

bool StateFileWriter::write(const std::uint8_t* bytes, std::size_t length) {
    while (length > 0) {
        ssize_t written = ::write(fd_, bytes, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail("write", temporary_);
        }
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

bool StateFileWriter::commit() {
    // On disk before the rename: a power loss after it must not leave the
    // new name on a file whose blocks never arrived.
    if (fsync(fd_) != 0) {
        return fail("fsync", temporary_);
    }
    int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) {
        return fail("close", temporary_);
    }
    if (rename(temporary_.c_str(), path_.c_str()) != 0) {
        return fail("rename", temporary_);
    }
    committed_ = true;
    // The rename itself lasts once the directory is on disk.
    std::string directory = directoryOf(path_);
    int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        return fail("open", directory);
    }
    bool synced = fsync(dirFd) == 0;
    int savedErrno = errno;
    ::close(dirFd);
    if (!synced) {
        errno = savedErrno;
        return fail("fsync", directory);
    }
    return true;
}

StateFileRead readStateFile(const std::string& path, std::vector<std::uint8_t>& bytes,
                            std::string& reason) {
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            return StateFileRead::Missing;
        }
        reason = systemError("open", path, errno);
        return StateFileRead::Refused;
    }
    StateFileRead result = StateFileRead::Refused;
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        reason = systemError("fstat", path, errno);
    } else if (!S_ISREG(info.st_mode)) {
        reason = path + " is not a regular file";
    } else if (info.st_uid != geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        reason = path + " must belong to the service's user and be writable by it alone";
    } else if (info.st_size > kLargestStateFile) {
        reason = path + " is too large to be a state file";
    } else {
        // Memory for the whole file may not be had: said as the file's
        // fault, so that it is set aside and the next start does not fail
        // on it the same way.
        try {
            bytes.resize(static_cast<std::size_t>(info.st_size));
            std::size_t done = 0;
            reason.clear();
            while (done < bytes.size() && reason.empty()) {
                ssize_t got = read(fd, bytes.data() + done, bytes.size() - done);
                if (got > 0) {
                    done += static_cast<std::size_t>(got);
                } else if (got == 0) {
                    reason = path + " changed while it was read";
                } else if (errno != EINTR) {
                    reason = systemError("read", path, errno);
                }
            }
            result = reason.empty() ? StateFileRead::Read : StateFileRead::Refused;
        } catch (const std::exception& failure) {
            bytes = {};
            reason = "state file " + path + " cannot be read: " + failure.what();
            result = StateFileRead::Unreadable;
        }
    }
    close(fd);
    return result;
}

bool checkStateDirectory(const std::string& path, std::string& reason) {
    std::string directory = directoryOf(path);
    struct stat info {};
    if (stat(directory.c_str(), &info) != 0) {
        reason = systemError("stat", directory, errno);
        return false;
    }
    // Whoever may rename in the directory may put a file set aside earlier
    // (valid and signed, but stale) back under the name the start reads.
    if (info.st_uid != geteuid() && info.st_uid != 0) {
        reason = "directory " + directory + " of " + path +
                 " belongs to neither the service's user nor root";
        return false;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        reason = "directory " + directory + " of " + path +
                 " may be written by group or others (chmod go-w " + directory + ")";
        return false;
    }
    return true;
}

std::string stateFileAsideName(const std::string& path) {
    return path + ".old";
}

bool setStateFileAside(const std::string& path, std::string& reason) {
    std::string aside = stateFileAsideName(path);
    if (rename(path.c_str(), aside.c_str()) != 0) {
        reason = systemError("rename", path, errno);
        return false;
    }
    return true;
}
