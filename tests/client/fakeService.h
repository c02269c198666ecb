// A stand-in for the service on a local socket in a temporary directory:
// each accepted connection is handed to a behaviour chosen by the test, one
// connection at a time, so the client's handling of every kind of answer
// (none, garbage, late, foreign) can be shown.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "crypto/logoffCookiePipe_crypt.h"
#include "support/threads/uncopyable.h"

namespace lctest {

// A temporary directory, removed with everything in it.
class TempDir : private Uncopyable {
  public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Binds a local stream socket at `path`; listens with `backlog` unless it is
// negative. Returns the descriptor, or -1.
int bindLocalSocket(const std::string& path, int backlog);

class FakeService {
  public:
    using Behaviour = std::function<void(int fd)>;

    // Listens at once on <temp dir>/logoffCookieSocket.
    explicit FakeService(Behaviour behaviour);
    ~FakeService();
    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    const std::string& directory() const { return dir_.path(); }
    std::string socketPath() const { return dir_.path() + "/logoffCookieSocket"; }
    int connections() const { return connections_.load(); }

  private:
    void serve();

    TempDir dir_;
    Behaviour behaviour_;
    int listenFd_ = -1;
    std::atomic<int> connections_{0};
    std::thread thread_;
};

// What the service does with a request: one read, then the envelope.
std::string readOnce(int fd);
// The decrypted message (payload and the envelope's zero byte), empty when
// the text does not decrypt with this host's key.
std::vector<uint8_t> decryptRequest(const std::string& text);
// The envelope text of `payload` under `keySource` (this host's by default).
std::string encryptPayload(const void* payload, int length,
                           PipeKeySource keySource = getHostPipeKey);
std::string encryptValue(int32_t value, PipeKeySource keySource = getHostPipeKey);
void writeAll(int fd, const std::string& text);
// Waits until the peer closes its end.
void drainUntilClosed(int fd);

// The behaviour of a service that answers every request with `value`, and
// keeps each decrypted request in `requests` when it is given.
FakeService::Behaviour answerWith(int32_t value,
                                  std::vector<std::vector<uint8_t>>* requests = nullptr);

}  // namespace lctest
