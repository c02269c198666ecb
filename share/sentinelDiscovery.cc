#include "share/sentinelDiscovery.h"

#include <charconv>

namespace {

std::string_view textOf(const redisReply* reply) {
    if (reply == nullptr ||
        (reply->type != REDIS_REPLY_STRING && reply->type != REDIS_REPLY_STATUS)) {
        return {};
    }
    return {reply->str, reply->len};
}

std::string sentinelName(const SentinelAddress& sentinel) {
    bool v6 = sentinel.host.find(':') != std::string::npos;
    return "sentinel " + (v6 ? "[" + sentinel.host + "]" : sentinel.host) + ":" +
           std::to_string(sentinel.port);
}

// One sentinel as a Redis endpoint, with the sentinels' credentials.
ShareEndpoint sentinelEndpoint(const ShareEndpoint& config, std::size_t index) {
    ShareEndpoint sentinel;
    sentinel.host = config.sentinels[index].host;
    sentinel.port = config.sentinels[index].port;
    sentinel.user = config.sentinelUser;
    sentinel.password = config.sentinelPassword;
    sentinel.hasPassword = config.hasSentinelPassword;
    // sentinels://: the sentinels too are reached over TLS.
    sentinel.useTls = config.useTls;
    sentinel.tls = config.tls;
    return sentinel;
}

}  // namespace

ShareConnectOutcome askSentinel(const ShareEndpoint& config, std::size_t index,
                                ShareEndpoint& primary, std::string& error) {
    RedisLink link;
    ShareConnectOutcome outcome =
        link.connect(sentinelEndpoint(config, index), SHARE_SENTINEL_TIMEOUT, error);
    if (outcome != ShareConnectOutcome::Connected) {
        return outcome;
    }
    RedisReply reply =
        link.command({"SENTINEL", "get-master-addr-by-name", config.masterName}, error);
    if (!reply) {
        return ShareConnectOutcome::Unreachable;
    }
    if (reply->type == REDIS_REPLY_ERROR) {
        error.assign(reply->str, reply->len);
        return ShareConnectOutcome::Refused;
    }
    if (reply->type != REDIS_REPLY_ARRAY || reply->elements != 2) {
        error = "knows no primary named " + config.masterName;
        return ShareConnectOutcome::Unreachable;
    }
    std::string_view host = textOf(reply->element[0]);
    std::string_view portText = textOf(reply->element[1]);
    int port = 0;
    auto [end, failure] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (host.empty() || failure != std::errc() || end != portText.data() + portText.size() ||
        port < 1 || port > 65535) {
        error = "answered an address that does not parse";
        return ShareConnectOutcome::Unreachable;
    }
    primary = config;
    primary.sentinels.clear();
    primary.host.assign(host);
    primary.port = port;
    return ShareConnectOutcome::Connected;
}

ShareConnectOutcome reachedPrimary(RedisLink& link, std::string& error) {
    RedisReply reply = link.command({"ROLE"}, error);
    if (!reply) {
        return ShareConnectOutcome::Unreachable;
    }
    ShareConnectOutcome outcome = ShareConnectOutcome::Unreachable;
    if (reply->type == REDIS_REPLY_ERROR) {
        error.assign(reply->str, reply->len);
        outcome = ShareConnectOutcome::Refused;
    } else if (reply->type != REDIS_REPLY_ARRAY || reply->elements < 1) {
        error = "ROLE: unexpected reply";
    } else if (std::string_view role = textOf(reply->element[0]); role != "master") {
        // Named during a failover by a sentinel that has not yet heard of it.
        error = "not a primary but a " + std::string(role == "slave" ? "replica" : role);
    } else {
        return ShareConnectOutcome::Connected;
    }
    link.close();
    return outcome;
}

ShareConnectOutcome connectThroughSentinels(RedisLink& link, const ShareEndpoint& config,
                                            std::chrono::milliseconds ioTimeout,
                                            ShareEndpoint& primary, std::string& error,
                                            bool& failingOver) {
    link.close();
    failingOver = false;
    std::string reasons;
    std::string refusal;
    ShareConnectOutcome refusalOutcome = ShareConnectOutcome::Refused;
    for (std::size_t i = 0; i < config.sentinels.size(); ++i) {
        std::string reason;
        std::string named;
        ShareEndpoint found;
        ShareConnectOutcome outcome = askSentinel(config, i, found, reason);
        if (outcome == ShareConnectOutcome::Connected) {
            outcome = link.connect(found, ioTimeout, reason);
            if (outcome == ShareConnectOutcome::Connected) {
                outcome = reachedPrimary(link, reason);
            }
            if (outcome == ShareConnectOutcome::Connected) {
                primary = found;
                return outcome;
            }
            named = "named " + found.host + ":" + std::to_string(found.port) + ": ";
            failingOver = failingOver || outcome == ShareConnectOutcome::Unreachable;
        }
        if ((outcome == ShareConnectOutcome::Refused ||
             outcome == ShareConnectOutcome::TlsRefused) &&
            refusal.empty()) {
            refusal = reason;
            refusalOutcome = outcome;
        }
        reasons += (reasons.empty() ? "" : "; ") + sentinelName(config.sentinels[i]) + ": " +
                   named + reason;
    }
    if (!refusal.empty()) {
        error = refusal;
        return refusalOutcome;
    }
    error = "no sentinel named a reachable primary " + config.masterName + " (" + reasons + ")";
    return ShareConnectOutcome::Unreachable;
}
