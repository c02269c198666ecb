// What the hosts of a farm tell each other about a logoff: the cookie's farm
// identity and the times that decide when it may be forgotten. The identity
// is an HMAC under the farm secret, the same on every host, so a cookie can
// be recognised without its text ever leaving the host that saw it.
#pragma once

#include <array>
#include <cstdint>

#include "cache/cookieExpiry.h"
#include "cache/farmKey.h"

inline constexpr std::size_t kFarmIdentitySize = 20;
using FarmIdentity = std::array<std::uint8_t, kFarmIdentitySize>;

struct FarmLogoff {
    FarmIdentity identity{};
    CookieTimes times;
};

// HMAC-SHA-1 over cookieText and cookieBytes (each up to its first NUL, at
// most 64 bytes, preceded by its length as 4 bytes least significant first)
// and creationTime as 4 bytes least significant first. The lengths keep a
// byte moved from one text to the other from giving the same identity.
void computeFarmIdentity(const FarmKey& key, const char* cookieText, const char* cookieBytes,
                         std::int32_t creationTime, FarmIdentity& out);

// Told of every local add once it is recorded, on the adding thread; must not
// block.
using FarmAddHook = void (*)(const FarmLogoff& logoff);

// Switches the farm side of the cache on: from then on each add is told to
// `hook` and queries consult the received logoffs. Called once at start,
// before any request; `key` lives as long as the process. Without it the
// cache computes no identity and behaves as a single host.
void logoffCookieFarm_enable(const FarmKey* key, FarmAddHook hook);
// The key given to logoffCookieFarm_enable, or nullptr.
const FarmKey* logoffCookieFarm_key();
FarmAddHook logoffCookieFarm_hook();
