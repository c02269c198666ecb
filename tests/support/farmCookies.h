// What farm tests do with hosts and cookies: a farm secret file, cookies no
// cache can know from its start, logging off on one host and waiting for
// another to refuse.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>

#include "tests/support/farmHost.h"
#include "tests/support/rawRequests.h"

namespace lctest {

inline const std::string kFarmSecret = "farm secret of the tests, forty bytes long";

// Writes `bytes` to `directory`/farm.key with `mode`; returns the path.
std::string writeSecretFile(const std::string& directory, const std::string& bytes, mode_t mode);

// Sharing through Redis at `endpoint` under the secret in `secretPath`.
EnvChanges sharingWith(const std::string& endpoint, const std::string& secretPath,
                       const std::string& stream = "tests:logoffs");

std::optional<int32_t> query(const FarmHost& host, const CookieFields& cookie);
// Adds the cookie on `host`: a failure of the test when not answered -1.
void logOff(const FarmHost& host, const CookieFields& cookie);
// Asks until the host refuses the cookie: the event awaited is the answer.
bool refusedWithin(const FarmHost& host, const CookieFields& cookie, std::chrono::seconds limit);
// Logs off a fresh cookie `text` on `from`: true once `to` refuses it,
// within `limit`.
bool sharedWithin(const FarmHost& from, const FarmHost& to, const std::string& text,
                  std::chrono::seconds limit);
// A cookie logged off on `a` (`fromA` its text) is refused on `b` within
// `limit`, and one logged off on `b` on `a`: sharing works both ways.
void expectSharedBothWays(const FarmHost& a, const std::string& fromA, const FarmHost& b,
                          const std::string& fromB, std::chrono::seconds limit);

}  // namespace lctest
