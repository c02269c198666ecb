#include "tests/client/fakeService.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace lctest {

TempDir::TempDir() {
    char pattern[] = "/tmp/lc-client-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

int bindLocalSocket(const std::string& path, int backlog) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        (backlog >= 0 && listen(fd, backlog) != 0)) {
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    return fd;
}

FakeService::FakeService(Behaviour behaviour) : behaviour_(std::move(behaviour)) {
    listenFd_ = bindLocalSocket(socketPath(), 16);
    if (listenFd_ < 0) {
        throw std::runtime_error("cannot listen on " + socketPath());
    }
    thread_ = std::thread([this] { serve(); });
}

FakeService::~FakeService() {
    // Wakes the accept below; it then fails and the thread ends.
    shutdown(listenFd_, SHUT_RDWR);
    thread_.join();
    close(listenFd_);
}

void FakeService::serve() {
    for (;;) {
        int fd = accept(listenFd_, nullptr, nullptr);
        if (fd < 0) {
            return;
        }
        ++connections_;
        behaviour_(fd);
        close(fd);
    }
}

std::string readOnce(int fd) {
    char buffer[4096];
    ssize_t received = read(fd, buffer, sizeof buffer);
    return received > 0 ? std::string(buffer, static_cast<size_t>(received)) : std::string();
}

std::vector<uint8_t> decryptRequest(const std::string& text) {
    std::vector<uint8_t> buffer(4096);
    std::memcpy(buffer.data(), text.data(), std::min(text.size(), buffer.size()));
    int length = static_cast<int>(text.size());
    if (decryptPipeDataWith(getHostPipeKey, buffer.data(), &length, 4096, ENCRYPTION_KAE5) != 0) {
        return {};
    }
    buffer.resize(static_cast<size_t>(length));
    return buffer;
}

std::string encryptPayload(const void* payload, int length, PipeKeySource keySource) {
    char* text = nullptr;
    int textLength = 0;
    int result =
        encryptPipeDataWith(keySource, payload, length, &text, &textLength, ENCRYPTION_KAE5);
    std::string out = result == 0 ? std::string(text, static_cast<size_t>(textLength)) : "";
    std::free(text);
    return out;
}

std::string encryptValue(int32_t value, PipeKeySource keySource) {
    return encryptPayload(&value, sizeof value, keySource);
}

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t sent = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) {
            return;
        }
        done += static_cast<size_t>(sent);
    }
}

void drainUntilClosed(int fd) {
    char buffer[256];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
}

FakeService::Behaviour answerWith(int32_t value, std::vector<std::vector<uint8_t>>* requests) {
    return [value, requests](int fd) {
        std::vector<uint8_t> request = decryptRequest(readOnce(fd));
        if (requests != nullptr) {
            requests->push_back(request);
        }
        writeAll(fd, encryptValue(value));
    };
}

}  // namespace lctest
