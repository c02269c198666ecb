// logoffcookie-floor: the least a server of this design can do per request,
// to measure the service against. The same listening socket file as the
// service and the same select and accept loop; each connection is read once
// and answered with one fixed 72-character reply. Nothing is decrypted and
// nothing is looked up. The reply is a real envelope of the value 1, made
// once at start, so a client can treat it like the service's.
//
// Three ways to serve a connection:
//   (default)  one detached thread per connection with the system's default
//              attributes: no start hand-shake, no registry, no placement.
//              This is what a plain thread-per-connection server does.
//   --bound    the same thread, started on the accepting thread's processor
//              and then freed to run anywhere. This helps a loop that waits
//              for each new thread; a loop that does not wait is slowed by
//              it, since the new thread competes with the loop for one
//              processor.
//   --inline   no thread: the accepting thread reads and answers itself. A
//              silent client holds up every other one; as a floor it shows
//              what the work costs without any thread at all.
//
//     WA_INSTALL_PATH=/tmp/x logoffcookie-floor [--bound | --inline]
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
#include <string_view>

#include "bench/detachedThread.h"
#include "crypto/logoffCookiePipe_crypt.h"
#include "service/listenSocket.h"

namespace {

constexpr size_t kReplyTextLength = 72;
constexpr int kRequestCapacity = 4096;

enum class ServingMode { kThread, kBoundThread, kInline };

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

void answerConnection(int fd) {
    char request[kRequestCapacity];
    if (read(fd, request, sizeof request) > 0) {
        send(fd, fixedReply, sizeof fixedReply, MSG_NOSIGNAL);
    }
    close(fd);
}

bool startBound = false;
cpu_set_t loopAffinity;  // what a thread started bound returns to

void* serveConnection(void* argument) {
    if (startBound) {
        pthread_setaffinity_np(pthread_self(), sizeof loopAffinity, &loopAffinity);
    }
    answerConnection(static_cast<int>(reinterpret_cast<intptr_t>(argument)));
    return nullptr;
}

void launchConnectionThread(int fd) {
    if (startDetachedThread(serveConnection, reinterpret_cast<void*>(static_cast<intptr_t>(fd)),
                            startBound) != 0) {
        close(fd);
    }
}

[[noreturn]] void serve(int fd_socket, ServingMode mode) {
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
        if (fd < 0) {
            continue;
        }
        if (mode == ServingMode::kInline) {
            answerConnection(fd);
        } else {
            launchConnectionThread(fd);
        }
    }
}

bool parseMode(int argc, char** argv, ServingMode& mode) {
    mode = ServingMode::kThread;
    if (argc == 1) {
        return true;
    }
    if (argc != 2) {
        return false;
    }
    std::string_view option = argv[1];
    if (option == "--bound") {
        mode = ServingMode::kBoundThread;
    } else if (option == "--inline") {
        mode = ServingMode::kInline;
    } else {
        return false;
    }
    return true;
}

const char* modeName(ServingMode mode) {
    switch (mode) {
        case ServingMode::kBoundThread:
            return "a bound thread per connection";
        case ServingMode::kInline:
            return "inline";
        case ServingMode::kThread:
            break;
    }
    return "a thread per connection";
}

}  // namespace

int main(int argc, char** argv) {
    ServingMode mode;
    if (!parseMode(argc, argv, mode)) {
        std::fprintf(stderr, "usage: logoffcookie-floor [--bound | --inline]\n");
        return 2;
    }
    // Bound placement means nothing with a single processor to choose from.
    startBound = mode == ServingMode::kBoundThread &&
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
    std::printf("logoffcookie-floor: listening on %s (%s)\n", path, modeName(mode));
    std::fflush(stdout);
    serve(fd_socket, mode);
}
