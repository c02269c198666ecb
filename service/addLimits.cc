#include "service/addLimits.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cache/cacheCeiling.h"
#include "diag/oncePerInterval.h"
#include "diag/operatorLine.h"
#include "diag/serviceMetrics.h"
#include "service/addAllowList.h"
#include "service/clientConnection.h"
#include "service/startRefusal.h"

namespace {

// Read in the launcher, used in the worker: the forks carry it across.
AddAllowList addAllowList;

// A refused client may retry thousands of times a second.
OncePerInterval refusalNote(60);

// Says a refusal, `what` being its description, unless one was said in the
// last minute; the others are only counted until then.
void noteRefusal(const char* what) {
    std::uint64_t skipped = 0;
    if (!refusalNote.due(OncePerInterval::monotonicNow(), skipped)) {
        return;
    }
    traceAndSay("perform_addToCache() -- %s; %" PRIu64 " more refused since this was last said",
                what, skipped);
}

// The groups the peer had when it connected, besides its own.
bool peerGroups(int fd, std::vector<gid_t>& groups) {
    socklen_t size = 32 * sizeof(gid_t);
    for (int tries = 0; tries < 4; ++tries) {
        groups.resize(size / sizeof(gid_t));
        if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &size) == 0) {
            groups.resize(size / sizeof(gid_t));
            return true;
        }
        if (errno != ERANGE) {
            return false;
        }
    }
    return false;
}

}  // namespace

bool parseMaxCookies(const char* value, std::uint32_t& maxCookies, std::string& error) {
    if (value == nullptr) {
        maxCookies = kCacheDefaultMaxCookies;
        return true;
    }
    std::uint64_t parsed = 0;
    const char* c = value;
    for (; *c >= '0' && *c <= '9' && parsed <= UINT32_MAX; ++c) {
        parsed = parsed * 10 + static_cast<unsigned>(*c - '0');
    }
    if (c == value || *c != '\0' || parsed == 0 || parsed > UINT32_MAX) {
        error = "VOKLOGOFFMAXCOOKIES must be a count from 1 to 4294967295: \"" +
                std::string(value) + "\"";
        return false;
    }
    maxCookies = static_cast<std::uint32_t>(parsed);
    return true;
}

void requireAddLimits() {
    std::string error;
    if (!parseAddAllowList(std::getenv("VOKLOGOFFADDUSERS"), addAllowList, error)) {
        refuseStart(error);
    }
    std::uint32_t maxCookies = 0;
    if (!parseMaxCookies(std::getenv("VOKLOGOFFMAXCOOKIES"), maxCookies, error)) {
        refuseStart(error);
    }
    logoffCookieCache_setCeiling(maxCookies);
}

bool logoffCookieService_peerMayAdd(const ClientConnection& connection) {
    if (addAllowList.everyone) {
        return true;
    }
    const int fd = connection.descriptor();
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
        const int error = errno;
        metrics_count(CountedMetric::AddsRefusedNoCredentials);
        char what[160];
        std::snprintf(what, sizeof what,
                      "Add refused: the peer's credentials could not be read: %s",
                      std::strerror(error));
        noteRefusal(what);
        return false;
    }
    auto supplementary = [fd](std::vector<gid_t>& groups) { return peerGroups(fd, groups); };
    if (addAllowList_permits(addAllowList, peer.uid, peer.gid, supplementary)) {
        return true;
    }
    metrics_count(CountedMetric::AddsRefusedNotListed);
    char what[96];
    std::snprintf(what, sizeof what, "Add refused for uid %u: not allowed by VOKLOGOFFADDUSERS",
                  static_cast<unsigned>(peer.uid));
    noteRefusal(what);
    return false;
}
