#include "share/shareEntry.h"

#include <charconv>

#include "crypto/byteOrder.h"
#include "crypto/secureMemory.h"

namespace {

constexpr std::size_t kMacSize = kSha1DigestSize;

// The fields in the order the MAC takes them; "mac" last.
constexpr const char* kNames[kShareEntryFields] = {"v",  "fid", "ct", "lu",  "to",
                                                   "it", "ml",  "k",  "run", "mac"};
enum FieldIndex {
    kVersion,
    kIdentity,
    kCreation,
    kLastUse,
    kOffset,
    kIdle,
    kLifetime,
    kKind,
    kRun,
    kMac
};

// The MAC covers the version, the identity, the six times as 4 bytes each
// most significant first, and the run id: a fixed layout, whatever the text
// of the fields.
void computeEntryMac(const FarmKey& key, const FarmLogoff& logoff, const ShareRunId& run,
                     std::uint8_t out[kMacSize]) {
    FarmKey::Mac mac(key);
    mac.update(kShareEntryVersion, 1);
    mac.update(logoff.identity.data(), logoff.identity.size());
    const CookieTimes& t = logoff.times;
    const std::uint32_t values[] = {static_cast<std::uint32_t>(t.creationTime),
                                    static_cast<std::uint32_t>(t.lastUseTime),
                                    static_cast<std::uint32_t>(t.timeOffset),
                                    t.idleTimeoutMinutes,
                                    t.maxLifetimeMinutes,
                                    static_cast<std::uint32_t>(t.cookieKind)};
    for (std::uint32_t value : values) {
        std::uint8_t bytes[4];
        store32_be(bytes, value);
        mac.update(bytes, sizeof bytes);
    }
    mac.update(run.data(), run.size());
    mac.finish(out);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool fromHex(std::string_view text, std::uint8_t* out, std::size_t length) {
    if (text.size() != 2 * length) {
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        int high = hexDigit(text[2 * i]);
        int low = hexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return true;
}

template <typename Integer>
bool fromDecimal(std::string_view text, Integer& out) {
    auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), out);
    return failure == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

std::string toHex(const std::uint8_t* bytes, std::size_t length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(2 * length, '0');
    for (std::size_t i = 0; i < length; ++i) {
        text[2 * i] = kDigits[bytes[i] >> 4];
        text[2 * i + 1] = kDigits[bytes[i] & 0x0f];
    }
    return text;
}

ShareEntryFields encodeShareEntry(const FarmKey& key, const FarmLogoff& logoff,
                                  const ShareRunId& run) {
    std::uint8_t mac[kMacSize];
    computeEntryMac(key, logoff, run, mac);
    const CookieTimes& t = logoff.times;
    std::string values[kShareEntryFields] = {kShareEntryVersion,
                                             toHex(logoff.identity.data(), logoff.identity.size()),
                                             std::to_string(t.creationTime),
                                             std::to_string(t.lastUseTime),
                                             std::to_string(t.timeOffset),
                                             std::to_string(t.idleTimeoutMinutes),
                                             std::to_string(t.maxLifetimeMinutes),
                                             std::to_string(t.cookieKind),
                                             toHex(run.data(), run.size()),
                                             toHex(mac, sizeof mac)};
    ShareEntryFields fields;
    for (std::size_t i = 0; i < kShareEntryFields; ++i) {
        fields[i] = {kNames[i], std::move(values[i])};
    }
    return fields;
}

ShareEntryCheck decodeShareEntry(
    const FarmKey& key, const std::vector<std::pair<std::string_view, std::string_view>>& fields,
    const ShareRunId& ownRun, FarmLogoff& out, ShareRunId* sender) {
    std::string_view found[kShareEntryFields];
    bool seen[kShareEntryFields] = {};
    for (const auto& [name, value] : fields) {
        std::size_t index = 0;
        while (index < kShareEntryFields && name != kNames[index]) {
            ++index;
        }
        if (index == kShareEntryFields || seen[index]) {
            return ShareEntryCheck::Malformed;
        }
        seen[index] = true;
        found[index] = value;
    }
    for (bool present : seen) {
        if (!present) {
            return ShareEntryCheck::Malformed;
        }
    }

    FarmLogoff logoff;
    ShareRunId run;
    std::uint8_t mac[kMacSize];
    CookieTimes& t = logoff.times;
    bool readable =
        found[kVersion] == kShareEntryVersion &&
        fromHex(found[kIdentity], logoff.identity.data(), logoff.identity.size()) &&
        fromDecimal(found[kCreation], t.creationTime) &&
        fromDecimal(found[kLastUse], t.lastUseTime) && fromDecimal(found[kOffset], t.timeOffset) &&
        fromDecimal(found[kIdle], t.idleTimeoutMinutes) &&
        fromDecimal(found[kLifetime], t.maxLifetimeMinutes) &&
        fromDecimal(found[kKind], t.cookieKind) && fromHex(found[kRun], run.data(), run.size()) &&
        fromHex(found[kMac], mac, sizeof mac);
    if (!readable) {
        return ShareEntryCheck::Malformed;
    }
    // Checked before the run id is trusted: a forger could otherwise name a
    // host's run and have nothing happen, which is harmless, but a count of
    // bad entries that leaves those out would hide the forgery.
    std::uint8_t expected[kMacSize];
    computeEntryMac(key, logoff, run, expected);
    bool authentic = constantTimeEqual(expected, mac, sizeof mac);
    secureZero(expected, sizeof expected);
    if (!authentic) {
        return ShareEntryCheck::BadMac;
    }
    if (run == ownRun) {
        return ShareEntryCheck::OwnRun;
    }
    out = logoff;
    if (sender != nullptr) {
        *sender = run;
    }
    return ShareEntryCheck::Accepted;
}
