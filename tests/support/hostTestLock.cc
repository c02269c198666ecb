#include "tests/support/hostTestLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace lctest {
namespace {

constexpr const char* kHostLockPath = "/tmp/VOKLogoffCookieService.tests.lock";

}  // namespace

HostTestLock::HostTestLock() {
    fd_ = open(kHostLockPath, O_CREAT | O_RDWR | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
        flock(fd_, LOCK_EX);
    }
}

HostTestLock::~HostTestLock() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

}  // namespace lctest
