#include "diag/errnoName.h"

#include <cerrno>

const char* errnoName(int error) {
    switch (error) {
        case EAGAIN:
            return "EAGAIN";
        case EBADF:
            return "EBADF";
        case EFAULT:
            return "EFAULT";
        case EFBIG:
            return "EFBIG";
        case EINTR:
            return "EINTR";
        case EINVAL:
            return "EINVAL";
        case EIO:
            return "EIO";
        case ENOSPC:
            return "ENOSPC";
        case EPIPE:
            return "EPIPE";
        case EISDIR:
            return "EISDIR";
        default:
            return "Unspecified error";
    }
}
