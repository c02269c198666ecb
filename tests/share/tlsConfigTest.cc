// The TLS endpoints and variables as read at start: what is refused there
// is refused before any connection, with the variable at fault named.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "share/shareConfig.h"
#include "share/tlsContext.h"
#include "tests/support/commandRun.h"
#include "tests/support/parseOutcome.h"
#include "tests/support/testCertificates.h"

namespace {

using lctest::TestCertificates;

TEST(TlsEndpoint, RedissAndSentinelsAreTheirPlainFormsOverTls) {
    ShareEndpoint redis = lctest::expectParsed<ShareEndpoint>(
        parseShareEndpoint, "rediss://farm:pw@redis.example:6380/2");
    EXPECT_TRUE(redis.useTls);
    EXPECT_EQ(redis.host, "redis.example");
    EXPECT_EQ(redis.port, 6380);
    EXPECT_EQ(redis.db, 2);
    EXPECT_EQ(redis.password, "pw");
    // Described without the user, as in clear.
    EXPECT_EQ(redis.describe(), "rediss://redis.example:6380/2");

    ShareEndpoint sentinels = lctest::expectParsed<ShareEndpoint>(
        parseShareEndpoint, "sentinels://10.0.0.1:26379,10.0.0.2/farm?db=1");
    EXPECT_TRUE(sentinels.useTls);
    ASSERT_EQ(sentinels.sentinels.size(), 2u);
    EXPECT_EQ(sentinels.sentinels[1].port, kShareDefaultSentinelPort);
    EXPECT_EQ(sentinels.describe(), "sentinels://10.0.0.1:26379,10.0.0.2:26379/farm?db=1");

    EXPECT_FALSE(lctest::expectParsed<ShareEndpoint>(parseShareEndpoint, "redis://h").useTls);
    std::string error = lctest::expectRefused<ShareEndpoint>(parseShareEndpoint, "redisss://h:1");
    EXPECT_NE(error.find("rediss://"), std::string::npos) << error;
}

// The variables as the service reads them, with the test's certificates.
class TlsVariables : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        certificates_ = new TestCertificates;
        ASSERT_TRUE(certificates_->make());
    }
    static void TearDownTestSuite() {
        delete certificates_;
        certificates_ = nullptr;
    }
    void SetUp() override {
        secret_ = certs().directory() + "/farm.key";
        std::ofstream(secret_) << std::string(40, 's');
        chmod(secret_.c_str(), 0600);
        setenv("VOKLOGOFFSHAREKEY", secret_.c_str(), 1);
        setenv("VOKLOGOFFSHARE", "rediss://127.0.0.1:6390", 1);
    }
    void TearDown() override {
        for (const char* name :
             {"VOKLOGOFFSHARE", "VOKLOGOFFSHAREKEY", "VOKLOGOFFSHARETLSCA", "VOKLOGOFFSHARETLSCERT",
              "VOKLOGOFFSHARETLSKEY", "VOKLOGOFFSHARETLSNAME"}) {
            unsetenv(name);
        }
    }
    const TestCertificates& certs() const { return *certificates_; }
    // The refusal of the configuration, "" when it is taken.
    std::string refusal() {
        ShareConfig config;
        std::string error;
        ShareConfigResult result = readShareConfig(config, error);
        if (result == ShareConfigResult::On) {
            EXPECT_TRUE(config.endpoint.tls != nullptr);
            return "";
        }
        EXPECT_EQ(result, ShareConfigResult::Refused);
        return error;
    }

    static TestCertificates* certificates_;
    std::string secret_;
};

TestCertificates* TlsVariables::certificates_ = nullptr;

TEST_F(TlsVariables, CaCertificateAndKeyAreLoadedAtStart) {
    setenv("VOKLOGOFFSHARETLSCA", certs().ca().c_str(), 1);
    EXPECT_EQ(refusal(), "");
    setenv("VOKLOGOFFSHARETLSCERT", certs().clientCert().c_str(), 1);
    setenv("VOKLOGOFFSHARETLSKEY", certs().clientKey().c_str(), 1);
    setenv("VOKLOGOFFSHARETLSNAME", "redis.example", 1);
    EXPECT_EQ(refusal(), "");
    // Without VOKLOGOFFSHARETLSCA, the system's store.
    unsetenv("VOKLOGOFFSHARETLSCA");
    EXPECT_EQ(refusal(), "");
}

TEST_F(TlsVariables, FaultsAreRefusedNamingTheVariable) {
    setenv("VOKLOGOFFSHARETLSCA", certs().ca().c_str(), 1);
    setenv("VOKLOGOFFSHARETLSCERT", certs().clientCert().c_str(), 1);
    std::string error = refusal();
    EXPECT_NE(error.find("VOKLOGOFFSHARETLSCERT: set without VOKLOGOFFSHARETLSKEY"),
              std::string::npos)
        << error;

    // The key through the private-file reader: open to others, refused.
    std::string openKey = certs().directory() + "/open.key";
    ASSERT_EQ(lctest::runCommand("cp " + certs().clientKey() + " " + openKey).status, 0);
    chmod(openKey.c_str(), 0644);
    setenv("VOKLOGOFFSHARETLSKEY", openKey.c_str(), 1);
    error = refusal();
    EXPECT_NE(error.find("VOKLOGOFFSHARETLSKEY: " + openKey + " is open to group or others"),
              std::string::npos)
        << error;

    // Another certificate's key.
    setenv("VOKLOGOFFSHARETLSCERT", certs().serverCert().c_str(), 1);
    setenv("VOKLOGOFFSHARETLSKEY", certs().clientKey().c_str(), 1);
    error = refusal();
    EXPECT_NE(error.find("is not the key of the certificate"), std::string::npos) << error;

    // A key under a passphrase is refused, never asked for.
    std::string locked = certs().directory() + "/locked.key";
    ASSERT_EQ(lctest::runCommand("openssl pkey -in " + certs().clientKey() +
                                 " -aes256 -passout pass:secret -out " + locked + " && chmod 600 " +
                                 locked)
                  .status,
              0);
    setenv("VOKLOGOFFSHARETLSCERT", certs().clientCert().c_str(), 1);
    setenv("VOKLOGOFFSHARETLSKEY", locked.c_str(), 1);
    error = refusal();
    EXPECT_NE(error.find("without a passphrase"), std::string::npos) << error;

    unsetenv("VOKLOGOFFSHARETLSCERT");
    unsetenv("VOKLOGOFFSHARETLSKEY");
    setenv("VOKLOGOFFSHARETLSCA", secret_.c_str(), 1);
    error = refusal();
    EXPECT_NE(error.find("VOKLOGOFFSHARETLSCA: " + secret_ + " holds no CA certificate"),
              std::string::npos)
        << error;
}

TEST_F(TlsVariables, TlsVariablesWithAnEndpointInClearAreRefused) {
    setenv("VOKLOGOFFSHARE", "redis://127.0.0.1:6390", 1);
    setenv("VOKLOGOFFSHARETLSNAME", "redis.example", 1);
    std::string error = refusal();
    EXPECT_NE(error.find("VOKLOGOFFSHARETLSNAME: set, but VOKLOGOFFSHARE is not a rediss://"),
              std::string::npos)
        << error;
}

}  // namespace
