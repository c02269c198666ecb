// Writes the seed inputs of the fuzz targets.
//   fuzz_make_seeds <corpus root>   the committed corpora, one folder per target
//   fuzz_make_seeds --host <dir>    envelopes under this host's pipe key, for
//                                   fuzz_decrypt_pipe_data; made where it runs,
//                                   since the key differs from host to host
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "crypto/kae5Cipher.h"
#include "crypto/logoffCookiePipe_crypt.h"
#include "service/clientRequest.h"
#include "tests/fuzz/fuzzKey.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::string;

void writeSeed(const fs::path& dir, const std::string& name, const Bytes& content) {
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary) << content;
}

Bytes envelope(PipeKeySource key, const Bytes& payload) {
    char* text = nullptr;
    int length = 0;
    if (encryptPipeDataWith(key, payload.data(), static_cast<int>(payload.size()), &text, &length,
                            ENCRYPTION_KAE5) != 0) {
        std::fprintf(stderr, "encryptPipeData failed\n");
        std::exit(1);
    }
    Bytes result(text, static_cast<size_t>(length));
    std::free(text);
    return result;
}

// A scheme-2 packet of `payload` under the fuzz key, then `fill` zeros.
Bytes packet(const Bytes& payload, size_t fill) {
    Bytes block = payload;
    block.resize(payload.size() + KAE5_OVERHEAD + 8 + fill, '\0');
    auto* bytes = reinterpret_cast<uint8_t*>(block.data());
    KAE5_buffer buffer = {bytes, static_cast<uint32_t>(block.size()), bytes,
                          static_cast<uint32_t>(payload.size())};
    if (KAE5_encrypt_packet(fuzzContext(), &buffer) != KAE5_OK) {
        std::fprintf(stderr, "KAE5_encrypt_packet failed\n");
        std::exit(1);
    }
    return block;
}

void putInt(Bytes& payload, size_t offset, int32_t value) {
    std::memcpy(payload.data() + offset, &value, sizeof value);
}

void putText(Bytes& payload, size_t offset, const char* text) {
    std::memcpy(payload.data() + offset, text, std::strlen(text));
}

// A request payload as a client lays it out; `creationTime` after the service
// started makes the cache decide.
Bytes request(int32_t code, int32_t creationTime) {
    bool add = code == FUNC_ADD_TO_CACHE;
    Bytes payload(add ? kMinAddCount - 1 : kMinQueryCount - 1, '\0');
    putInt(payload, kOffsetFunctionCode, code);
    putText(payload, kOffsetCookieText, "fuzz-cookie");
    putText(payload, kOffsetCookieBytes, "fuzz-bytes");
    size_t attributes = add ? kOffsetAddAttributes : kOffsetQueryAttributes;
    putInt(payload, attributes + 652, 60);  // maximum lifetime, minutes
    putInt(payload, attributes + 656, 30);  // idle timeout, minutes
    if (add) {
        putInt(payload, kOffsetFirstTime, creationTime);
        putInt(payload, kOffsetSecondTime, creationTime);
        putInt(payload, kOffsetAddCookieKind, 1);
    } else {
        putInt(payload, kOffsetFirstTime, creationTime);
    }
    return payload;
}

Bytes codeOnly(int32_t code, size_t length) {
    Bytes payload(length, '\0');
    std::memcpy(payload.data(), &code, length < 4 ? length : 4);
    return payload;
}

// Input of fuzz_checked_packet: flags, stated-length choice, fill count, body.
Bytes checkedInput(uint8_t flags, uint16_t stated, uint8_t fill, const Bytes& body) {
    Bytes input;
    input += static_cast<char>(flags);
    input += static_cast<char>(stated >> 8);
    input += static_cast<char>(stated & 0xff);
    input += static_cast<char>(fill);
    return input + body;
}

// Random value, payload and padding as a sender lays out offsets 8 to E - 1.
Bytes plainBody(const Bytes& payload, int padding) {
    Bytes body = "\x11\x22\x33\x44\x55\x66\x77\x88" + payload;
    body.append(static_cast<size_t>(padding < 1 ? 1 : padding), static_cast<char>(padding));
    return body;
}

void writeCommitted(const fs::path& root) {
    const int32_t future = 0x7fff0000;  // after every service start

    fs::path base64 = root / "fuzz_base64_decode";
    writeSeed(base64, "empty", Bytes(1, '\0'));
    writeSeed(base64, "two-pads", Bytes(1, '\0') + "QQ==");
    writeSeed(base64, "inner-pad", Bytes(1, '\0') + "QQ==QUJD");
    writeSeed(base64, "short-output", Bytes(1, '\1') + "QUJDRA==");
    writeSeed(base64, "line-break", Bytes(1, '\0') + "QUJD\nQQ=");
    writeSeed(base64, "reply", Bytes(1, '\0') + envelope(fuzzKeySource, codeOnly(1, 4)));

    fs::path text = root / "fuzz_decrypt_pipe_data";
    writeSeed(text, "reply-foreign-key", envelope(fuzzKeySource, codeOnly(1, 4)));
    writeSeed(text, "query-foreign-key", envelope(fuzzKeySource, request(1, future)));
    writeSeed(text, "empty-foreign-key", envelope(fuzzKeySource, ""));
    writeSeed(text, "not-base64", "this is not base64!\n");

    fs::path packets = root / "fuzz_packet_decrypt";
    writeSeed(packets, "empty", packet("", 15));
    writeSeed(packets, "seven", packet("1234567", 22));
    writeSeed(packets, "eight", packet("12345678", 15));
    writeSeed(packets, "query", packet(request(1, future), 19));
    Bytes tampered = packet("12345678", 15);
    tampered[20] ^= 1;
    writeSeed(packets, "tampered", tampered);

    fs::path checked = root / "fuzz_checked_packet";
    writeSeed(checked, "plain-empty", checkedInput(1, 0, 15, plainBody("", 8)));
    writeSeed(checked, "plain-seven", checkedInput(1, 0, 0, plainBody("1234567", 1)));
    writeSeed(checked, "plain-pad-zero", checkedInput(1, 0, 0, plainBody("1234567", 0)));
    writeSeed(checked, "plain-pad-nine", checkedInput(5, 0, 3, plainBody("1234567", 9)));
    writeSeed(checked, "plain-short", checkedInput(3, 10, 0, plainBody("", 8)));
    writeSeed(checked, "raw-long", checkedInput(2, 200, 8, Bytes(40, '\x5a')));

    fs::path dispatcher = root / "fuzz_dispatcher";
    writeSeed(dispatcher, "query", request(FUNC_COOKIE_IS_CACHED, future));
    writeSeed(dispatcher, "query-old", request(FUNC_COOKIE_IS_CACHED, 1));
    writeSeed(dispatcher, "add", request(FUNC_ADD_TO_CACHE, future));
    writeSeed(dispatcher, "query-short", request(FUNC_COOKIE_IS_CACHED, future).substr(0, 978));
    writeSeed(dispatcher, "code-only", codeOnly(1, 4));
    writeSeed(dispatcher, "unknown-code", codeOnly(3, 100));
    writeSeed(dispatcher, "three-bytes", codeOnly(1, 3));
}

void writeHost(const fs::path& dir) {
    setHashKeySeed();
    writeSeed(dir, "host-empty", envelope(getHashedKey, ""));
    writeSeed(dir, "host-reply", envelope(getHashedKey, codeOnly(1, 4)));
    writeSeed(dir, "host-query", envelope(getHashedKey, request(FUNC_COOKIE_IS_CACHED, 1)));
    writeSeed(dir, "host-add", envelope(getHashedKey, request(FUNC_ADD_TO_CACHE, 1)));
    writeSeed(dir, "host-long", envelope(getHashedKey, Bytes(3000, 'x')));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--host") == 0) {
        writeHost(argv[2]);
    } else if (argc == 2) {
        writeCommitted(argv[1]);
    } else {
        std::fprintf(stderr, "usage: %s <corpus root> | --host <dir>\n", argv[0]);
        return 2;
    }
    return 0;
}
