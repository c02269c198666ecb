#include "share/shareConfig.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "cache/farmKey.h"
#include "crypto/secureMemory.h"

namespace {

// A secret file larger than this is not a secret file.
constexpr std::size_t kLargestSecret = 4096;

bool parseNumber(const std::string& text, int lowest, int highest, int& out) {
    int value = 0;
    auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failure != std::errc() || end != text.data() + text.size() || value < lowest ||
        value > highest) {
        return false;
    }
    out = value;
    return true;
}

bool parseUnixEndpoint(const std::string& rest, ShareEndpoint& out, std::string& error) {
    std::string path = rest;
    std::size_t query = rest.find('?');
    if (query != std::string::npos) {
        path = rest.substr(0, query);
        std::string option = rest.substr(query + 1);
        if (option.rfind("db=", 0) != 0 || !parseNumber(option.substr(3), 0, 1 << 20, out.db)) {
            error = "unix endpoint takes only ?db=N";
            return false;
        }
    }
    if (path.empty() || path[0] != '/') {
        error = "unix endpoint needs an absolute socket path";
        return false;
    }
    out.unixSocket = true;
    out.path = path;
    return true;
}

bool parseRedisEndpoint(const std::string& rest, ShareEndpoint& out, std::string& error) {
    std::string authority = rest;
    std::size_t slash = rest.find('/');
    if (slash != std::string::npos) {
        authority = rest.substr(0, slash);
        if (!parseNumber(rest.substr(slash + 1), 0, 1 << 20, out.db)) {
            error = "database must be a number";
            return false;
        }
    }
    // The password may itself hold '@' or ':': the last '@' ends it.
    std::size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        std::string credentials = authority.substr(0, at);
        authority = authority.substr(at + 1);
        std::size_t colon = credentials.find(':');
        if (colon == std::string::npos) {
            out.user = credentials;
        } else {
            out.user = credentials.substr(0, colon);
            out.password = credentials.substr(colon + 1);
            out.hasPassword = true;
        }
    }
    // An IPv6 address stands in brackets, so its colons are not the port's.
    std::string host = authority;
    std::string port;
    if (!authority.empty() && authority[0] == '[') {
        std::size_t close = authority.find(']');
        if (close == std::string::npos ||
            (close + 1 < authority.size() && authority[close + 1] != ':')) {
            error = "unclosed bracket around the host";
            return false;
        }
        host = authority.substr(1, close - 1);
        if (close + 1 < authority.size()) {
            port = authority.substr(close + 2);
        }
    } else if (std::size_t colon = authority.rfind(':'); colon != std::string::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (!port.empty() || (!authority.empty() && authority.back() == ':')) {
        if (!parseNumber(port, 1, 65535, out.port)) {
            error = "port must be a number from 1 to 65535";
            return false;
        }
    }
    if (host.empty()) {
        error = "no host";
        return false;
    }
    out.host = host;
    return true;
}

}  // namespace

std::string ShareEndpoint::describe() const {
    if (unixSocket) {
        return "unix:" + path + (db != 0 ? "?db=" + std::to_string(db) : "");
    }
    return "redis://" + (user.empty() ? "" : user + "@") + host + ":" + std::to_string(port) + "/" +
           std::to_string(db);
}

ShareConfig::~ShareConfig() {
    if (!secret.empty()) {
        secureZero(secret.data(), secret.size());
    }
    if (!endpoint.password.empty()) {
        secureZero(endpoint.password.data(), endpoint.password.size());
    }
}

bool parseShareEndpoint(const std::string& text, ShareEndpoint& out, std::string& error) {
    out = ShareEndpoint{};
    if (text.rfind("unix:", 0) == 0) {
        return parseUnixEndpoint(text.substr(5), out, error);
    }
    if (text.rfind("redis://", 0) == 0) {
        return parseRedisEndpoint(text.substr(8), out, error);
    }
    error = "endpoint must begin with redis:// or unix:";
    return false;
}

bool readFarmSecret(const std::string& path, std::vector<std::uint8_t>& out, std::string& error) {
    // Without blocking: opening a FIFO for reading would wait for a writer.
    // The type is checked before anything is read.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        error = "open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    bool ok = false;
    std::vector<std::uint8_t> bytes;
    if (fstat(fd, &info) != 0) {
        error = "fstat " + path + ": " + std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        error = path + " is not a regular file";
    } else if (info.st_uid != geteuid()) {
        error = path + " is not owned by the service's user";
    } else if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        error = path + " is open to group or others (chmod 600)";
    } else if (info.st_size < static_cast<off_t>(FARM_SECRET_MIN_SIZE) ||
               info.st_size > static_cast<off_t>(kLargestSecret)) {
        error = path + " must hold from " + std::to_string(FARM_SECRET_MIN_SIZE) + " to " +
                std::to_string(kLargestSecret) + " bytes";
    } else {
        bytes.resize(static_cast<std::size_t>(info.st_size));
        ssize_t got = read(fd, bytes.data(), bytes.size());
        if (got != static_cast<ssize_t>(bytes.size())) {
            error = "read " + path + ": " + (got < 0 ? std::strerror(errno) : "short read");
        } else {
            ok = true;
        }
    }
    close(fd);
    if (ok) {
        out.swap(bytes);
    }
    if (!bytes.empty()) {
        secureZero(bytes.data(), bytes.size());
    }
    return ok;
}

ShareConfigResult readShareConfig(ShareConfig& out, std::string& error) {
    const char* endpoint = std::getenv("VOKLOGOFFSHARE");
    if (endpoint == nullptr) {
        return ShareConfigResult::Off;
    }
    std::string reason;
    if (!parseShareEndpoint(endpoint, out.endpoint, reason)) {
        error = "VOKLOGOFFSHARE: " + reason;
        return ShareConfigResult::Refused;
    }
    const char* keyPath = std::getenv("VOKLOGOFFSHAREKEY");
    if (keyPath == nullptr || *keyPath == '\0') {
        error = "VOKLOGOFFSHAREKEY: not set; sharing needs the farm secret";
        return ShareConfigResult::Refused;
    }
    if (!readFarmSecret(keyPath, out.secret, reason)) {
        error = "VOKLOGOFFSHAREKEY: " + reason;
        return ShareConfigResult::Refused;
    }
    const char* stream = std::getenv("VOKLOGOFFSHARESTREAM");
    if (stream != nullptr) {
        if (*stream == '\0') {
            error = "VOKLOGOFFSHARESTREAM: empty";
            return ShareConfigResult::Refused;
        }
        out.streamKey = stream;
    }
    return ShareConfigResult::On;
}
