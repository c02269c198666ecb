// The request's layout is the protocol's, shared with the clients; the cache
// reads a cookie's fields by sizes and offsets of its own, as it may not see
// the protocol. The dispatcher hands the one to the other: here, where both
// are in view, they are held to agree.
#include "cache/LogoffCookie.h"
#include "protocol/requestLayout.h"

static_assert(COOKIE_TEXT_SIZE == kCookieTextSize && COOKIE_TEXT_SIZE == kCookieBytesSize);
static_assert(COOKIE_ATTRIBUTES_SIZE == kCookieAttributesSize);
static_assert(MAX_LIFETIME_OFFSET == kAttributesOffsetMaxLifetime);
static_assert(IDLE_TIMEOUT_OFFSET == kAttributesOffsetIdleTimeout);
static_assert(MAX_LIFETIME_OFFSET + 4 <= COOKIE_ATTRIBUTES_SIZE &&
              IDLE_TIMEOUT_OFFSET + 4 <= COOKIE_ATTRIBUTES_SIZE);
