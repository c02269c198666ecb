#include "share/sentinelDiscovery.h"

#include <algorithm>
#include <charconv>
#include <random>

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

std::vector<std::size_t> rankSentinelAnswers(const std::vector<SentinelAnswer>& answers) {
    // Each address once, where it was first named, with its votes.
    std::vector<std::size_t> firsts;
    std::vector<std::size_t> votes;
    for (std::size_t i = 0; i < answers.size(); ++i) {
        auto same = std::find_if(firsts.begin(), firsts.end(), [&](std::size_t first) {
            return answers[first].host == answers[i].host && answers[first].port == answers[i].port;
        });
        if (same == firsts.end()) {
            firsts.push_back(i);
            votes.push_back(1);
        } else {
            ++votes[static_cast<std::size_t>(same - firsts.begin())];
        }
    }
    std::vector<std::size_t> order(firsts.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return votes[a] > votes[b]; });
    for (std::size_t& at : order) {
        at = firsts[at];
    }
    return order;
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
    auto addReason = [&](std::size_t sentinel, const std::string& text) {
        reasons +=
            (reasons.empty() ? "" : "; ") + sentinelName(config.sentinels[sentinel]) + ": " + text;
    };
    // From a sentinel picked at random, so that the hosts of a farm do not
    // all lean on the first one; until most of the sentinels agree. One cut
    // off with a minority of them names a primary the others replaced.
    const std::size_t count = config.sentinels.size();
    std::size_t start = 0;
    if (count > 1) {
        std::random_device random;
        start = std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
    }
    std::vector<SentinelAnswer> answers;
    std::vector<std::size_t> answeredBy;
    for (std::size_t step = 0; step < count; ++step) {
        std::size_t i = (start + step) % count;
        std::string reason;
        ShareEndpoint found;
        ShareConnectOutcome outcome = askSentinel(config, i, found, reason);
        if (outcome == ShareConnectOutcome::Connected) {
            SentinelAnswer answer{found.host, found.port, std::move(found)};
            answers.push_back(std::move(answer));
            answeredBy.push_back(i);
            std::vector<std::size_t> ranked = rankSentinelAnswers(answers);
            const SentinelAnswer& top = answers[ranked.front()];
            std::size_t votes = static_cast<std::size_t>(std::count_if(
                answers.begin(), answers.end(),
                [&](const SentinelAnswer& a) { return a.host == top.host && a.port == top.port; }));
            if (2 * votes > count) {
                break;
            }
            continue;
        }
        if ((outcome == ShareConnectOutcome::Refused ||
             outcome == ShareConnectOutcome::TlsRefused) &&
            refusal.empty()) {
            refusal = reason;
            refusalOutcome = outcome;
        }
        addReason(i, reason);
    }
    // The address most of them named first, then the others.
    for (std::size_t at : rankSentinelAnswers(answers)) {
        const SentinelAnswer& answer = answers[at];
        std::string reason;
        ShareConnectOutcome outcome = link.connect(answer.endpoint, ioTimeout, reason);
        if (outcome == ShareConnectOutcome::Connected) {
            outcome = reachedPrimary(link, reason);
        }
        if (outcome == ShareConnectOutcome::Connected) {
            primary = answer.endpoint;
            return outcome;
        }
        failingOver = failingOver || outcome == ShareConnectOutcome::Unreachable;
        if ((outcome == ShareConnectOutcome::Refused ||
             outcome == ShareConnectOutcome::TlsRefused) &&
            refusal.empty()) {
            refusal = reason;
            refusalOutcome = outcome;
        }
        addReason(answeredBy[at],
                  "named " + answer.host + ":" + std::to_string(answer.port) + ": " + reason);
    }
    if (!refusal.empty()) {
        error = refusal;
        return refusalOutcome;
    }
    error = "no sentinel named a reachable primary " + config.masterName + " (" + reasons + ")";
    return ShareConnectOutcome::Unreachable;
}
