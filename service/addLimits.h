// The limits on recording logoffs: who may add (VOKLOGOFFADDUSERS) and how
// many records the cache may hold (VOKLOGOFFMAXCOOKIES). Both are read by the
// launcher, so a bad value is refused before anything is forked.
#pragma once

#include <cstdint>
#include <string>

class ClientConnection;

// Reads both variables; on a bad value writes one line to the trace and
// standard error and exits with 1.
void requireAddLimits();

// VOKLOGOFFMAXCOOKIES: a decimal count from 1 to 4294967295, or nullptr for
// the default. False with the reason in `error` otherwise.
bool parseMaxCookies(const char* value, std::uint32_t& maxCookies, std::string& error);

// Whether the peer of `connection` may record logoffs; asks the system for
// its credentials only when a list is set. A refusal is counted by reason
// and said on standard error and in the trace at most once a minute.
bool logoffCookieService_peerMayAdd(const ClientConnection& connection);
