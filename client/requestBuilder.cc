#include "client/requestBuilder.h"

#include <cstring>
#include <string_view>

namespace logoffcookie {

namespace {

bool textFits(std::string_view text, size_t fieldSize) {
    return text.size() <= fieldSize && text.find('\0') == std::string_view::npos;
}

void putInt32(uint8_t* payload, size_t offset, int32_t value) {
    std::memcpy(payload + offset, &value, sizeof value);
}

void putUint32(uint8_t* payload, size_t offset, uint32_t value) {
    std::memcpy(payload + offset, &value, sizeof value);
}

void putText(uint8_t* payload, size_t offset, std::string_view text) {
    if (!text.empty()) {
        std::memcpy(payload + offset, text.data(), text.size());
    }
}

// The cache reads only the two timeouts; the rest of the record stays zero.
void putAttributes(uint8_t* payload, size_t offset, const Cookie& cookie) {
    putUint32(payload, offset + kAttributesOffsetMaxLifetime, cookie.maxLifetimeMinutes);
    putUint32(payload, offset + kAttributesOffsetIdleTimeout, cookie.idleTimeoutMinutes);
}

void putTexts(uint8_t* payload, const Cookie& cookie) {
    putText(payload, kOffsetCookieText, cookie.text);
    putText(payload, kOffsetCookieBytes, cookie.bytes);
}

}  // namespace

bool cookieFitsRequest(const Cookie& cookie) {
    return textFits(cookie.text, kCookieTextSize) && textFits(cookie.bytes, kCookieBytesSize);
}

void buildQueryPayload(const Cookie& cookie, uint8_t (&payload)[kQueryPayloadSize]) {
    std::memset(payload, 0, sizeof payload);
    putInt32(payload, kOffsetFunctionCode, FUNC_COOKIE_IS_CACHED);
    putTexts(payload, cookie);
    putInt32(payload, kOffsetFirstTime, cookie.creationTime);
    putInt32(payload, kOffsetSecondTime, cookie.timeOffset);
    putAttributes(payload, kOffsetQueryAttributes, cookie);
}

void buildAddPayload(const Cookie& cookie, uint8_t (&payload)[kAddPayloadSize]) {
    std::memset(payload, 0, sizeof payload);
    putInt32(payload, kOffsetFunctionCode, FUNC_ADD_TO_CACHE);
    putTexts(payload, cookie);
    putInt32(payload, kOffsetFirstTime, cookie.lastUseTime);
    putInt32(payload, kOffsetSecondTime, cookie.creationTime);
    putInt32(payload, kOffsetAddTimeOffset, cookie.timeOffset);
    putAttributes(payload, kOffsetAddAttributes, cookie);
    putInt32(payload, kOffsetAddCookieKind, cookie.cookieKind);
}

}  // namespace logoffcookie
