#include "cache/cookieExpiry.h"

#include "cache/cookieTime.h"
#include "cache/logoffCookieCleanupThread.h"

bool cookieTimesHaveExpired(const CookieTimes& times, std::int32_t serviceNow) {
    std::int32_t now = wrappingAdd(wrappingAdd(serviceNow, times.timeOffset), EXPIRY_GRACE_SECONDS);
    std::uint32_t lifetime = times.maxLifetimeMinutes;
    bool lifetimeAlone = times.cookieKind == 1 || times.cookieKind == 2;
    std::uint32_t idle = lifetimeAlone ? lifetime : times.idleTimeoutMinutes;

    bool idleOver = idle != 0 && idle < lifetime &&
                    wrappingAdd(times.lastUseTime, minutesAsSeconds(idle)) <= now;
    bool lifetimeOver = wrappingAdd(times.creationTime, minutesAsSeconds(lifetime)) <= now;
    return idleOver || lifetimeOver;
}
