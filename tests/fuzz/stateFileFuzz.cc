// The state file check on arbitrary files. Input: byte 0 says whether to
// sign the rest first (bit 0: the last 20 bytes become the right MAC), so
// that files past the MAC reach the layout checks; the rest is the file, in
// a heap block of exactly its size. A file that verifies must be read whole
// without leaving it, and must come out of the encoder byte for byte the
// same; a file that does not verify may only give its queued count.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/hmacSha1.h"
#include "state/stateFormat.h"
#include "tests/fuzz/fuzzShare.h"

namespace {

[[noreturn]] void fail() {
    std::abort();
}

struct VectorSink : StateSink {
    std::vector<std::uint8_t> bytes;
    bool write(const std::uint8_t* data, std::size_t length) override {
        bytes.insert(bytes.end(), data, data + length);
        return true;
    }
};

std::vector<std::uint8_t> encodeAgain(const StateKey& key, const StateView& view) {
    VectorSink sink;
    StateEncoder encoder(key, sink, view.header());
    LogoffCookieDigest digest;
    CookieTimes times;
    FarmLogoff logoff;
    encoder.cookies(view.cookieCount());
    for (std::uint32_t i = 0; i < view.cookieCount(); ++i) {
        view.cookie(i, digest, times);
        encoder.cookie(digest, times);
    }
    encoder.farmLogoffs(view.farmLogoffCount());
    for (std::uint32_t i = 0; i < view.farmLogoffCount(); ++i) {
        view.farmLogoff(i, logoff);
        encoder.farmLogoff(logoff);
    }
    encoder.queued(view.queuedCount());
    for (std::uint32_t i = 0; i < view.queuedCount(); ++i) {
        view.queuedLogoff(i, logoff);
        encoder.queuedLogoff(logoff);
    }
    if (!encoder.finish()) {
        fail();
    }
    return sink.bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const StateKey& key = fuzzStateKey();
    const bool sign = (data[0] & 1) != 0;
    std::vector<std::uint8_t> file(data + 1, data + size);
    if (sign && file.size() >= kStateMacSize) {
        const std::size_t covered = file.size() - kStateMacSize;
        hmacSha1Mac(key.hmac(), file.data(), covered, file.data() + covered);
    }
    // Exactly the file's size: a read past its end is reported.
    auto* bytes = static_cast<std::uint8_t*>(std::malloc(file.empty() ? 1 : file.size()));
    if (!file.empty()) {
        std::memcpy(bytes, file.data(), file.size());
    }

    StateView view;
    std::uint32_t version = 0;
    StateCheck check = checkStateFile(key, bytes, file.size(), view, version);
    std::uint32_t queued = 0;
    bool counted = unverifiedQueuedCount(bytes, file.size(), queued);
    if (check == StateCheck::Valid) {
        if (!counted || queued != view.queuedCount() || encodeAgain(key, view) != file) {
            fail();
        }
    } else if (check == StateCheck::OtherVersion && (version == kStateFormatVersion || counted)) {
        fail();
    }
    std::free(bytes);
    return 0;
}
