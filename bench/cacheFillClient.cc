// Fills a running service's cache from outside: N distinct cookies added
// through its socket by C clients at once, one connection per add, as agents
// do. Each cookie lives L minutes from its creation (now + 1 s), so a cleanup
// pass that runs L minutes and 30 s after the fill expires every one of them.
// For the black-box stall run (scripts/stallbench.sh), where
// `logoffcookie bench` measures the queries meanwhile.
//
//   cache_fill_client --socket PATH --cookies N [--clients C] [--lifetime L] [--prefix P]
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "crypto/logoffCookiePipe_crypt.h"
#include "tests/support/rawRequests.h"

namespace {

unsigned char pipeKey[PIPE_KEY_SIZE];

// The host's key read once: the clients, not the service, would be the cost.
int copyPipeKey(unsigned char* key) {
    std::memcpy(key, pipeKey, PIPE_KEY_SIZE);
    return 0;
}

std::string encrypt(const std::string& payload) {
    char* text = nullptr;
    int length = 0;
    int result = encryptPipeDataWith(copyPipeKey, payload.data(), static_cast<int>(payload.size()),
                                     &text, &length, ENCRYPTION_KAE5);
    std::string encrypted = result == 0 ? std::string(text, static_cast<size_t>(length)) : "";
    std::free(text);
    return encrypted;
}

}  // namespace

int main(int argc, char** argv) {
    std::string socket;
    long cookies = 0;
    int clients = 4;
    std::uint32_t lifetime = 1;
    std::string prefix = "fill-";
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        std::string value = argv[i + 1];
        if (name == "--socket") {
            socket = value;
        } else if (name == "--cookies") {
            cookies = std::stol(value);
        } else if (name == "--clients") {
            clients = std::stoi(value);
        } else if (name == "--lifetime") {
            lifetime = static_cast<std::uint32_t>(std::stoul(value));
        } else if (name == "--prefix") {
            prefix = value;
        } else {
            std::fprintf(stderr, "cache_fill_client: unknown option %s\n", name.c_str());
            return 2;
        }
    }
    if (socket.empty() || cookies <= 0 || clients <= 0 || getHostPipeKey(pipeKey) != 0) {
        std::fprintf(stderr,
                     "usage: cache_fill_client --socket PATH --cookies N [--clients C] "
                     "[--lifetime MINUTES] [--prefix P]\n");
        return 2;
    }
    const auto created = static_cast<std::int32_t>(std::time(nullptr)) + 1;
    std::atomic<long> next{0};
    std::atomic<long> failed{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&] {
            for (long i = next++; i < cookies; i = next++) {
                lctest::CookieFields fields;
                fields.text = prefix + std::to_string(i);
                fields.bytes = "fill";
                fields.creationTime = created;
                fields.lastUseTime = created;
                fields.maxLifetimeMinutes = lifetime;
                fields.idleTimeoutMinutes = 0;
                if (!lctest::roundTrip(socket, encrypt(lctest::addPayload(fields)))) {
                    ++failed;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("cache_fill_client: %ld adds in %.1f s (%.0f/s), %ld failed\n", cookies, seconds,
                static_cast<double>(cookies) / seconds, failed.load());
    return failed.load() == 0 ? 0 : 1;
}
