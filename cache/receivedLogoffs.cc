#include "cache/receivedLogoffs.h"

#include <algorithm>

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
