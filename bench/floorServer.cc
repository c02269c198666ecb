// logoffcookie-floor: the least a server of this design can do per request,
// to measure the service against. The same listening socket file as the
// service, the same select and accept loop, one detached thread per
// connection; the thread reads once and writes one fixed 72-character reply.
// Nothing is decrypted and nothing is looked up. The reply is a real envelope
// of the value 1, made once at start, so a client can treat it like the
// service's.
//
//     WA_INSTALL_PATH=/tmp/x logoffcookie-floor     # serves until SIGTERM
#include <pthread.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crypto/logoffCookiePipe_crypt.h"
#include "service/listenSocket.h"

namespace {

constexpr size_t kReplyTextLength = 72;
constexpr int kRequestCapacity = 4096;

char fixedReply[kReplyTextLength];

bool makeFixedReply() {
    const int32_t value = 1;
    char* text = nullptr;
    int length = 0;
    int result =
        encryptPipeDataWith(getHostPipeKey, &value, sizeof value, &text, &length, ENCRYPTION_KAE5);
    bool made = result == 0 && static_cast<size_t>(length) == kReplyTextLength;
    if (made) {
        std::memcpy(fixedReply, text, kReplyTextLength);
    }
    std::free(text);
    return made;
}

void* serveConnection(void* argument) {
    int fd = static_cast<int>(reinterpret_cast<intptr_t>(argument));
    char request[kRequestCapacity];
    if (read(fd, request, sizeof request) > 0) {
        send(fd, fixedReply, sizeof fixedReply, MSG_NOSIGNAL);
    }
    close(fd);
    return nullptr;
}

void launchConnectionThread(int fd) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    if (pthread_create(&thread, &attributes, serveConnection,
                       reinterpret_cast<void*>(static_cast<intptr_t>(fd))) != 0) {
        close(fd);
    }
    pthread_attr_destroy(&attributes);
}

[[noreturn]] void serve(int fd_socket) {
    fd_set master_set;
    FD_ZERO(&master_set);
    FD_SET(fd_socket, &master_set);
    for (;;) {
        fd_set read_set = master_set;
        if (select(fd_socket + 1, &read_set, nullptr, nullptr, nullptr) <= 0 ||
            !FD_ISSET(fd_socket, &read_set)) {
            continue;
        }
        int fd = accept(fd_socket, nullptr, nullptr);
        if (fd >= 0) {
            launchConnectionThread(fd);
        }
    }
}

}  // namespace

int main() {
    char path[kMaxSocketPathLength + 1];
    char error[256];
    if (!composeSocketPath(path, sizeof path, error, sizeof error)) {
        std::fprintf(stderr, "logoffcookie-floor: %s\n", error);
        return 1;
    }
    if (!makeFixedReply()) {
        std::fprintf(stderr, "logoffcookie-floor: could not make the fixed reply\n");
        return 1;
    }
    int fd_socket = createListeningSocket(path);
    if (fd_socket < 0) {
        return 1;
    }
    std::printf("logoffcookie-floor: listening on %s\n", path);
    std::fflush(stdout);
    serve(fd_socket);
}
