#include "client/cli/benchLoad.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "client/cli/benchProgress.h"
#include "client/requestBuilder.h"
#include "client/serviceSocket.h"
#include "crypto/logoffCookiePipe_crypt.h"

namespace logoffcookie::cli {

namespace {

constexpr size_t kReplyCapacity = 512;
constexpr std::chrono::milliseconds kProgressInterval{500};

// The host's pipe key, read once: deriving it from the host facts for every
// message would make the clients, not the service, the cost being measured.
uint8_t benchPipeKey[PIPE_KEY_SIZE];

int copyBenchPipeKey(unsigned char* key) {
    std::memcpy(key, benchPipeKey, PIPE_KEY_SIZE);
    return 0;
}

// Small and per client: the choice of cookie and request costs next to nothing.
class XorShift {
  public:
    explicit XorShift(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ULL + 1) {}
    uint64_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }

  private:
    uint64_t state;
};

bool encryptText(const void* payload, size_t length, std::string& text) {
    char* out = nullptr;
    int outLength = 0;
    int result = encryptPipeDataWith(copyBenchPipeKey, payload, static_cast<int>(length), &out,
                                     &outLength, ENCRYPTION_KAE5);
    if (result == 0) {
        text.assign(out, static_cast<size_t>(outLength));
    }
    std::free(out);
    return result == 0;
}

class LoadGenerator {
  public:
    LoadGenerator(const BenchOptions& options, const sockaddr_un& address)
        : options(options), address(address) {}

    ClientStatus prepare();
    // Adds every cookie once, spread over the clients; returns the failures.
    int64_t prefill();
    BenchTally run(double& seconds, std::ostream& err, bool showProgress);

  private:
    struct CookieRequests {
        std::string query;
        std::string add;
    };

    Cookie cookie(size_t index) const;
    bool encryptRequest(size_t index, bool query, std::string& text) const;
    void runClient(int32_t index, BenchTally& tally);
    ClientError exchange(const std::string& request, bool query) const;
    ClientError checkReply(char* reply, size_t length, bool query) const;

    const BenchOptions& options;
    sockaddr_un address;
    int32_t creationTime = 0;
    std::string cookieBytes;
    std::vector<std::string> cookieTexts;
    std::vector<CookieRequests> encrypted;  // empty when every request is encrypted anew
    std::atomic<int64_t> claimed{0};
    std::atomic<int64_t> completed{0};  // requests done, for the progress line
    Clock::time_point end;
};

Cookie LoadGenerator::cookie(size_t index) const {
    Cookie fields(cookieTexts[index]);
    fields.bytes = cookieBytes;
    fields.creationTime = creationTime;
    fields.lastUseTime = creationTime;
    return fields;
}

bool LoadGenerator::encryptRequest(size_t index, bool query, std::string& text) const {
    Cookie fields = cookie(index);
    if (query) {
        uint8_t payload[kQueryPayloadSize];
        buildQueryPayload(fields, payload);
        return encryptText(payload, sizeof payload, text);
    }
    uint8_t payload[kAddPayloadSize];
    buildAddPayload(fields, payload);
    return encryptText(payload, sizeof payload, text);
}

ClientStatus LoadGenerator::prepare() {
    getHostPipeKey(benchPipeKey);
    // By default a second after now: a cookie created at or before the
    // service's start is answered without a look into the cache.
    creationTime = options.creationTime != 0 ? options.creationTime : currentTime() + 1;
    cookieBytes = "bench-" + std::to_string(creationTime);
    cookieTexts.reserve(static_cast<size_t>(options.cookies));
    for (int32_t i = 0; i < options.cookies; ++i) {
        cookieTexts.push_back("bench-cookie-" + std::to_string(i));
    }
    if (options.encryptEach) {
        return {};
    }
    const bool queries = options.queryPercent > 0;
    const bool adds = options.queryPercent < 100 || options.prefill;
    encrypted.resize(cookieTexts.size());
    for (size_t i = 0; i < cookieTexts.size(); ++i) {
        if ((queries && !encryptRequest(i, true, encrypted[i].query)) ||
            (adds && !encryptRequest(i, false, encrypted[i].add))) {
            return ClientStatus{LC_CLIENT_ENCRYPT_FAILED, 0};
        }
    }
    return {};
}

ClientError LoadGenerator::checkReply(char* reply, size_t length, bool query) const {
    int messageLength = static_cast<int>(length);
    // Decrypted in either mode, so that the clients do the same work against
    // the floor server as against the service.
    int result = decryptPipeDataWith(copyBenchPipeKey, reply, &messageLength,
                                     static_cast<int>(kReplyCapacity), ENCRYPTION_KAE5);
    if (options.expectRaw) {
        return length == kReplyTextLength ? LC_CLIENT_OK : LC_CLIENT_UNEXPECTED_REPLY;
    }
    if (result != 0) {
        return LC_CLIENT_REPLY_UNDECRYPTABLE;
    }
    int32_t value = 0;
    if (messageLength != kReplyLength + 1) {
        return LC_CLIENT_UNEXPECTED_REPLY;
    }
    std::memcpy(&value, reply, sizeof value);
    bool expected = query ? value == kQueryReplyCached || value == kQueryReplyNotCached
                          : value == kAddReplyValue;
    return expected ? LC_CLIENT_OK : LC_CLIENT_UNEXPECTED_REPLY;
}

ClientError LoadGenerator::exchange(const std::string& request, bool query) const {
    int fd = -1;
    Clock::time_point deadline;
    ClientStatus status = connectToService(address, options.connection.socketWait,
                                           options.connection.timeout, fd, deadline);
    if (!status.ok()) {
        return status.error;
    }
    char reply[kReplyCapacity];
    size_t length = 0;
    status = sendRequest(fd, request.data(), request.size(), deadline);
    if (status.ok()) {
        status = receiveReply(fd, reply, sizeof reply, deadline, length);
    }
    close(fd);
    return status.ok() ? checkReply(reply, length, query) : status.error;
}

void LoadGenerator::runClient(int32_t index, BenchTally& tally) {
    XorShift random(static_cast<uint64_t>(index) + 1);
    std::string fresh;
    for (;;) {
        if (options.requests > 0 ? claimed.fetch_add(1) >= options.requests : Clock::now() >= end) {
            return;
        }
        uint64_t draw = random.next();
        size_t cookieIndex = static_cast<size_t>(draw % cookieTexts.size());
        bool query = static_cast<int32_t>((draw >> 32) % 100) < options.queryPercent;
        Clock::time_point started = Clock::now();
        ClientError outcome = LC_CLIENT_OK;
        const std::string* request = &fresh;
        if (!options.encryptEach) {
            request = query ? &encrypted[cookieIndex].query : &encrypted[cookieIndex].add;
        } else if (!encryptRequest(cookieIndex, query, fresh)) {
            outcome = LC_CLIENT_ENCRYPT_FAILED;
        }
        if (outcome == LC_CLIENT_OK) {
            outcome = exchange(*request, query);
        }
        tally.record(
            outcome,
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - started).count());
        completed.fetch_add(1, std::memory_order_relaxed);
    }
}

int64_t LoadGenerator::prefill() {
    std::atomic<int64_t> failures{0};
    std::vector<std::thread> clients;
    const size_t step = static_cast<size_t>(options.clients);
    for (size_t first = 0; first < step; ++first) {
        clients.emplace_back([&, first] {
            std::string fresh;
            for (size_t i = first; i < cookieTexts.size(); i += step) {
                const std::string* request = &fresh;
                if (!options.encryptEach) {
                    request = &encrypted[i].add;
                } else if (!encryptRequest(i, false, fresh)) {
                    failures += 1;
                    continue;
                }
                if (exchange(*request, false) != LC_CLIENT_OK) {
                    failures += 1;
                }
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    return failures.load();
}

BenchTally LoadGenerator::run(double& seconds, std::ostream& err, bool showProgress) {
    const size_t count = static_cast<size_t>(options.clients);
    std::vector<BenchTally> tallies(count);
    std::vector<std::thread> clients;
    std::latch go(1);
    for (size_t i = 0; i < count; ++i) {
        tallies[i].latencyNanos.reserve(1 << 16);
        clients.emplace_back([&, i] {
            go.wait();
            runClient(static_cast<int32_t>(i), tallies[i]);
        });
    }
    BenchProgress progress(err, kProgressInterval);
    if (showProgress) {
        progress.start(completed);
    }
    Clock::time_point start = Clock::now();
    end = start + options.duration;
    go.count_down();
    for (std::thread& client : clients) {
        client.join();
    }
    progress.stop();
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    BenchTally total;
    for (BenchTally& tally : tallies) {
        total.merge(std::move(tally));
    }
    return total;
}

}  // namespace

ClientStatus runBenchLoad(const BenchOptions& options, std::ostream& err, bool showProgress,
                          BenchTally& tally, double& seconds) {
    sockaddr_un address;
    ClientStatus status = resolveSocketAddress(options.connection.socketPath, address);
    if (!status.ok()) {
        return status;
    }
    LoadGenerator load(options, address);
    status = load.prepare();
    if (!status.ok()) {
        return status;
    }
    if (options.prefill) {
        if (int64_t failures = load.prefill(); failures != 0) {
            err << "logoffcookie bench: " << failures << " of " << options.cookies
                << " prefill adds failed\n";
        }
    }
    tally = load.run(seconds, err, showProgress);
    return {};
}

}  // namespace logoffcookie::cli
