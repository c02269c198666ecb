#include "cache/receivedLogoffs.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "cache/logoffCookieCacheState.h"

namespace {

// The identity is an HMAC, so any eight of its bytes are as good a hash as
// any hash of all twenty.
struct FarmIdentityHash {
    std::size_t operator()(const FarmIdentity& identity) const noexcept {
        std::uint64_t value;
        std::memcpy(&value, identity.data(), sizeof value);
        return static_cast<std::size_t>(value);
    }
};

// A node holds the identity, the times and one link: about 72 bytes with its
// bucket, well under the 200 a received logoff may cost.
// guarded by logoffCookieCacheLock
std::unordered_map<FarmIdentity, CookieTimes, FarmIdentityHash> receivedLogoffs;

}  // namespace

bool receivedLogoffs_contains(const FarmIdentity& identity) {
    return receivedLogoffs.find(identity) != receivedLogoffs.end();
}

namespace {

// Whether the idle test can ever end this logoff: not for kinds 1 and 2, nor
// without an idle timeout shorter than the lifetime.
bool idleTestApplies(const CookieTimes& t) {
    return t.cookieKind != 1 && t.cookieKind != 2 && t.idleTimeoutMinutes != 0 &&
           t.idleTimeoutMinutes < t.maxLifetimeMinutes;
}

}  // namespace

CookieTimes mergeReceivedTimes(const CookieTimes& held, const CookieTimes& arrived) {
    CookieTimes merged = held;
    merged.lastUseTime = std::max(held.lastUseTime, arrived.lastUseTime);
    merged.maxLifetimeMinutes = std::max(held.maxLifetimeMinutes, arrived.maxLifetimeMinutes);
    // The smaller offset puts the end later on this host's clock.
    merged.timeOffset = std::min(held.timeOffset, arrived.timeOffset);
    if (idleTestApplies(held) && idleTestApplies(arrived)) {
        merged.idleTimeoutMinutes = std::max(held.idleTimeoutMinutes, arrived.idleTimeoutMinutes);
    } else {
        // Either one lives by its lifetime alone: so does the merge.
        merged.idleTimeoutMinutes = 0;
    }
    return merged;
}

void receivedLogoffs_insert(const FarmLogoff& logoff) {
    auto [at, fresh] = receivedLogoffs.try_emplace(logoff.identity, logoff.times);
    if (!fresh) {
        at->second = mergeReceivedTimes(at->second, logoff.times);
    }
}

std::uint32_t receivedLogoffs_expire(std::int32_t serviceNow) {
    std::uint32_t removed = std::erase_if(receivedLogoffs, [serviceNow](const auto& entry) {
        return cookieTimesHaveExpired(entry.second, serviceNow);
    });
    return removed;
}

std::uint32_t receivedLogoffs_entries() {
    return static_cast<std::uint32_t>(receivedLogoffs.size());
}

std::shared_ptr<void> receivedLogoffs_takeAll() {
    using Set = decltype(receivedLogoffs);
    auto taken = std::make_shared<Set>();
    taken->swap(receivedLogoffs);
    return taken;
}

void receivedLogoffs_visit(void (*visit)(const FarmLogoff& logoff, void* data), void* data) {
    FarmLogoff logoff;
    for (const auto& [identity, times] : receivedLogoffs) {
        logoff.identity = identity;
        logoff.times = times;
        visit(logoff, data);
    }
}
