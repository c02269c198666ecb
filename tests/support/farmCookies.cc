#include "tests/support/farmCookies.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "tests/support/waitUntil.h"

namespace lctest {

std::string writeSecretFile(const std::string& directory, const std::string& bytes, mode_t mode) {
    std::string path = directory + "/farm.key";
    std::ofstream(path) << bytes;
    chmod(path.c_str(), mode);
    return path;
}

EnvChanges sharingWith(const std::string& endpoint, const std::string& secretPath,
                       const std::string& stream) {
    return {{"VOKLOGOFFSHARE", endpoint},
            {"VOKLOGOFFSHAREKEY", secretPath},
            {"VOKLOGOFFSHARESTREAM", stream}};
}

std::optional<int32_t> query(const FarmHost& host, const CookieFields& cookie) {
    return ask(host.socketPath(), queryPayload(cookie));
}

void logOff(const FarmHost& host, const CookieFields& cookie) {
    ASSERT_EQ(ask(host.socketPath(), addPayload(cookie)), -1) << host.name();
}

bool refusedWithin(const FarmHost& host, const CookieFields& cookie, std::chrono::seconds limit) {
    return waitUntil([&] { return query(host, cookie) == 1; }, limit, std::chrono::milliseconds(5));
}

bool sharedWithin(const FarmHost& from, const FarmHost& to, const std::string& text,
                  std::chrono::seconds limit) {
    CookieFields cookie = freshCookie(text);
    logOff(from, cookie);
    return refusedWithin(to, cookie, limit);
}

void expectSharedBothWays(const FarmHost& a, const std::string& fromA, const FarmHost& b,
                          const std::string& fromB, std::chrono::seconds limit) {
    EXPECT_TRUE(sharedWithin(a, b, fromA, limit)) << fromA;
    EXPECT_TRUE(sharedWithin(b, a, fromB, limit)) << fromB;
}

}  // namespace lctest
