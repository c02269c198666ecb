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

// What both requests carry in the same places: the function code, the two
// texts and two times, whose meaning differs by request. The rest is zero.
template <size_t size>
void startPayload(uint8_t (&payload)[size], int32_t functionCode, const Cookie& cookie,
                  int32_t firstTime, int32_t secondTime) {
    std::memset(payload, 0, size);
    putInt32(payload, kOffsetFunctionCode, functionCode);
    putText(payload, kOffsetCookieText, cookie.text);
    putText(payload, kOffsetCookieBytes, cookie.bytes);
    putInt32(payload, kOffsetFirstTime, firstTime);
    putInt32(payload, kOffsetSecondTime, secondTime);
}

}  // namespace

bool cookieFitsRequest(const Cookie& cookie) {
    return textFits(cookie.text, kCookieTextSize) && textFits(cookie.bytes, kCookieBytesSize);
}

void buildQueryPayload(const Cookie& cookie, uint8_t (&payload)[kQueryPayloadSize]) {
    startPayload(payload, FUNC_COOKIE_IS_CACHED, cookie, cookie.creationTime, cookie.timeOffset);
    putAttributes(payload, kOffsetQueryAttributes, cookie);
}

void buildAddPayload(const Cookie& cookie, uint8_t (&payload)[kAddPayloadSize]) {
    startPayload(payload, FUNC_ADD_TO_CACHE, cookie, cookie.lastUseTime, cookie.creationTime);
    putInt32(payload, kOffsetAddTimeOffset, cookie.timeOffset);
    putAttributes(payload, kOffsetAddAttributes, cookie);
    putInt32(payload, kOffsetAddCookieKind, cookie.cookieKind);
}

}  // namespace logoffcookie
