// Writes the seed inputs of the fuzz targets.
//   fuzz_make_seeds <corpus root>   the committed corpora, one folder per target
//   fuzz_make_seeds --share <corpus root>   those of sharing and the state file
//                                   only: their keys are fixed, no envelope
//                                   changes
//   fuzz_make_seeds --host <dir>    envelopes under this host's pipe key, for
//                                   fuzz_decrypt_pipe_data; made where it runs,
//                                   since the key differs from host to host
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>

#include "crypto/kae5Cipher.h"
#include "crypto/logoffCookiePipe_crypt.h"
#include "service/clientRequest.h"
#include "tests/fuzz/fuzzKey.h"
#include "tests/fuzz/fuzzShare.h"

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
    block.resize(payload.size() + kKae5Overhead + 8 + fill, '\0');
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
    putInt(payload, attributes + kAttributesOffsetMaxLifetime, 60);  // minutes
    putInt(payload, attributes + kAttributesOffsetIdleTimeout, 30);  // minutes
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

// The logoff of the entry tests.
FarmLogoff sampleLogoff() {
    FarmLogoff logoff;
    std::iota(logoff.identity.begin(), logoff.identity.end(), std::uint8_t{0xa0});
    logoff.times = {1800000000, 1800000100, -3600, 30, 120, 2};
    return logoff;
}

// Input of fuzz_share_entry: one "name=value" line a field.
Bytes entryLines(const ShareEntryFields& fields) {
    Bytes lines;
    for (const auto& [name, value] : fields) {
        lines += name + "=" + value + "\n";
    }
    return lines;
}

struct StringSink : StateSink {
    Bytes bytes;
    bool write(const std::uint8_t* data, std::size_t length) override {
        bytes.append(reinterpret_cast<const char*>(data), length);
        return true;
    }
};

// A state file under the fuzz key with `cookies` cookies and one logoff in
// each farm section.
Bytes stateFile(std::uint32_t cookies) {
    StateHeader header;
    header.cacheStartTime = 1'700'000'000;
    header.stopTime = 1'700'000'500;
    header.position = {0x0123456789abcdefULL, 42};
    StringSink sink;
    StateEncoder encoder(fuzzStateKey(), sink, header);
    encoder.cookies(cookies);
    for (std::uint32_t i = 0; i < cookies; ++i) {
        LogoffCookieDigest digest;
        digest.fill(static_cast<std::uint8_t>(0xd0 + i));
        encoder.cookie(digest, {static_cast<std::int32_t>(100 + i), 101, -3600, 30, 480, 2});
    }
    FarmLogoff logoff = sampleLogoff();
    encoder.farmLogoffs(1);
    encoder.farmLogoff(logoff);
    encoder.queued(1);
    encoder.queuedLogoff(logoff);
    encoder.finish();
    return sink.bytes;
}

void writeShareAndState(const fs::path& root) {
    const FarmKey& key = fuzzFarmKey();
    fs::path entries = root / "fuzz_share_entry";
    ShareEntryFields fields = encodeShareEntry(key, sampleLogoff(), kFuzzSender);
    writeSeed(entries, "accepted", entryLines(fields));
    writeSeed(entries, "own-run", entryLines(encodeShareEntry(key, sampleLogoff(), kFuzzOwnRun)));
    ShareEntryFields reversed;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        reversed[i] = fields[fields.size() - 1 - i];
    }
    writeSeed(entries, "reversed", entryLines(reversed));
    ShareEntryFields otherVersion = fields;
    otherVersion[0].second = "2";
    writeSeed(entries, "other-version", entryLines(otherVersion));
    ShareEntryFields badMac = fields;
    badMac[9].second[0] = badMac[9].second[0] == '0' ? '1' : '0';
    writeSeed(entries, "bad-mac", entryLines(badMac));

    fs::path replies = root / "fuzz_redis_reply";
    writeSeed(replies, "status", "+OK\r\n");
    writeSeed(replies, "error", "-NOPERM this user has no permissions\r\n");
    writeSeed(replies, "strings", "$5\r\nhello\r\n$-1\r\n$0\r\n\r\n:42\r\n");
    writeSeed(replies, "nested", "*2\r\n*1\r\n:1\r\n*-1\r\n*0\r\n");
    Bytes read = "*1\r\n*2\r\n$17\r\nvoklogoff:logoffs\r\n*1\r\n*2\r\n$15\r\n1700000000000-0\r\n*" +
                 std::to_string(2 * fields.size()) + "\r\n";
    for (const auto& [name, value] : fields) {
        read += "$" + std::to_string(name.size()) + "\r\n" + name + "\r\n";
        read += "$" + std::to_string(value.size()) + "\r\n" + value + "\r\n";
    }
    writeSeed(replies, "stream-read", read);
    writeSeed(replies, "too-long", "$4097\r\n" + Bytes(64, 'x'));
    const Bytes info = "# Replication\r\nrole:master\r\nconnected_slaves:0\r\n";
    writeSeed(replies, "info", "$" + std::to_string(info.size()) + "\r\n" + info + "\r\n");

    fs::path endpoints = root / "fuzz_share_endpoint";
    const char* endpointSeeds[][2] = {
        {"redis-full", "redis://farm:p@ss:w0rd@redis.example:6380/3"},
        {"redis-v6", "redis://[::1]:6390"},
        {"redis-encoded", "redis://farm%2Dusr:p%40ss%2fwd%25@[::1]:6380/1"},
        {"rediss", "rediss://127.0.0.1:6390"},
        {"unix", "unix:/run/redis/redis.sock?db=2"},
        {"unix-slashes", "unix:///run/redis.sock"},
        {"sentinel", "sentinel://10.0.0.1:26380,[::1]:26381,s3/farm-primary?db=2"},
        {"sentinels", "sentinels://s1:26380/farm"},
        {"bad-escape", "redis://:hunter%zz7@host"},
    };
    for (const auto& [name, text] : endpointSeeds) {
        writeSeed(endpoints, name, text);
    }

    fs::path credentials = root / "fuzz_share_credentials";
    writeSeed(credentials, "user", "s3cr3t pass\n");
    writeSeed(credentials, "default-user", "default p a:s@s\r");
    writeSeed(credentials, "sentinel", "only-a-password\nsentinel watcher sp w\n");
    writeSeed(credentials, "sentinel-password", "pw\nsentinel spw");
    writeSeed(credentials, "three-lines", "hunter2\nsentinel hunter3\nextra");

    fs::path state = root / "fuzz_state_file";
    writeSeed(state, "signed", Bytes(1, '\0') + stateFile(2));
    writeSeed(state, "to-sign", Bytes(1, '\1') + stateFile(3));
    writeSeed(state, "no-cookies", Bytes(1, '\0') + stateFile(0));
    Bytes other = stateFile(1);
    other[11] = 2;  // format version 2
    writeSeed(state, "other-version", Bytes(1, '\1') + other);
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
    } else if (argc == 3 && std::strcmp(argv[1], "--share") == 0) {
        writeShareAndState(argv[2]);
    } else if (argc == 2) {
        writeCommitted(argv[1]);
        writeShareAndState(argv[1]);
    } else {
        std::fprintf(stderr, "usage: %s <corpus root> | --share <corpus root> | --host <dir>\n",
                     argv[0]);
        return 2;
    }
    return 0;
}
