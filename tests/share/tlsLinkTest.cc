// The link over TLS against a real redis-server serving it with certificates
// made for the test: a server that verifies is used; one that does not, a
// server that wants our certificate, and TLS on one side only are refused
// with what to mend; the time-out and the reply bounds hold as in clear.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <thread>
#include <vector>

#include "share/redisLink.h"
#include "share/sentinelDiscovery.h"
#include "share/tlsContext.h"
#include "tests/support/redisServer.h"
#include "tests/support/sentinelSet.h"
#include "tests/support/testCertificates.h"

namespace {

using namespace std::chrono_literals;
using lctest::RedisServer;
using lctest::TestCertificates;
using Outcome = RedisLink::Outcome;

class TlsLink : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // As in the service: a peer gone while OpenSSL writes is an error,
        // not a signal.
        signal(SIGPIPE, SIG_IGN);
        certificates_ = new TestCertificates;
        ASSERT_TRUE(certificates_->make());
    }
    static void TearDownTestSuite() {
        delete certificates_;
        certificates_ = nullptr;
    }

    const TestCertificates& certs() const { return *certificates_; }

    // A server with `cert` (signed for 127.0.0.1 unless the test says).
    void startServer(const std::string& cert, bool authClients = false) {
        redis_.serveTls(cert, certs().serverKey(), certs().ca(), authClients);
        ASSERT_TRUE(redis_.start());
    }
    TlsSettings trustingTestCa() const {
        TlsSettings settings;
        settings.caFile = certs().ca();
        return settings;
    }
    Outcome connect(const std::string& url, const TlsSettings& settings, std::string& error) {
        ShareEndpoint endpoint;
        if (!parseShareEndpoint(url, endpoint, error)) {
            ADD_FAILURE() << url << ": " << error;
            return Outcome::Unreachable;
        }
        if (endpoint.useTls) {
            endpoint.tls = TlsClientContext::make(settings, error);
            if (!endpoint.tls) {
                ADD_FAILURE() << error;
                return Outcome::Unreachable;
            }
        }
        return link_.connect(endpoint, 2s, error);
    }
    std::string tlsUrl(const std::string& host = "127.0.0.1") const {
        return "rediss://" + host + ":" + std::to_string(redis_.tlsPort());
    }

    static TestCertificates* certificates_;
    RedisServer redis_;
    RedisLink link_;
};

TestCertificates* TlsLink::certificates_ = nullptr;

TEST_F(TlsLink, ServerVerifiedByAddressOrNameCarriesCommandsAndPasswords) {
    startServer(certs().serverCert());
    ASSERT_TRUE(redis_.command({"CONFIG", "SET", "requirepass", "over-tls"}));
    std::string error;
    for (std::string host : {"127.0.0.1", "localhost"}) {
        ASSERT_EQ(
            connect("rediss://:over-tls@" + host + ":" + std::to_string(redis_.tlsPort()) + "/2",
                    trustingTestCa(), error),
            Outcome::Connected)
            << host << ": " << error;
        RedisReply set = link_.command({"SET", "k", host}, error);
        ASSERT_TRUE(set) << error;
        RedisReply got = link_.command({"GET", "k"}, error);
        ASSERT_TRUE(got) << error;
        EXPECT_EQ(std::string(got->str, got->len), host);
        EXPECT_TRUE(link_.tlsRefusal().empty());
    }
}

struct CertificateCase {
    const char* what;
    std::string (TestCertificates::*serverCert)() const;
    bool trustOtherCa;
    const char* name;      // VOKLOGOFFSHARETLSNAME, or nullptr
    const char* expected;  // in the refusal; nullptr: connected
};

TEST_F(TlsLink, ServerCertificatesAreCheckedForChainDateAndName) {
    const CertificateCase cases[] = {
        {"another CA", &TestCertificates::serverCert, true, nullptr,
         "not signed by a CA this host trusts"},
        {"expired", &TestCertificates::expiredServerCert, false, nullptr, "has expired"},
        {"for another name", &TestCertificates::wrongNameServerCert, false, nullptr,
         "is not for 127.0.0.1"},
        {"for the name set", &TestCertificates::wrongNameServerCert, false, "elsewhere.example",
         nullptr},
        {"not for the name set", &TestCertificates::serverCert, false, "elsewhere.example",
         "is not for elsewhere.example"},
    };
    for (const CertificateCase& test : cases) {
        SCOPED_TRACE(test.what);
        RedisServer server;
        server.serveTls((certs().*test.serverCert)(), certs().serverKey(), certs().ca(), false);
        ASSERT_TRUE(server.start());
        TlsSettings settings;
        settings.caFile = test.trustOtherCa ? certs().otherCa() : certs().ca();
        settings.name = test.name != nullptr ? test.name : "";
        std::string error;
        Outcome outcome =
            connect("rediss://127.0.0.1:" + std::to_string(server.tlsPort()), settings, error);
        if (test.expected == nullptr) {
            EXPECT_EQ(outcome, Outcome::Connected) << error;
            continue;
        }
        EXPECT_EQ(outcome, Outcome::TlsRefused) << error;
        EXPECT_NE(error.find(test.expected), std::string::npos) << error;
        EXPECT_EQ(link_.tlsRefusal(), error);
        EXPECT_FALSE(link_.connected());
    }
}

TEST_F(TlsLink, ClientCertificateIsSentWhenSetAndItsAbsenceSaid) {
    startServer(certs().serverCert(), true);
    std::string error;
    EXPECT_EQ(connect(tlsUrl(), trustingTestCa(), error), Outcome::TlsRefused);
    EXPECT_NE(error.find("requires a client certificate"), std::string::npos) << error;
    EXPECT_NE(error.find("VOKLOGOFFSHARETLSCERT"), std::string::npos) << error;

    TlsSettings withCertificate = trustingTestCa();
    withCertificate.certFile = certs().clientCert();
    withCertificate.keyFile = certs().clientKey();
    EXPECT_EQ(connect(tlsUrl(), withCertificate, error), Outcome::Connected) << error;
    EXPECT_TRUE(link_.command({"PING"}, error)) << error;
}

// Each thread connects with a copy of the context read at start: a copy
// trusts the same CAs and sends the same certificate and key, shares no
// OpenSSL context with the others, and handshakes alongside them.
TEST_F(TlsLink, CopiesOfTheContextCarryEverythingAndConnectAtOnce) {
    startServer(certs().serverCert(), true);
    TlsSettings settings = trustingTestCa();
    settings.certFile = certs().clientCert();
    settings.keyFile = certs().clientKey();
    std::string error;
    std::shared_ptr<const TlsClientContext> original = TlsClientContext::make(settings, error);
    ASSERT_TRUE(original) << error;
    ShareEndpoint endpoint;
    ASSERT_TRUE(parseShareEndpoint(tlsUrl(), endpoint, error)) << error;

    constexpr int kThreads = 3;
    std::shared_ptr<const TlsClientContext> copies[kThreads];
    for (auto& copy : copies) {
        copy = original->copy(error);
        ASSERT_TRUE(copy) << error;
        EXPECT_NE(copy->context(), original->context());
        EXPECT_NE(SSL_CTX_get_cert_store(copy->context()),
                  SSL_CTX_get_cert_store(original->context()));
        EXPECT_TRUE(copy->hasClientCertificate());
    }
    Outcome outcomes[kThreads];
    std::string errors[kThreads];
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            ShareEndpoint mine = endpoint;
            mine.tls = copies[i];
            RedisLink link;
            outcomes[i] = link.connect(mine, 5s, errors[i]);
            if (outcomes[i] == Outcome::Connected && !link.command({"PING"}, errors[i])) {
                outcomes[i] = Outcome::Unreachable;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(outcomes[i], Outcome::Connected) << errors[i];
    }
}

TEST_F(TlsLink, TlsOnOneSideOnlyIsToldApartFromAnOutage) {
    redis_.alsoListenOnTcp();
    startServer(certs().serverCert());
    std::string error;
    // A server in clear behind rediss://.
    EXPECT_EQ(
        connect("rediss://127.0.0.1:" + std::to_string(redis_.port()), trustingTestCa(), error),
        Outcome::TlsRefused);
    EXPECT_NE(error.find("does not answer in TLS"), std::string::npos) << error;

    // A TLS server behind redis://: with a password, found by the connect's
    // AUTH; without, by the first command.
    std::string plainToTls = "redis://127.0.0.1:" + std::to_string(redis_.tlsPort());
    EXPECT_EQ(connect("redis://:pw@127.0.0.1:" + std::to_string(redis_.tlsPort()), {}, error),
              Outcome::TlsRefused);
    EXPECT_NE(error.find("speaks TLS only"), std::string::npos) << error;
    ASSERT_EQ(connect(plainToTls, {}, error), Outcome::Connected) << error;
    EXPECT_FALSE(link_.command({"PING"}, error));
    EXPECT_NE(link_.tlsRefusal().find("speaks TLS only"), std::string::npos) << error;

    // A connection closed by the server, or a server that went away, is no
    // TLS refusal.
    ASSERT_EQ(connect(tlsUrl(), trustingTestCa(), error), Outcome::Connected) << error;
    redis_.stop();
    EXPECT_FALSE(link_.command({"PING"}, error));
    EXPECT_TRUE(link_.tlsRefusal().empty()) << link_.tlsRefusal();
    EXPECT_EQ(connect(tlsUrl(), trustingTestCa(), error), Outcome::Unreachable);
    EXPECT_TRUE(link_.tlsRefusal().empty()) << link_.tlsRefusal();
}

TEST_F(TlsLink, SilentPeerIsBoundedByTheTimeOut) {
    // Listening, so the connection is made, but never answering the
    // handshake.
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);

    ShareEndpoint endpoint;
    std::string error;
    ASSERT_TRUE(parseShareEndpoint("rediss://127.0.0.1:" + std::to_string(ntohs(address.sin_port)),
                                   endpoint, error));
    endpoint.tls = TlsClientContext::make(trustingTestCa(), error);
    EXPECT_EQ(link_.connect(endpoint, 200ms, error), Outcome::Unreachable);
    EXPECT_NE(error.find("timed out"), std::string::npos) << error;
    close(listener);
}

TEST_F(TlsLink, ReplyBoundsHoldOverTls) {
    startServer(certs().serverCert());
    ASSERT_TRUE(redis_.command({"SET", "long", std::string(kRedisLongestString + 1, 'x')}));
    ASSERT_TRUE(redis_.command({"SET", "huge", std::string(2 * kRedisReplyBufferLimit, 'x')}));
    std::string error;
    for (const char* key : {"long", "huge"}) {
        ASSERT_EQ(connect(tlsUrl(), trustingTestCa(), error), Outcome::Connected) << error;
        EXPECT_FALSE(link_.command({"GET", key}, error)) << key;
        EXPECT_TRUE(link_.replyRefused()) << key << ": " << error;
        EXPECT_FALSE(link_.connected());
    }
}

// sentinels://: the sentinels are asked over TLS, and the node they name is
// reached over TLS and verified by the address they gave; a refusal of TLS
// there is a refusal of the whole, not an outage.
TEST_F(TlsLink, SentinelsAndTheNodeTheyNameAreReachedOverTls) {
    lctest::SentinelSetOptions options;
    options.tlsCert = certs().serverCert();
    options.tlsKey = certs().serverKey();
    options.tlsCa = certs().ca();
    lctest::SentinelSet set(options);
    ASSERT_TRUE(set.start());
    ShareEndpoint config;
    std::string error;
    ASSERT_TRUE(parseShareEndpoint(set.endpoint(), config, error)) << error;
    ASSERT_TRUE(config.useTls);
    config.tls = TlsClientContext::make(trustingTestCa(), error);
    ShareEndpoint primary;
    bool failingOver = false;
    ASSERT_EQ(connectThroughSentinels(link_, config, 2s, primary, error, failingOver),
              Outcome::Connected)
        << error;
    EXPECT_TRUE(primary.useTls);
    EXPECT_EQ(primary.host, "127.0.0.1");
    EXPECT_TRUE(link_.command({"SET", "k", "v"}, error)) << error;

    TlsSettings otherName = trustingTestCa();
    otherName.name = "elsewhere.example";
    config.tls = TlsClientContext::make(otherName, error);
    EXPECT_EQ(connectThroughSentinels(link_, config, 2s, primary, error, failingOver),
              Outcome::TlsRefused);
    EXPECT_NE(error.find("is not for elsewhere.example"), std::string::npos) << error;
}

}  // namespace
