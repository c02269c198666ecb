// The process-wide seed can be set only once per process, so this binary
// holds a single test that walks through its whole life.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "crypto/logoffCookiePipe_crypt.h"
#include "tests/crypto/expectedKey.h"
#include "tests/crypto/fakeHostFacts.h"
#include "tests/crypto/hex.h"
#include "tests/support/traceCapture.h"

namespace {

using Messages = std::vector<std::string>;

std::string hashedKey() {
    uint8_t key[PIPE_KEY_SIZE] = {};
    EXPECT_EQ(getHashedKey(key), 0);
    return lctest::toHex(key, sizeof key);
}

TEST(HashKeySeed, IsAbsentThenSetOnceFromTheFactsReadAtThatTime) {
    lctest::FakeHostFacts facts("m", "v", "12345", "h");
    lctest::InjectedHostFacts injected(&facts);

    {
        lctest::TraceCapture trace;
        uint8_t key[PIPE_KEY_SIZE];
        EXPECT_EQ(getHashedKey(key), 1);
        char* out = reinterpret_cast<char*>(&facts);
        int outLen = -7;
        EXPECT_EQ(encryptPipeData("ping", 4, &out, &outLen, ENCRYPTION_KAE5), 1);
        EXPECT_EQ(out, reinterpret_cast<char*>(&facts));
        EXPECT_EQ(outLen, -7);
        char text[4096] = "AAAA";
        int len = 4;
        EXPECT_EQ(decryptPipeData(text, &len, sizeof text, ENCRYPTION_KAE5), 1);
        EXPECT_EQ(std::string(text), "AAAA");
        Messages messages = trace.messages();
        EXPECT_EQ(messages.at(0), "logoffCookie -- getHashedKey: Failed to get cached hashed key");
    }
    {
        lctest::TraceCapture trace;
        setHashKeySeed();
        EXPECT_EQ(trace.messages(),
                  (Messages{"logoffCookie -- setHashKeySeed Entry",
                            "logoffCookie -- setHashKeySeed: Got 1 bytes from get_machine()",
                            "logoffCookie -- setHashKeySeed: Got 1 bytes from get_version()",
                            "logoffCookie -- setHashKeySeed: Got 5 bytes from get_platform()",
                            "logoffCookie -- setHashKeySeed: Got 1 bytes from get_hostname()",
                            "logoffCookie -- setHashKeySeed: Got total Hash key seed bytes: 8",
                            "logoffCookie -- setHashKeySeed EXIT"}));
    }
    const std::string key = hashedKey();
    EXPECT_EQ(key, lctest::expectedPipeKey("mv12345h"));
    EXPECT_EQ(hashedKey(), key);

    uint8_t clientKey[PIPE_KEY_SIZE];
    getHostPipeKey(clientKey);
    EXPECT_EQ(lctest::toHex(clientKey, sizeof clientKey), key);

    // The service keeps the key of its start; clients follow the host.
    facts.nodename = "renamed";
    facts.unameCalls = 0;
    {
        lctest::TraceCapture trace;
        setHashKeySeed();
        EXPECT_EQ(trace.messages(), (Messages{"logoffCookie -- setHashKeySeed Entry",
                                              "logoffCookie -- setHashKeySeed EXIT"}));
    }
    EXPECT_EQ(facts.unameCalls, 0);
    EXPECT_EQ(hashedKey(), key);
    getHostPipeKey(clientKey);
    EXPECT_NE(lctest::toHex(clientKey, sizeof clientKey), key);
}

}  // namespace
