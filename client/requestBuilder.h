// Turns a cookie's fields into the payload of a query or an add request.
#pragma once

#include <cstdint>

#include "client/logoffCookieClient.hpp"
#include "protocol/requestLayout.h"

namespace logoffcookie {

// True when both texts fit their 64-byte fields. A 64-byte text is sent
// without a NUL; a shorter one ends at its first NUL, so a text with a NUL
// inside would be cut short and is refused.
bool cookieFitsRequest(const Cookie& cookie);

// Fill the whole payload; the caller has checked cookieFitsRequest. Bytes of
// cookieAttributes other than the two timeouts are zero.
void buildQueryPayload(const Cookie& cookie, uint8_t (&payload)[kQueryPayloadSize]);
void buildAddPayload(const Cookie& cookie, uint8_t (&payload)[kAddPayloadSize]);

}  // namespace logoffcookie
