#include "service/readyRequest.h"

#include <sys/ioctl.h>

int bytesAlreadyReceived(int fd) {
    int readable = 0;
    if (ioctl(fd, FIONREAD, &readable) != 0 || readable < 0) {
        return 0;
    }
    return readable;
}
