// What one connection to Redis costs: the time to make it (TCP, the TLS
// handshake with rediss://, and one round trip), as a reconnection pays it,
// and the memory each open link holds.
//
//   VOKLOGOFFSHARE=rediss://127.0.0.1:PORT VOKLOGOFFSHAREKEY=/path/key
//   VOKLOGOFFSHARETLSCA=/path/ca.crt share_connect_bench [CONNECTIONS] [LINKS]
//
// Prints the connection time's percentiles over CONNECTIONS connections made
// one after the other, then the resident memory grown by holding LINKS links
// open at once, per link.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "share/redisLink.h"

namespace {

using Clock = std::chrono::steady_clock;

long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    int connections = argc > 1 ? std::atoi(argv[1]) : 500;
    int links = argc > 2 ? std::atoi(argv[2]) : 200;
    ShareConfig config;
    std::string error;
    if (readShareConfig(config, error) != ShareConfigResult::On || config.endpoint.viaSentinel()) {
        std::fprintf(stderr, "set VOKLOGOFFSHARE (not sentinels) and VOKLOGOFFSHAREKEY: %s\n",
                     error.c_str());
        return 2;
    }
    const ShareEndpoint& endpoint = config.endpoint;
    std::vector<double> micros;
    for (int i = 0; i < connections; ++i) {
        RedisLink link;
        auto start = Clock::now();
        // A PING after the connect: over TLS the connect makes one round
        // trip of its own, in clear it makes none.
        if (link.connect(endpoint, std::chrono::seconds(5), error) !=
                RedisLink::Outcome::Connected ||
            (!endpoint.useTls && !link.command({"PING"}, error))) {
            std::fprintf(stderr, "connect: %s\n", error.c_str());
            return 1;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(micros.begin(), micros.end());
    auto at = [&](double share) {
        return micros[std::min(micros.size() - 1, static_cast<std::size_t>(share * micros.size()))];
    };
    std::printf(
        "%s: connection with one round trip, %d made: p50 %.0f us, p90 %.0f us, p99 %.0f us\n",
        endpoint.describe().c_str(), connections, at(0.5), at(0.9), at(0.99));

    // Each link read a reply once, so its buffers are as in use.
    long before = residentKb();
    std::vector<std::unique_ptr<RedisLink>> open;
    for (int i = 0; i < links; ++i) {
        open.push_back(std::make_unique<RedisLink>());
        if (open.back()->connect(endpoint, std::chrono::seconds(5), error) !=
                RedisLink::Outcome::Connected ||
            !open.back()->command({"PING"}, error)) {
            std::fprintf(stderr, "connect: %s\n", error.c_str());
            return 1;
        }
    }
    long after = residentKb();
    std::printf("%s: %d links open: %.1f KB resident each\n", endpoint.describe().c_str(), links,
                static_cast<double>(after - before) / links);
    return 0;
}
