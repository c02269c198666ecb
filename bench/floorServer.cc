// logoffcookie-floor: the least a server of this design can do per request,
// to measure the service against. The same listening socket file as the
// service, the same select and accept loop, one detached thread per
// connection; the thread reads once and writes one fixed 72-character reply.
// Nothing is decrypted and nothing is looked up. The reply is a real envelope
// of the value 1, made once at start, so a client can treat it like the
// service's.
//
// Threads start as the service's do: on the accepting thread's processor,
// then free to run anywhere (see RWThreadImp::exec). --start-anywhere leaves
// the placement to the system, where on a busy machine a new thread often
// waits for the other processor's next scheduler tick.
//
//     WA_INSTALL_PATH=/tmp/x logoffcookie-floor [--start-anywhere]
//     # serves until SIGTERM
#include <pthread.h>
#include <sched.h>
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

bool startOnThisProcessor = true;
cpu_set_t loopAffinity;  // what a thread started on this processor returns to

void* serveConnection(void* argument) {
    if (startOnThisProcessor) {
        pthread_setaffinity_np(pthread_self(), sizeof loopAffinity, &loopAffinity);
    }
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
    if (startOnThisProcessor) {
        cpu_set_t here;
        CPU_ZERO(&here);
        CPU_SET(sched_getcpu(), &here);
        pthread_attr_setaffinity_np(&attributes, sizeof here, &here);
    }
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

int main(int argc, char** argv) {
    if (argc > 2 || (argc == 2 && std::strcmp(argv[1], "--start-anywhere") != 0)) {
        std::fprintf(stderr, "usage: logoffcookie-floor [--start-anywhere]\n");
        return 2;
    }
    startOnThisProcessor =
        argc == 1 &&
        pthread_getaffinity_np(pthread_self(), sizeof loopAffinity, &loopAffinity) == 0 &&
        CPU_COUNT(&loopAffinity) > 1;
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
