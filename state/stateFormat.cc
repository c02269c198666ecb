#include "state/stateFormat.h"

#include <cstring>

#include "crypto/byteOrder.h"
#include "crypto/hmacSha1.h"
#include "crypto/secureMemory.h"

namespace {

constexpr std::uint8_t kMagic[8] = {'V', 'O', 'K', 'S', 'T', 'A', 'T', 'E'};
// Bytes handed to the sink at once: large writes, small memory.
constexpr std::size_t kFlushSize = 1 << 16;
constexpr std::uint32_t kSections = 3;
constexpr std::size_t kCountSize = 4;

void store64_be(std::uint8_t* p, std::uint64_t v) {
    store32_be(p, static_cast<std::uint32_t>(v >> 32));
    store32_be(p + 4, static_cast<std::uint32_t>(v));
}

std::uint64_t load64_be(const std::uint8_t* p) {
    return (static_cast<std::uint64_t>(load32_be(p)) << 32) | load32_be(p + 4);
}

void encodeHeader(const StateHeader& header, std::uint8_t out[kStateHeaderSize]) {
    std::uint8_t* p = out;
    std::memcpy(p, kMagic, sizeof kMagic);
    p += sizeof kMagic;
    store32_be(p, kStateFormatVersion);
    store32_be(p + 4, static_cast<std::uint32_t>(header.cacheStartTime));
    store32_be(p + 8, static_cast<std::uint32_t>(header.stopTime));
    p += 12;
    std::memcpy(p, header.salt, kLogoffCookieSaltSize);
    p += kLogoffCookieSaltSize;
    store64_be(p, header.position.milliseconds);
    store64_be(p + 8, header.position.sequence);
}

void decodeHeader(const std::uint8_t* p, StateHeader& header) {
    p += sizeof kMagic + 4;
    header.cacheStartTime = static_cast<std::int32_t>(load32_be(p));
    header.stopTime = static_cast<std::int32_t>(load32_be(p + 4));
    p += 8;
    std::memcpy(header.salt, p, kLogoffCookieSaltSize);
    p += kLogoffCookieSaltSize;
    header.position.milliseconds = load64_be(p);
    header.position.sequence = load64_be(p + 8);
}

void decodeRecord(const std::uint8_t* p, std::uint8_t* key, CookieTimes& times) {
    std::memcpy(key, p, 20);
    p += 20;
    times.creationTime = static_cast<std::int32_t>(load32_be(p));
    times.lastUseTime = static_cast<std::int32_t>(load32_be(p + 4));
    times.timeOffset = static_cast<std::int32_t>(load32_be(p + 8));
    times.idleTimeoutMinutes = load32_be(p + 12);
    times.maxLifetimeMinutes = load32_be(p + 16);
    times.cookieKind = p[20];
}

// A section's count, and where its records end: nullptr when they would
// run past `end`.
const std::uint8_t* readSection(const std::uint8_t* p, const std::uint8_t* end,
                                std::uint32_t& count) {
    if (static_cast<std::size_t>(end - p) < kCountSize) {
        return nullptr;
    }
    count = load32_be(p);
    p += kCountSize;
    if (static_cast<std::uint64_t>(count) * kStateRecordSize > static_cast<std::size_t>(end - p)) {
        return nullptr;
    }
    return p;
}

}  // namespace

StateKey::StateKey(const std::uint8_t key[kStateKeySize]) {
    hmacSha1KeyInit(&key_, key, kStateKeySize);
}

StateKey::~StateKey() {
    hmacSha1KeyWipe(&key_);
}

StateEncoder::StateEncoder(const StateKey& key, StateSink& sink, const StateHeader& header)
    : sink_(sink) {
    hmacSha1Init(&mac_, key.hmac());
    buffer_.reserve(kFlushSize + kStateHeaderSize);
    std::uint8_t bytes[kStateHeaderSize];
    encodeHeader(header, bytes);
    put(bytes, sizeof bytes);
    secureZero(bytes, sizeof bytes);
}

StateEncoder::~StateEncoder() {
    secureZero(&mac_, sizeof mac_);
    if (!buffer_.empty()) {
        secureZero(buffer_.data(), buffer_.size());
    }
}

void StateEncoder::cookies(std::uint32_t count) {
    section(count);
}

void StateEncoder::cookie(const LogoffCookieDigest& digest, const CookieTimes& times) {
    record(digest.data(), times);
}

void StateEncoder::farmLogoffs(std::uint32_t count) {
    section(count);
}

void StateEncoder::farmLogoff(const FarmLogoff& logoff) {
    record(logoff.identity.data(), logoff.times);
}

void StateEncoder::queued(std::uint32_t count) {
    section(count);
}

void StateEncoder::queuedLogoff(const FarmLogoff& logoff) {
    record(logoff.identity.data(), logoff.times);
}

void StateEncoder::section(std::uint32_t count) {
    if (owed_ != 0) {
        failed_ = true;
    }
    ++sectionsBegun_;
    owed_ = count;
    std::uint8_t bytes[kCountSize];
    store32_be(bytes, count);
    put(bytes, sizeof bytes);
}

void StateEncoder::record(const std::uint8_t* key, const CookieTimes& times) {
    if (owed_ == 0) {
        failed_ = true;
        return;
    }
    --owed_;
    std::uint8_t bytes[kStateRecordSize];
    std::memcpy(bytes, key, 20);
    std::uint8_t* p = bytes + 20;
    store32_be(p, static_cast<std::uint32_t>(times.creationTime));
    store32_be(p + 4, static_cast<std::uint32_t>(times.lastUseTime));
    store32_be(p + 8, static_cast<std::uint32_t>(times.timeOffset));
    store32_be(p + 12, times.idleTimeoutMinutes);
    store32_be(p + 16, times.maxLifetimeMinutes);
    // The cache keeps only kinds 0, 1 and 2.
    p[20] = static_cast<std::uint8_t>(times.cookieKind);
    put(bytes, sizeof bytes);
}

void StateEncoder::put(const std::uint8_t* bytes, std::size_t length) {
    buffer_.insert(buffer_.end(), bytes, bytes + length);
    if (buffer_.size() >= kFlushSize) {
        flush();
    }
}

void StateEncoder::flush() {
    hmacSha1Update(&mac_, buffer_.data(), buffer_.size());
    if (!failed_ && !sink_.write(buffer_.data(), buffer_.size())) {
        failed_ = true;
    }
    secureZero(buffer_.data(), buffer_.size());
    buffer_.clear();
}

bool StateEncoder::finish() {
    if (owed_ != 0 || sectionsBegun_ != kSections) {
        failed_ = true;
    }
    flush();
    // A second finish has no MAC left to give.
    std::uint8_t mac[kStateMacSize] = {};
    if (hmacSha1Final(&mac_, mac) != 0) {
        failed_ = true;
    }
    if (!failed_ && !sink_.write(mac, sizeof mac)) {
        failed_ = true;
    }
    return !failed_;
}

void StateView::cookie(std::uint32_t index, LogoffCookieDigest& digest, CookieTimes& times) const {
    decodeRecord(cookies_ + std::size_t{index} * kStateRecordSize, digest.data(), times);
}

void StateView::farmLogoff(std::uint32_t index, FarmLogoff& logoff) const {
    decodeRecord(farm_ + std::size_t{index} * kStateRecordSize, logoff.identity.data(),
                 logoff.times);
}

void StateView::queuedLogoff(std::uint32_t index, FarmLogoff& logoff) const {
    decodeRecord(queued_ + std::size_t{index} * kStateRecordSize, logoff.identity.data(),
                 logoff.times);
}

bool StateView::lay(const std::uint8_t* bytes, std::size_t covered) {
    const std::uint8_t* end = bytes + covered;
    const std::uint8_t* p = bytes + kStateHeaderSize;
    decodeHeader(bytes, header_);
    if ((p = readSection(p, end, cookieCount_)) == nullptr) {
        return false;
    }
    cookies_ = p;
    p += std::size_t{cookieCount_} * kStateRecordSize;
    if ((p = readSection(p, end, farmCount_)) == nullptr) {
        return false;
    }
    farm_ = p;
    p += std::size_t{farmCount_} * kStateRecordSize;
    if ((p = readSection(p, end, queuedCount_)) == nullptr) {
        return false;
    }
    queued_ = p;
    p += std::size_t{queuedCount_} * kStateRecordSize;
    return p == end;
}

bool unverifiedQueuedCount(const std::uint8_t* bytes, std::size_t size, std::uint32_t& count) {
    if (size < kStateHeaderSize + kStateMacSize || std::memcmp(bytes, kMagic, sizeof kMagic) != 0 ||
        load32_be(bytes + sizeof kMagic) != kStateFormatVersion) {
        return false;
    }
    StateView view;
    if (!view.lay(bytes, size - kStateMacSize)) {
        return false;
    }
    count = view.queuedCount();
    return true;
}

StateCheck checkStateFile(const StateKey& key, const std::uint8_t* bytes, std::size_t size,
                          StateView& out, std::uint32_t& version) {
    if (size < kStateHeaderSize + kStateMacSize || std::memcmp(bytes, kMagic, sizeof kMagic) != 0) {
        return StateCheck::DoesNotVerify;
    }
    // Told apart before the MAC: a later format may derive its key otherwise.
    version = load32_be(bytes + sizeof kMagic);
    if (version != kStateFormatVersion) {
        return StateCheck::OtherVersion;
    }
    const std::size_t covered = size - kStateMacSize;
    std::uint8_t mac[kStateMacSize];
    hmacSha1Mac(key.hmac(), bytes, covered, mac);
    bool authentic = constantTimeEqual(mac, bytes + covered, kStateMacSize);
    secureZero(mac, sizeof mac);
    if (!authentic) {
        return StateCheck::DoesNotVerify;
    }

    // Authentic, so written by this format's encoder; the sizes are checked
    // all the same, as reading past the end must never depend on a MAC.
    StateView view;
    if (!view.lay(bytes, covered)) {
        return StateCheck::DoesNotVerify;
    }
    out = view;
    return StateCheck::Valid;
}
