// Fills a running service's cache from outside: N distinct cookies added
// through its socket by C clients at once, one connection per add through
// the client library, as agents do. Each cookie lives L minutes from its creation (now + 1 s), so a
// cleanup pass that runs L minutes and 30 s after the fill expires every one of them. For the
// black-box stall run (scripts/stallbench.sh), where `logoffcookie bench` measures the queries
// meanwhile.
//
//   cache_fill_client --socket PATH --cookies N [--clients C] [--lifetime L] [--prefix P]
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "client/logoffCookieClient.h"

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
    if (socket.empty() || cookies <= 0 || clients <= 0) {
        std::fprintf(stderr,
                     "usage: cache_fill_client --socket PATH --cookies N [--clients C] "
                     "[--lifetime MINUTES] [--prefix P]\n");
        return 2;
    }
    const auto created = static_cast<std::int32_t>(std::time(nullptr)) + 1;
    logoffCookieClient_options options;
    logoffCookieClient_initOptions(&options);
    options.socketPath = socket.c_str();
    // An add that waits for a pass's hold may take long on a loaded machine:
    // counted as failed only when it is not answered at all.
    options.timeoutMs = 15000;
    std::atomic<long> next{0};
    std::atomic<long> failed{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&] {
            for (long i = next++; i < cookies; i = next++) {
                const std::string text = prefix + std::to_string(i);
                logoffCookieClient_cookie cookie;
                logoffCookieClient_initCookie(&cookie, text.c_str());
                cookie.cookieBytes = "fill";
                cookie.creationTime = created;
                cookie.lastUseTime = created;
                cookie.maxLifetimeMinutes = lifetime;
                cookie.idleTimeoutMinutes = 0;
                if (logoffCookieClient_addToCache(&options, &cookie) != LC_CLIENT_OK) {
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
