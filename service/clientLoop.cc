#include <sys/socket.h>
#include <unistd.h>

#include "service/logoffCookieAPIServer.h"

// Placeholder until the dispatcher lands: connections are accepted and closed.
void logoffCookieAPI_clientLoop(int fd_socket) {
    for (;;) {
        int fd_client = accept(fd_socket, nullptr, nullptr);
        if (fd_client >= 0) {
            close(fd_client);
        }
    }
}
