// Cookies as the farm tests log them off on one host and ask for on another.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

#include "tests/support/farmHost.h"
#include "tests/support/rawRequests.h"

namespace lctest {

// The farm secret of the tests, and a file holding it with `mode`.
extern const std::string kFarmSecret;
std::string writeSecretFile(const std::string& directory, const std::string& bytes,
                            mode_t mode = 0600);

// A cookie no cache can know from its start: created after every start.
CookieFields freshCookie(const std::string& text);

// True when the host answered the add.
bool logOff(const FarmHost& host, const CookieFields& cookie);
// 1 when the host refuses the cookie, 0 when not, nothing without an answer.
std::optional<int32_t> query(const FarmHost& host, const CookieFields& cookie);
// Asks until the host refuses the cookie: the event awaited is the answer.
bool refusedWithin(const FarmHost& host, const CookieFields& cookie,
                   std::chrono::milliseconds limit);

}  // namespace lctest
