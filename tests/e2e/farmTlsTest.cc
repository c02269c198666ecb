// A farm whose Redis serves TLS alone, with certificates made for the test:
// hosts share through it when they verify it, and a host that cannot says
// why, counts it, fails its health check, and keeps its logoffs until it is
// mended and restarted.
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "client/cli/shareHealth.h"
#include "tests/support/farmFixture.h"
#include "tests/support/fileText.h"
#include "tests/support/metricsReader.h"
#include "tests/support/sentinelSet.h"
#include "tests/support/testCertificates.h"

namespace lctest {
namespace {

constexpr auto kPatience = 30s;
const std::string kTlsRefusals = "voklogoffcookie_share_refusals_total{kind=\"tls\"}";

class FarmTls : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(certs_.make());
        // Clients must show a certificate of the farm's CA.
        redis_.serveTls(certs_.serverCert(), certs_.serverKey(), certs_.ca(), true);
        redis_.alsoListenOnTcp();
        ASSERT_TRUE(redis_.start());
        secretPath_ = writeSecretFile(redis_.directory(), kFarmSecret, 0600);
    }

    std::string tlsEndpoint() const {
        return "rediss://127.0.0.1:" + std::to_string(redis_.tlsPort());
    }
    // Sharing through `endpoint` with the farm's CA and client certificate.
    EnvChanges sharingOverTls(const std::string& endpoint) const {
        EnvChanges env = sharingWith(endpoint, secretPath_);
        env.emplace_back("VOKLOGOFFSHARETLSCA", certs_.ca());
        env.emplace_back("VOKLOGOFFSHARETLSCERT", certs_.clientCert());
        env.emplace_back("VOKLOGOFFSHARETLSKEY", certs_.clientKey());
        return env;
    }
    std::string metricsOf(std::ptrdiff_t host) const {
        return redis_.directory() + "/host" + std::to_string(host) + ".prom";
    }
    static void set(EnvChanges& env, const std::string& name, std::optional<std::string> value) {
        for (auto& [key, current] : env) {
            if (key == name) {
                current = std::move(value);
                return;
            }
        }
        env.emplace_back(name, std::move(value));
    }

    HostTestLock lock_;
    TestCertificates certs_;
    RedisServer redis_;
    std::string secretPath_;
    FarmHost a_{"host A"};
    FarmHost b_{"host B"};
};

TEST_F(FarmTls, TwoHostsShareOverVerifiedTls) {
    ASSERT_TRUE(a_.start(sharingOverTls(tlsEndpoint())));
    ASSERT_TRUE(b_.start(sharingOverTls(tlsEndpoint())));
    expectSharedBothWays(a_, "from-a-over-tls", b_, "from-b-over-tls", kPatience);
    EXPECT_NE(a_.readStderr().find("Sharing logoffs through rediss://127.0.0.1:"),
              std::string::npos)
        << a_.readStderr();
}

// Each fault of TLS is said with its advice and counted, and the health
// check fails on it; each host meets its own, all at once.
TEST_F(FarmTls, EachFaultIsSaidCountedAndFailsHealth) {
    struct Fault {
        const char* what;
        std::string endpoint;
        const char* variable;  // changed from the working set-up, or nullptr
        std::optional<std::string> value;
        const char* said;
    };
    const Fault faults[] = {
        {"unknown CA", tlsEndpoint(), "VOKLOGOFFSHARETLSCA", certs_.otherCa(),
         "not signed by a CA this host trusts"},
        {"wrong name", tlsEndpoint(), "VOKLOGOFFSHARETLSNAME", "elsewhere.example",
         "is not for elsewhere.example"},
        {"no client certificate", tlsEndpoint(), "VOKLOGOFFSHARETLSCERT", std::nullopt,
         "requires a client certificate"},
        {"server in clear behind rediss://", "rediss://127.0.0.1:" + std::to_string(redis_.port()),
         nullptr, std::nullopt, "does not answer in TLS"},
        {"server in TLS behind redis://", "redis://127.0.0.1:" + std::to_string(redis_.tlsPort()),
         nullptr, std::nullopt, "speaks TLS only"},
    };
    std::vector<std::unique_ptr<FarmHost>> hosts;
    for (const Fault& fault : faults) {
        bool clear = fault.endpoint.rfind("redis://", 0) == 0;
        EnvChanges env =
            clear ? sharingWith(fault.endpoint, secretPath_) : sharingOverTls(fault.endpoint);
        if (fault.variable != nullptr) {
            set(env, fault.variable, fault.value);
        }
        if (fault.variable != nullptr && std::string(fault.variable) == "VOKLOGOFFSHARETLSCERT") {
            set(env, "VOKLOGOFFSHARETLSKEY", std::nullopt);  // both or neither
        }
        env.emplace_back("VOKLOGOFFMETRICS", metricsOf(&fault - faults));
        hosts.push_back(std::make_unique<FarmHost>(fault.what));
        ASSERT_TRUE(hosts.back()->start(env));
    }
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.what);
        const FarmHost& host = *hosts[&fault - faults];
        EXPECT_TRUE(waitUntil(
            [&] { return host.readStderr().find(fault.said) != std::string::npos; }, kPatience))
            << host.readStderr();
        EXPECT_NE(host.readTrace().find(fault.said), std::string::npos);
        ParsedMetrics parsed;
        std::string metrics = metricsOf(&fault - faults);
        EXPECT_TRUE(waitForSample(metrics, kTlsRefusals, 1, kPatience, parsed));
        EXPECT_EQ(parsed.value("voklogoffcookie_share_publishing_refused{}"), 1.0);
        EXPECT_NE(logoffcookie::cli::shareHealthProblem(readFile(metrics)), "");
    }
}

// A logoff made while TLS is refused reaches the other host once the
// configuration is mended and the host restarted warm.
TEST_F(FarmTls, LogoffQueuedWhileRefusedArrivesOnceMended) {
    ASSERT_TRUE(b_.start(sharingOverTls(tlsEndpoint())));
    std::string state = redis_.directory() + "/a.state";
    EnvChanges unknownCa = sharingOverTls(tlsEndpoint());
    set(unknownCa, "VOKLOGOFFSHARETLSCA", certs_.otherCa());
    unknownCa.emplace_back("VOKLOGOFFSTATE", state);
    ASSERT_TRUE(a_.start(unknownCa));
    CookieFields queued = freshCookie("logged-off-while-tls-was-refused");
    logOff(a_, queued);
    ASSERT_TRUE(a_.waitForTrace("not signed by a CA this host trusts", kPatience));
    // Generous: a sanitizer's worker stops slowly.
    ASSERT_TRUE(a_.stopWorker(90s)) << a_.readStderr();
    EXPECT_EQ(query(b_, queued), 0);

    EnvChanges mended = sharingOverTls(tlsEndpoint());
    mended.emplace_back("VOKLOGOFFSTATE", state);
    ASSERT_TRUE(a_.start(mended));
    EXPECT_TRUE(refusedWithin(b_, queued, kPatience));
}

// Entries no host can afford to read, written by someone who can write to
// Redis: over TLS they are stepped over within the same bounds as in clear,
// and the next genuine logoff still arrives.
TEST_F(FarmTls, HostileEntriesAreSteppedOverAsInClear) {
    std::string metrics = redis_.directory() + "/b.prom";
    EnvChanges env = sharingOverTls(tlsEndpoint());
    ASSERT_TRUE(a_.start(env));
    env.emplace_back("VOKLOGOFFMETRICS", metrics);
    ASSERT_TRUE(b_.start(env));
    CookieFields before = freshCookie("genuine-before-hostile-entries");
    logOff(a_, before);
    ASSERT_TRUE(refusedWithin(b_, before, kPatience));

    // More fields than any entry of ours has, and a field larger than a
    // reply may wait unparsed.
    std::vector<std::string> wide = {"XADD", "tests:logoffs", "*"};
    for (int i = 0; i < 5000; ++i) {
        wide.push_back("f" + std::to_string(i));
        wide.push_back("v");
    }
    ASSERT_TRUE(redis_.command(wide));
    ASSERT_TRUE(redis_.command({"XADD", "tests:logoffs", "*", "f", std::string(4 << 20, 'x')}));
    ParsedMetrics parsed;
    EXPECT_TRUE(waitForSample(metrics, "voklogoffcookie_share_dropped_total{reason=\"malformed\"}",
                              2, kPatience, parsed));

    CookieFields after = freshCookie("genuine-after-hostile-entries");
    logOff(a_, after);
    EXPECT_TRUE(refusedWithin(b_, after, kPatience));
}

// A primary, a replica and three sentinels, all serving TLS, and two hosts
// sharing through sentinels://: the primary is killed while logoffs are
// made, and every one reaches the other host through the new primary.
class FarmTlsFailover : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(certs_.make());
        ASSERT_TRUE(set_.start());
        secretPath_ = writeSecretFile(set_.directory(), kFarmSecret, 0600);
    }
    SentinelSetOptions options() const {
        SentinelSetOptions tls;
        tls.tlsCert = certs_.serverCert();
        tls.tlsKey = certs_.serverKey();
        tls.tlsCa = certs_.ca();
        return tls;
    }
    EnvChanges sharing() const {
        EnvChanges env = sharingWith(set_.endpoint(), secretPath_);
        env.emplace_back("VOKLOGOFFSHARETLSCA", certs_.ca());
        return env;
    }

    HostTestLock lock_;
    TestCertificates certs_;
    SentinelSet set_{options()};
    std::string secretPath_;
    FarmHost a_{"host A"};
    FarmHost b_{"host B"};
};

TEST_F(FarmTlsFailover, PrimaryKilledLosesNoLogoffAndBothDirectionsWorkAfter) {
    ASSERT_EQ(set_.endpoint().rfind("sentinels://", 0), 0u);
    ASSERT_TRUE(a_.start(sharing()));
    ASSERT_TRUE(b_.start(sharing()));
    expectSharedBothWays(a_, "from-a-before-failover", b_, "from-b-before-failover", kPatience);

    std::vector<CookieFields> cookies;
    for (int i = 0; i < 40; ++i) {
        cookies.push_back(freshCookie("over-tls-failover-" + std::to_string(i)));
        if (i == 10) {
            set_.killNode(0);
        }
        logOff(a_, cookies.back());
        std::this_thread::sleep_for(50ms);  // spreads the logoffs over the failover
    }
    ASSERT_TRUE(set_.waitForPrimary(1, 60s));
    for (const CookieFields& cookie : cookies) {
        EXPECT_TRUE(refusedWithin(b_, cookie, kPatience)) << cookie.text;
    }
    expectSharedBothWays(a_, "from-a-after-failover", b_, "from-b-after-failover", kPatience);
    EXPECT_NE(a_.readTrace().find("(primary 127.0.0.1:"), std::string::npos);
}

}  // namespace
}  // namespace lctest
