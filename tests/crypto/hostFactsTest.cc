#include <gtest/gtest.h>

#include <sys/sysinfo.h>
#include <sys/utsname.h>

#include <string>
#include <vector>

#include "crypto/hostFacts.h"
#include "crypto/hostKeySeed.h"
#include "crypto/logoffCookiePipe_crypt.h"
#include "tests/crypto/expectedKey.h"
#include "tests/crypto/fakeHostFacts.h"
#include "tests/crypto/hex.h"
#include "tests/support/traceCapture.h"

namespace {

using lctest::FakeHostFacts;
using lctest::InjectedHostFacts;
using lctest::TraceCapture;

std::string readFact(int (*reader)(char*, int*), int* result, int size = 512) {
    std::vector<char> out(512, 'x');
    int length = size;
    *result = reader(out.data(), &length);
    EXPECT_EQ(out[static_cast<size_t>(length)], '\0');
    return std::string(out.data(), static_cast<size_t>(length));
}

std::string seedOf(FakeHostFacts* facts, std::vector<std::string>* traced = nullptr) {
    InjectedHostFacts injected(facts);
    TraceCapture trace;
    uint8_t seed[kHashKeySeedSize];
    int total = fillHashKeySeed(seed, true);
    EXPECT_EQ(total, 32 - std::count(seed, seed + 32, 0));
    if (traced != nullptr) {
        *traced = trace.messages();
    }
    return std::string(reinterpret_cast<char*>(seed), kHashKeySeedSize);
}

TEST(HostFacts, ReadersReportTheSystemsFacts) {
    struct utsname names;
    ASSERT_EQ(uname(&names), 0);
    int result = 0;
    EXPECT_EQ(readFact(get_machine, &result), names.machine);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(readFact(get_version, &result), names.version);
    EXPECT_EQ(readFact(get_hostname, &result), names.nodename);
    std::string swap = readFact(get_platform, &result);
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(swap.empty());
    EXPECT_EQ(swap.find_first_not_of("-0123456789"), std::string::npos);
}

TEST(HostFacts, FailingCallsGiveTheFallbackTexts) {
    FakeHostFacts facts;
    facts.unameFails = facts.sysinfoFails = true;
    InjectedHostFacts injected(&facts);
    int result = 1;
    EXPECT_EQ(readFact(get_machine, &result), "UNKNOWN");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readFact(get_version, &result), "CANNOT_COMPUTE");
    EXPECT_EQ(readFact(get_platform, &result), "CANNOTTELL");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readFact(get_hostname, &result), "DONT_KNOW");
}

TEST(HostFacts, TextIsCutToTheCallersBuffer) {
    FakeHostFacts facts("x86_64-long-name");
    InjectedHostFacts injected(&facts);
    int result = 0;
    EXPECT_EQ(readFact(get_machine, &result, 4), "x86");
}

TEST(HashKeySeed, LongMachineNameFillsTheSeedAlone) {
    FakeHostFacts facts(std::string(40, 'M'), "v", "1");
    std::vector<std::string> traced;
    EXPECT_EQ(seedOf(&facts, &traced), std::string(32, 'M'));
    EXPECT_EQ(facts.unameCalls, 1);
    EXPECT_EQ(facts.sysinfoCalls, 0);
    EXPECT_EQ(traced, std::vector<std::string>{
                          "logoffCookie -- setHashKeySeed: Got 32 bytes from get_machine()"});
}

TEST(HashKeySeed, ShortMachineNameIsCompletedByTheVersion) {
    std::string version = "#1 SMP PREEMPT_DYNAMIC Tue Jan 1 00:00:00 UTC 2030";
    FakeHostFacts facts("i686", version, "1");
    std::vector<std::string> traced;
    EXPECT_EQ(seedOf(&facts, &traced), "i686" + version.substr(0, 28));
    EXPECT_EQ(facts.unameCalls, 2);
    EXPECT_EQ(facts.sysinfoCalls, 0);
    EXPECT_EQ(traced, (std::vector<std::string>{
                          "logoffCookie -- setHashKeySeed: Got 4 bytes from get_machine()",
                          "logoffCookie -- setHashKeySeed: Got 28 bytes from get_version()"}));
}

TEST(HashKeySeed, ShortFactsAreJoinedAndTheRestStaysZero) {
    FakeHostFacts facts("m", "v", "12345", "h");
    std::vector<std::string> traced;
    EXPECT_EQ(seedOf(&facts, &traced), std::string("mv12345h") + std::string(24, '\0'));
    EXPECT_EQ(traced, (std::vector<std::string>{
                          "logoffCookie -- setHashKeySeed: Got 1 bytes from get_machine()",
                          "logoffCookie -- setHashKeySeed: Got 1 bytes from get_version()",
                          "logoffCookie -- setHashKeySeed: Got 5 bytes from get_platform()",
                          "logoffCookie -- setHashKeySeed: Got 1 bytes from get_hostname()"}));
}

TEST(HashKeySeed, FallbackTextsEnterTheSeedLikeFacts) {
    FakeHostFacts facts;
    facts.unameFails = facts.sysinfoFails = true;
    EXPECT_EQ(seedOf(&facts), "UNKNOWNCANNOT_COMPUTECANNOTTELLD");
}

TEST(HostPipeKey, IsDerivedFromTheLiveFactsAndTheSalt) {
    FakeHostFacts facts("m", "v", "12345", "h");
    InjectedHostFacts injected(&facts);
    uint8_t key[PIPE_KEY_SIZE];
    ASSERT_EQ(getHostPipeKey(key), 0);
    EXPECT_EQ(lctest::toHex(key, sizeof key), lctest::expectedPipeKey("mv12345h"));

    facts.swap = "0";  // swap removed: the next message is keyed differently
    ASSERT_EQ(getHostPipeKey(key), 0);
    EXPECT_EQ(lctest::toHex(key, sizeof key), lctest::expectedPipeKey("mv0h"));
}

TEST(HostPipeKey, MatchesTheDocumentedExample) {
    FakeHostFacts facts("i686", "#1 SMP Debian 3.16.56-1+deb8u1 (2018-05-08)");
    InjectedHostFacts injected(&facts);
    uint8_t key[PIPE_KEY_SIZE];
    getHostPipeKey(key);
    EXPECT_EQ(lctest::toHex(key, sizeof key), "8f690efb83f463bba70ceb76947c8ba6");
}

TEST(HostPipeKey, MatchesTheSecondDocumentedExample) {
    // The swap size is sysinfo's figure in its own units (bytes here), not
    // the kB of /proc/meminfo.
    FakeHostFacts facts("i686", "#1 SMP PREEMPT", "1073737728", "web01");
    InjectedHostFacts injected(&facts);
    uint8_t key[PIPE_KEY_SIZE];
    getHostPipeKey(key);
    EXPECT_EQ(lctest::toHex(key, sizeof key), "145cf76c81c30ca6a227fe2e457acf45");
}

TEST(HostPipeKey, TracesNothing) {
    TraceCapture trace;
    uint8_t key[PIPE_KEY_SIZE];
    getHostPipeKey(key);
    EXPECT_TRUE(trace.messages().empty());
}

}  // namespace
