#include "tests/support/farmCookies.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <thread>

namespace lctest {

std::string writeSecretFile(const std::string& directory, const std::string& bytes, mode_t mode) {
    std::string path = directory + "/farm.key";
    std::ofstream(path) << bytes;
    chmod(path.c_str(), mode);
    return path;
}

CookieFields freshCookie(const std::string& text) {
    CookieFields cookie;
    cookie.text = text;
    cookie.bytes = text + "-bytes";
    cookie.creationTime = static_cast<int32_t>(time(nullptr)) + 1000;
    cookie.lastUseTime = cookie.creationTime;
    return cookie;
}

std::optional<int32_t> query(const FarmHost& host, const CookieFields& cookie) {
    return ask(host.socketPath(), queryPayload(cookie));
}

void logOff(const FarmHost& host, const CookieFields& cookie) {
    ASSERT_EQ(ask(host.socketPath(), addPayload(cookie)), -1) << host.name();
}

bool refusedWithin(const FarmHost& host, const CookieFields& cookie, std::chrono::seconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    do {
        if (query(host, cookie) == 1) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

}  // namespace lctest
