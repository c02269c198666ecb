// Requests built byte by byte and exchanged over a raw connection, for tests
// that need malformed, truncated or foreign-keyed messages.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace lctest {

struct CookieFields {
    std::string text = "cookie-text";
    std::string bytes = "cookie-bytes";
    int32_t creationTime = 0;
    int32_t lastUseTime = 0;
    int32_t timeOffset = 0;
    uint32_t maxLifetimeMinutes = 60;
    uint32_t idleTimeoutMinutes = 30;
    int32_t kind = 0;
};

// A cookie created `ahead` from now: a cache that started before cannot know
// it, so only a logoff makes it refused.
CookieFields freshCookie(const std::string& text,
                         std::chrono::seconds ahead = std::chrono::seconds(1000));

// Full payloads: 980 bytes for a query, 988 for an add.
std::string queryPayload(const CookieFields& cookie);
std::string addPayload(const CookieFields& cookie);

// A payload holding only `code` padded with zeros to `length` bytes.
std::string codePayload(int32_t code, size_t length);

// Envelope text of `payload` under the host key, or under a fixed foreign key.
std::string encryptRequest(const std::string& payload);
std::string encryptRequestWithForeignKey(const std::string& payload);

// The 4-byte value of a reply text, or nullopt when it does not decrypt.
std::optional<int32_t> decryptReply(const std::string& text);

// Everything read from `fd` until the other end closes (or a read fails).
std::string readUntilClosed(int fd);

// Connects, writes `request` in one write, reads until the service closes.
// nullopt when the connection could not be made.
std::optional<std::string> roundTrip(const std::string& socketPath, const std::string& request);

// roundTrip() of an encrypted payload, decrypted: nullopt when no reply came.
std::optional<int32_t> ask(const std::string& socketPath, const std::string& payload);

}  // namespace lctest
