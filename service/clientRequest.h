// Per-connection records and the layout of a decrypted request.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int kRequestCapacity = 4096;
inline constexpr int kReplyBufferSize = 1024;
inline constexpr int kReplyLength = 4;

struct ClientRequest {
    int descriptor;
    char data[kRequestCapacity];
    int count;  // bytes in data; after decryption the envelope's message length
};

struct ClientReply {
    int descriptor;  // -1 once the writer has closed the connection
    const char* reply;
    int count;
};

enum FunctionCode : int32_t {
    FUNC_COOKIE_IS_CACHED = 1,
    FUNC_ADD_TO_CACHE = 2,
};

// Field sizes and offsets of the request payload. Integers are 32-bit in host
// byte order: client and service share the host.
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

// A request is complete when the message length (payload plus the envelope's
// trailing zero byte) reaches these.
inline constexpr int kMinQueryCount = 980;
inline constexpr int kMinAddCount = 988;

inline constexpr int32_t kAddReplyValue = -1;
