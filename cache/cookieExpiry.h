// The expiry rule of a logged-off cookie, on its times alone, so that a
// logoff recorded here and one received from another host of the farm are
// forgotten alike.
#pragma once

#include <cstdint>

struct CookieTimes {
    std::int32_t creationTime = 0;         // cookie's clock; the lifetime counts from it
    std::int32_t lastUseTime = 0;          // cookie's clock; the idle timeout counts from it
    std::int32_t timeOffset = 0;           // add to the service's clock to get the cookie's
    std::uint32_t idleTimeoutMinutes = 0;  // 0: none
    std::uint32_t maxLifetimeMinutes = 0;
    std::int32_t cookieKind = 0;  // 1, 2, or 0 for any other kind
};

// With the service's clock at `serviceNow`: the cookie's clock is that plus
// its time offset plus the grace. Expired when its lifetime has run out
// (creation + lifetime reached), or when it has an idle timeout that is shorter
// than the lifetime and that has run out since its last use. Kinds 1 and 2
// are judged by lifetime alone.
bool cookieTimesHaveExpired(const CookieTimes& times, std::int32_t serviceNow);
