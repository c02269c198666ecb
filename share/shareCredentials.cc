#include "share/shareCredentials.h"

#include <cstdint>
#include <vector>

#include "crypto/secureMemory.h"
#include "share/privateFile.h"

namespace {

constexpr std::string_view kSentinelWord = "sentinel ";

void wipe(std::string& text) {
    if (!text.empty()) {
        secureZero(text.data(), text.size());
    }
    text.clear();
}

bool parseCredential(std::string_view line, const char* which, ShareCredential& out,
                     std::string& error) {
    std::size_t space = line.find(' ');
    std::string_view user = space == std::string_view::npos ? "" : line.substr(0, space);
    std::string_view password = space == std::string_view::npos ? line : line.substr(space + 1);
    if (space == 0) {
        error = std::string(which) + " begins with a space: USER PASSWORD needs the user";
        return false;
    }
    if (password.empty()) {
        error = std::string(which) + " has no password";
        return false;
    }
    out.user.assign(user);
    out.password.assign(password);
    return true;
}

}  // namespace

ShareCredentials::~ShareCredentials() {
    wipe(dataNodes.password);
    wipe(sentinels.password);
}

bool parseShareCredentials(std::string_view text, ShareCredentials& out, std::string& error) {
    if (!text.empty() && text.back() == '\n') {
        text.remove_suffix(1);
    }
    std::size_t newline = text.find('\n');
    std::string_view first = text.substr(0, newline);
    if (!parseCredential(first, "line 1", out.dataNodes, error)) {
        return false;
    }
    if (newline == std::string_view::npos) {
        return true;
    }
    std::string_view second = text.substr(newline + 1);
    if (second.find('\n') != std::string_view::npos) {
        error = "more than two lines";
        return false;
    }
    if (second.substr(0, kSentinelWord.size()) != kSentinelWord) {
        error = "line 2 must be \"sentinel PASSWORD\" or \"sentinel USER PASSWORD\"";
        return false;
    }
    out.forSentinels = true;
    return parseCredential(second.substr(kSentinelWord.size()), "line 2", out.sentinels, error);
}

bool readShareCredentials(const std::string& path, ShareCredentials& out, std::string& error) {
    std::vector<std::uint8_t> bytes;
    if (!readPrivateFile(path, 1, kShareCredentialsLargest, bytes, error)) {
        return false;
    }
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    bool ok = parseShareCredentials(text, out, error);
    if (!ok) {
        error = path + ": " + error;
    }
    secureZero(bytes.data(), bytes.size());
    return ok;
}
