#include "tests/support/farmCookies.h"

#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <thread>

namespace lctest {

const std::string kFarmSecret = "farm secret of the tests, forty bytes long";

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

bool logOff(const FarmHost& host, const CookieFields& cookie) {
    return ask(host.socketPath(), addPayload(cookie)) == -1;
}

std::optional<int32_t> query(const FarmHost& host, const CookieFields& cookie) {
    return ask(host.socketPath(), queryPayload(cookie));
}

bool refusedWithin(const FarmHost& host, const CookieFields& cookie,
                   std::chrono::milliseconds limit) {
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
