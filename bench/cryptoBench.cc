// The pipe encryption on the request path: SHA-1 throughput, and the two
// envelope calls every connection makes (decrypt a request, encrypt a reply).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/base64.h"
#include "crypto/logoffCookiePipe_crypt.h"
#include "crypto/rc5.h"
#include "crypto/sha1.h"

namespace {

constexpr int kRequestPayload = 980;  // gives a 1372-character request text
constexpr int kReplyPayload = 4;
constexpr int kCapacity = 4096;

void BM_Sha1(benchmark::State& state) {
    std::vector<uint8_t> data(static_cast<size_t>(state.range(0)), 0x5a);
    uint8_t digest[kSha1DigestSize];
    for (auto _ : state) {
        sha1Digest(data.data(), data.size(), digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Sha1)->Arg(1024)->Arg(64 * 1024);

std::string requestText() {
    setHashKeySeed();
    std::vector<char> payload(kRequestPayload, 'r');
    char* out = nullptr;
    int outLen = 0;
    if (encryptPipeData(payload.data(), kRequestPayload, &out, &outLen, ENCRYPTION_KAE5) != 0) {
        std::abort();
    }
    std::string text(out, static_cast<size_t>(outLen));
    std::free(out);
    return text;
}

// The connection's read buffer receives the text anew for every request.
void decryptRequest(const std::string& text, char* buffer) {
    std::memcpy(buffer, text.data(), text.size());
    int len = static_cast<int>(text.size());
    if (decryptPipeData(buffer, &len, kCapacity, ENCRYPTION_KAE5) != 0) {
        std::abort();
    }
}

void encryptReply() {
    int32_t reply = 1;
    char* out = nullptr;
    int outLen = 0;
    if (encryptPipeData(&reply, kReplyPayload, &out, &outLen, ENCRYPTION_KAE5) != 0) {
        std::abort();
    }
    benchmark::DoNotOptimize(out);
    std::free(out);
}

// The two larger steps of a request's decryption on their own: the base64
// text of a 980-byte request, and the chained RC5 over its packet body.
void BM_Base64DecodeRequest(benchmark::State& state) {
    const std::string text = requestText();
    std::vector<unsigned char> out(text.size());
    for (auto _ : state) {
        int outLen = static_cast<int>(out.size());
        if (base64Decode(text.data(), static_cast<int>(text.size()), out.data(), &outLen) != 0) {
            std::abort();
        }
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_Base64DecodeRequest);

void BM_Rc5ChainDecryptRequest(benchmark::State& state) {
    const uint8_t key[kRc5KeySize] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const uint8_t chain[kRc5BlockSize] = {};
    RC5_state rc5;
    RC5_setKey(&rc5, key);
    std::vector<uint8_t> body(1012, 0x5a);  // offsets 4 to E of a 980-byte request's packet
    for (auto _ : state) {
        RC5_setChainValue(&rc5, chain);
        RC5_chainDecrypt(&rc5, body.data(), body.size());
        benchmark::DoNotOptimize(body.data());
    }
}
BENCHMARK(BM_Rc5ChainDecryptRequest);

// Requests read into one connection buffer, each decrypted there and, with
// `withReply`, answered by an encrypted reply. Returns the text's length.
size_t runRequests(benchmark::State& state, bool withReply) {
    const std::string text = requestText();
    std::vector<char> buffer(kCapacity);
    for (auto _ : state) {
        decryptRequest(text, buffer.data());
        if (withReply) {
            encryptReply();
        }
        benchmark::ClobberMemory();
    }
    return text.size();
}

void BM_DecryptRequest(benchmark::State& state) {
    state.SetLabel(std::to_string(runRequests(state, false)) + " characters");
}
BENCHMARK(BM_DecryptRequest);

void BM_EncryptReply(benchmark::State& state) {
    setHashKeySeed();
    for (auto _ : state) {
        encryptReply();
    }
}
BENCHMARK(BM_EncryptReply);

void BM_RequestAndReply(benchmark::State& state) {
    runRequests(state, true);
}
BENCHMARK(BM_RequestAndReply);

}  // namespace

BENCHMARK_MAIN();
