// The request's layout is the protocol's, shared with the clients; the cache
// reads a cookie's fields by sizes and offsets of its own, as it may not see
// the protocol. The dispatcher hands the one to the other: here, where both
// are in view, they are held to agree.
#include "cache/LogoffCookie.h"
#include "protocol/requestLayout.h"

static_assert(kLogoffCookieTextSize == kCookieTextSize &&
              kLogoffCookieTextSize == kCookieBytesSize);
static_assert(kLogoffCookieAttributesSize == kCookieAttributesSize);
static_assert(kLogoffCookieMaxLifetimeOffset == kAttributesOffsetMaxLifetime);
static_assert(kLogoffCookieIdleTimeoutOffset == kAttributesOffsetIdleTimeout);
static_assert(kLogoffCookieMaxLifetimeOffset + 4 <= kLogoffCookieAttributesSize &&
              kLogoffCookieIdleTimeoutOffset + 4 <= kLogoffCookieAttributesSize);
