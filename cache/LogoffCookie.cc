#include "cache/LogoffCookie.h"

#include <cstring>

#include "crypto/byteOrder.h"
#include "crypto/secureMemory.h"
#include "crypto/sha1.h"
#include "support/collections/RWFactory.h"
#include "support/collections/collectableDefinitions.h"

namespace {

constexpr const char* kDefaultCookieText = "unknown";

// A request field ends at its first NUL byte or, lacking one, at its 64th.
std::size_t fieldLength(const char* field) {
    return strnlen(field, kLogoffCookieTextSize);
}

std::uint32_t attributeAt(const char* cookieAttributes, std::size_t offset) {
    std::uint32_t value;
    std::memcpy(&value, cookieAttributes + offset, sizeof value);  // no alignment is promised
    return value;
}

// Registered for the life of the program: built at start, removed at exit
// by class identifier and then by string identifier.
RWFactoryRegistration logoffCookieRegistration(rwCreateLogoffCookie, LOGOFF_COOKIE_CLASS_ID,
                                               LOGOFF_COOKIE_STRING_ID);

}  // namespace

void computeCookieDigest(const char* cookieText, const char* cookieBytes, std::int32_t creationTime,
                         const std::uint8_t* salt, const char* /*cookieAttributes*/,
                         LogoffCookieDigest& output) {
    auto time = static_cast<std::uint32_t>(creationTime);
    const std::uint8_t timeBytes[4] = {
        static_cast<std::uint8_t>(time),
        static_cast<std::uint8_t>(time >> 8),
        static_cast<std::uint8_t>(time >> 16),
        static_cast<std::uint8_t>(time >> 24),
    };
    SHA1_context context;
    SHA1_init(&context);
    SHA1_update(&context, cookieText, fieldLength(cookieText));
    SHA1_update(&context, cookieBytes, fieldLength(cookieBytes));
    SHA1_update(&context, timeBytes, sizeof timeBytes);
    SHA1_update(&context, salt, kLogoffCookieSaltSize);
    SHA1_final(&context, output.data());
    // The context has seen the salt.
    secureZero(&context, sizeof context);
}

LogoffCookie::LogoffCookie()
    : digest_{},
      cookieText_(kDefaultCookieText),
      lastUseTime_(0),
      creationTime_(0),
      timeOffset_(0),
      idleTimeoutMinutes_(0),
      maxLifetimeMinutes_(0),
      cookieKind_(0) {}

LogoffCookie::LogoffCookie(const char* cookieText, const char* cookieBytes,
                           std::int32_t creationTime, const std::uint8_t* salt,
                           const char* cookieAttributes)
    : digest_{},
      cookieText_(),
      lastUseTime_(0),
      creationTime_(0),
      timeOffset_(0),
      idleTimeoutMinutes_(0),
      maxLifetimeMinutes_(0),
      cookieKind_(0) {
    computeCookieDigest(cookieText, cookieBytes, creationTime, salt, cookieAttributes, digest_);
    cookieText_.assign(cookieText, fieldLength(cookieText));
    creationTime_ = creationTime;
    idleTimeoutMinutes_ = attributeAt(cookieAttributes, kLogoffCookieIdleTimeoutOffset);
    maxLifetimeMinutes_ = attributeAt(cookieAttributes, kLogoffCookieMaxLifetimeOffset);
}

LogoffCookie::LogoffCookie(const LogoffCookieDigest& digest, const CookieTimes& times)
    : digest_(digest),
      cookieText_(kDefaultCookieText),
      lastUseTime_(times.lastUseTime),
      creationTime_(times.creationTime),
      timeOffset_(times.timeOffset),
      idleTimeoutMinutes_(times.idleTimeoutMinutes),
      maxLifetimeMinutes_(times.maxLifetimeMinutes),
      cookieKind_(times.cookieKind) {}

LogoffCookie::~LogoffCookie() {
    resetToDefaults();
}

void LogoffCookie::resetToDefaults() {
    secureZero(digest_.data(), digest_.size());
    // Seven characters fit any string's buffer: the assignment allocates nothing.
    cookieText_ = kDefaultCookieText;
    lastUseTime_ = 0;
    creationTime_ = 0;
    timeOffset_ = 0;
    idleTimeoutMinutes_ = 0;
    maxLifetimeMinutes_ = 0;
    cookieKind_ = 0;
}

LC_DEFINE_COLLECTABLE(LogoffCookie, LOGOFF_COOKIE_CLASS_ID)
LC_DEFINE_SELF_AS_COLLECTABLE(LogoffCookie)

void LogoffCookie::adoptTimesOf(const LogoffCookie& newer) {
    lastUseTime_ = newer.lastUseTime_;
    creationTime_ = newer.creationTime_;
    timeOffset_ = newer.timeOffset_;
    idleTimeoutMinutes_ = newer.idleTimeoutMinutes_;
    maxLifetimeMinutes_ = newer.maxLifetimeMinutes_;
    cookieKind_ = newer.cookieKind_;
}

std::uint32_t LogoffCookie::hash() const {
    return load32_le(digest_.data());
}

bool LogoffCookie::isEqual(const RWCollectable* other) const {
    return static_cast<const LogoffCookie*>(other)->digest_ == digest_;
}

RWCollectable* rwCreateLogoffCookie() {
    return new LogoffCookie;
}
