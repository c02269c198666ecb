// The layout of a decrypted request and reply, as the service reads it and
// the client library writes it. Integers are 32-bit in host byte order: client
// and service share the host. There are no gaps, no version and no length
// field inside a payload.
#pragma once

#include <cstddef>
#include <cstdint>

enum FunctionCode : int32_t {
    FUNC_COOKIE_IS_CACHED = 1,
    FUNC_ADD_TO_CACHE = 2,
};

inline constexpr size_t kCookieTextSize = 64;
inline constexpr size_t kCookieBytesSize = 64;
inline constexpr size_t kCookieAttributesSize = 840;

inline constexpr size_t kOffsetFunctionCode = 0;
inline constexpr size_t kOffsetCookieText = 4;
inline constexpr size_t kOffsetCookieBytes = 68;
inline constexpr size_t kOffsetFirstTime = 132;   // creationTime (query), lastUseTime (add)
inline constexpr size_t kOffsetSecondTime = 136;  // timeOffset (query), creationTime (add)
inline constexpr size_t kOffsetQueryAttributes = 140;
inline constexpr size_t kOffsetAddTimeOffset = 140;
inline constexpr size_t kOffsetAddAttributes = 144;
inline constexpr size_t kOffsetAddCookieKind = 984;

// The only two members of cookieAttributes that the cache reads.
inline constexpr size_t kAttributesOffsetMaxLifetime = 652;
inline constexpr size_t kAttributesOffsetIdleTimeout = 656;

// What a client sends: the full layout of each function.
inline constexpr size_t kQueryPayloadSize = kOffsetQueryAttributes + kCookieAttributesSize;
inline constexpr size_t kAddPayloadSize = kOffsetAddCookieKind + 4;
static_assert(kQueryPayloadSize == 980 && kAddPayloadSize == 988);

// A request is complete when the message length (payload plus the envelope's
// trailing zero byte) reaches these.
inline constexpr int kMinQueryCount = 980;
inline constexpr int kMinAddCount = 988;

// The reply payload: one 32-bit integer.
inline constexpr int kReplyLength = 4;
inline constexpr int32_t kQueryReplyCached = 1;
inline constexpr int32_t kQueryReplyNotCached = 0;
inline constexpr int32_t kAddReplyValue = -1;

// The largest text the service reads in one request.
inline constexpr int kRequestCapacity = 4096;
