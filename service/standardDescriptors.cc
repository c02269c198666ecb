#include "service/standardDescriptors.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

bool openClosedStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // The lower numbers are open by now, so open() gives `fd` itself.
        int opened = open("/dev/null", O_RDWR);
        if (opened < 0) {
            return false;
        }
        if (opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
    return true;
}
