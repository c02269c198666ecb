// One entry of the logoff cookie cache: the record of a cookie that a client
// reported as logged off. Its identity is a salted SHA-1 digest of the
// cookie's fields; the hashed set places it by the front of that digest and
// finds it again by comparing digests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "cache/cookieExpiry.h"
#include "support/collections/RWCollectable.h"

inline constexpr RWClassID LOGOFF_COOKIE_CLASS_ID = 300;
inline constexpr const char* LOGOFF_COOKIE_STRING_ID = "LogoffCookie";

// Field sizes of a request as the cache sees them. The cache may not see the
// protocol's layout (protocol/requestLayout.h); the service, which sees both,
// holds these equal to it (service/requestLayoutCheck.cc).
inline constexpr std::size_t kLogoffCookieTextSize = 64;  // cookieText and cookieBytes each
inline constexpr std::size_t kLogoffCookieAttributesSize = 840;
inline constexpr std::size_t kLogoffCookieSaltSize = 64;
inline constexpr std::size_t kLogoffCookieDigestSize = 20;

// The only two members of cookieAttributes the cache reads, each a 32-bit
// integer in host byte order.
inline constexpr std::size_t kLogoffCookieMaxLifetimeOffset = 652;
inline constexpr std::size_t kLogoffCookieIdleTimeoutOffset = 656;

using LogoffCookieDigest = std::array<std::uint8_t, kLogoffCookieDigestSize>;

// SHA-1 over cookieText and cookieBytes (each up to its first NUL, at most
// 64 bytes), creationTime as 4 bytes least significant first, and the 64
// salt bytes. No length or separator lies between the two texts.
// `cookieAttributes` does not enter the digest.
void computeCookieDigest(const char* cookieText, const char* cookieBytes, std::int32_t creationTime,
                         const std::uint8_t* salt, const char* cookieAttributes,
                         LogoffCookieDigest& output);

class LogoffCookie : public RWCollectable {
  public:
    // Zero digest, text "unknown", every integer 0.
    LogoffCookie();
    // `cookieText` and `cookieBytes` point at 64-byte fields, `salt` at the
    // 64 salt bytes, `cookieAttributes` at the 840-byte record. Last-use
    // time, time offset and kind start at 0.
    LogoffCookie(const char* cookieText, const char* cookieBytes, std::int32_t creationTime,
                 const std::uint8_t* salt, const char* cookieAttributes);
    // A cookie recorded by an earlier run of the service, brought back by its
    // digest and times alone: the text is not kept, so it reads "unknown".
    LogoffCookie(const LogoffCookieDigest& digest, const CookieTimes& times);
    LogoffCookie(const LogoffCookie&) = default;
    LogoffCookie& operator=(const LogoffCookie&) = default;
    // Resets the record to its defaults first, so a freed record holds no
    // digest.
    ~LogoffCookie() override;

    RWCollectable* newInstance() const override;
    RWCollectable* copy() const override;
    RWClassID classId() const override;
    RWCollectable* selfAsCollectable() override;
    const RWCollectable* selfAsCollectable() const override;

    // The digest's first four bytes, least significant first. Salted, so
    // cookies spread evenly over any bucket count, those of one text too, and
    // a sender who does not know the salt cannot pick cookies that collide.
    std::uint32_t hash() const override;
    // Equal digests, byte for byte. The cache holds nothing but cookies, so
    // `other` is taken to be one.
    bool isEqual(const RWCollectable* other) const override;

    void setLastUseTime(std::int32_t time) { lastUseTime_ = time; }
    void setCookieKind(std::int32_t kind) { cookieKind_ = kind; }
    void setTimeOffset(std::int32_t offset) { timeOffset_ = offset; }
    // Takes the times, offset, timeouts and kind of an equal cookie recorded
    // later; digest and text stay. Allocates nothing.
    void adoptTimesOf(const LogoffCookie& newer);

    const LogoffCookieDigest& digest() const { return digest_; }
    const std::string& cookieText() const { return cookieText_; }
    std::int32_t lastUseTime() const { return lastUseTime_; }
    std::int32_t creationTime() const { return creationTime_; }
    std::int32_t timeOffset() const { return timeOffset_; }
    std::uint32_t idleTimeoutMinutes() const { return idleTimeoutMinutes_; }
    std::uint32_t maxLifetimeMinutes() const { return maxLifetimeMinutes_; }
    std::int32_t cookieKind() const { return cookieKind_; }
    CookieTimes times() const {
        return {creationTime_,       lastUseTime_,        timeOffset_,
                idleTimeoutMinutes_, maxLifetimeMinutes_, cookieKind_};
    }

  private:
    void resetToDefaults();

    LogoffCookieDigest digest_;
    std::string cookieText_;
    std::int32_t lastUseTime_;          // cookie's clock; the idle timeout counts from it
    std::int32_t creationTime_;         // cookie's clock; the lifetime counts from it
    std::int32_t timeOffset_;           // add to the service's clock to get the cookie's
    std::uint32_t idleTimeoutMinutes_;  // 0: none
    std::uint32_t maxLifetimeMinutes_;
    std::int32_t cookieKind_;  // 1, 2, or 0 for any other kind
};

// The factory creator: a new default LogoffCookie.
RWCollectable* rwCreateLogoffCookie();
