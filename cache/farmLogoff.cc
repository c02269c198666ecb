#include "cache/farmLogoff.h"

#include <cstring>

#include "cache/LogoffCookie.h"
#include "crypto/byteOrder.h"

namespace {

// Written once before any request thread exists and read without a lock
// afterwards, like the host key seed.
const FarmKey* farmKey = nullptr;
FarmAddHook farmAddHook = nullptr;

void addText(FarmKey::Mac& mac, const char* text) {
    const void* end = std::memchr(text, '\0', kLogoffCookieTextSize);
    auto length = static_cast<std::uint32_t>(end == nullptr ? kLogoffCookieTextSize
                                                            : static_cast<const char*>(end) - text);
    std::uint8_t lengthBytes[4];
    store32_le(lengthBytes, length);
    mac.update(lengthBytes, sizeof lengthBytes);
    mac.update(text, length);
}

}  // namespace

void computeFarmIdentity(const FarmKey& key, const char* cookieText, const char* cookieBytes,
                         std::int32_t creationTime, FarmIdentity& out) {
    FarmKey::Mac mac(key);
    addText(mac, cookieText);
    addText(mac, cookieBytes);
    std::uint8_t timeBytes[4];
    store32_le(timeBytes, static_cast<std::uint32_t>(creationTime));
    mac.update(timeBytes, sizeof timeBytes);
    mac.finish(out.data());
}

void logoffCookieFarm_enable(const FarmKey* key, FarmAddHook hook) {
    farmKey = key;
    farmAddHook = hook;
}

const FarmKey* logoffCookieFarm_key() {
    return farmKey;
}

FarmAddHook logoffCookieFarm_hook() {
    return farmAddHook;
}
