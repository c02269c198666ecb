// The client library and the logoffcookie command against the real service.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "client/logoffCookieClient.hpp"
#include "tests/support/commandRun.h"
#include "tests/support/serviceProcess.h"

namespace lctest {
namespace {

using logoffcookie::ClientOptions;
using logoffcookie::ClientStatus;
using logoffcookie::Cookie;

ClientOptions optionsFor(const ServiceProcess& service) {
    ClientOptions options;
    options.socketPath = service.socketPath();
    options.socketWait = 0ms;
    return options;
}

// Created after the service started and never added: not logged off, under
// any cache.
Cookie freshCookie(std::string_view text) {
    Cookie cookie(text);
    cookie.creationTime = logoffcookie::currentTime() + 60;
    return cookie;
}

CommandRun runClient(const std::string& arguments) {
    return lctest::runCommand(std::string(LC_CLIENT_COMMAND) + " " + arguments);
}

TEST(ClientWithService, QueryOfAFreshCookieIsAnsweredNotCached) {
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    bool cached = true;
    ClientStatus status =
        logoffcookie::cookieIsCached(freshCookie("fresh"), cached, optionsFor(service));
    ASSERT_TRUE(status.ok()) << status.message();
    EXPECT_FALSE(cached);
    // The whole query layout arrived: 980 bytes and the envelope's zero.
    EXPECT_NE(service.readTrace().find("decryptPipeData SUCCESS -- num decrypted bytes: 981"),
              std::string::npos);
}

TEST(ClientWithService, AddIsAcknowledged) {
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    ClientStatus status = logoffcookie::addToCache(freshCookie("added"), optionsFor(service));
    ASSERT_TRUE(status.ok()) << status.message();
    EXPECT_NE(service.readTrace().find("decryptPipeData SUCCESS -- num decrypted bytes: 989"),
              std::string::npos);
}

TEST(ClientWithService, DefaultSocketIsFoundWhileTheServiceIsStillStarting) {
    ServiceProcess service;
    ASSERT_TRUE(service.launch().exitedWith(0));
    // No wait for the socket here: the client's own wait covers the start.
    setenv("WA_INSTALL_PATH", service.installPath().c_str(), 1);
    ClientOptions options;
    options.socketWait = 10s;
    bool cached = true;
    ClientStatus status = logoffcookie::cookieIsCached(freshCookie("early"), cached, options);
    unsetenv("WA_INSTALL_PATH");
    EXPECT_TRUE(status.ok()) << status.message();
    EXPECT_FALSE(cached);
}

TEST(ClientWithService, ManyClientsAtOnceAreEachAnswered) {
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    constexpr int kClients = 32;
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&, i] {
            std::string text = "client-" + std::to_string(i);
            bool cached = true;
            if (logoffcookie::addToCache(freshCookie(text), optionsFor(service)).ok() &&
                logoffcookie::cookieIsCached(freshCookie(text + "-query"), cached,
                                             optionsFor(service))
                    .ok() &&
                !cached) {
                ++answered;
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    EXPECT_EQ(answered.load(), kClients);
}

TEST(ClientWithService, StoppedServiceRefuses) {
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    ASSERT_TRUE(service.stop());
    bool cached = false;
    ClientStatus status =
        logoffcookie::cookieIsCached(freshCookie("late"), cached, optionsFor(service));
    // A stopped service leaves its socket file behind, with nobody listening;
    // a service that removed it would leave no socket at all.
    EXPECT_TRUE(status.error == LC_CLIENT_REFUSED || status.error == LC_CLIENT_NO_SOCKET)
        << status.message();
}

TEST(ClientWithService, CommandAnswersQueryAndAdd) {
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    std::string socket = " --socket " + service.socketPath();
    CommandRun query = runClient("query --text cli-cookie --created now+60" + socket);
    EXPECT_EQ(query.status, 0) << query.out;
    EXPECT_EQ(query.out, "not cached\n");
    CommandRun add = runClient("add --text cli-cookie --bytes second --kind 1" + socket);
    EXPECT_EQ(add.status, 0) << add.out;
    EXPECT_EQ(add.out, "added\n");
}

TEST(ClientWithService, CommandFailsClearlyWithoutService) {
    ServiceProcess service;  // an install directory with no service in it
    CommandRun run = runClient("query --text x --socket-wait 0 --socket " + service.socketPath());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("(LC_CLIENT_NO_SOCKET)"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace lctest
