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
        link.connect(sentinelEndpoint(config, index), kShareSentinelTimeout, error);
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
    primary = dataNodeOf(config, std::string(host), port);
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

ShareEndpoint dataNodeOf(const ShareEndpoint& config, const std::string& host, int port) {
    ShareEndpoint node = config;
    node.sentinels.clear();
    node.replicas.clear();
    node.host = host;
    node.port = port;
    return node;
}

SentinelPoll pollSentinels(const ShareEndpoint& config) {
    SentinelPoll poll;
    // From a sentinel picked at random, so that the hosts of a farm do not
    // all lean on the first one; until most of the sentinels agree. One cut
    // off with a minority of them names a primary the others replaced.
    const std::size_t count = config.sentinels.size();
    std::size_t start = 0;
    if (count > 1) {
        std::random_device random;
        start = std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
    }
    for (std::size_t step = 0; step < count; ++step) {
        std::size_t i = (start + step) % count;
        std::string reason;
        ShareEndpoint found;
        ShareConnectOutcome outcome = askSentinel(config, i, found, reason);
        if (outcome == ShareConnectOutcome::Connected) {
            SentinelAnswer answer{found.host, found.port, std::move(found)};
            poll.answers.push_back(std::move(answer));
            poll.answeredBy.push_back(i);
            std::vector<std::size_t> ranked = rankSentinelAnswers(poll.answers);
            const SentinelAnswer& top = poll.answers[ranked.front()];
            std::size_t votes = static_cast<std::size_t>(std::count_if(
                poll.answers.begin(), poll.answers.end(),
                [&](const SentinelAnswer& a) { return a.host == top.host && a.port == top.port; }));
            if (2 * votes > count) {
                break;
            }
            continue;
        }
        if ((outcome == ShareConnectOutcome::Refused ||
             outcome == ShareConnectOutcome::TlsRefused) &&
            poll.refusal.empty()) {
            poll.refusal = reason;
            poll.refusalOutcome = outcome;
        }
        poll.reasons +=
            (poll.reasons.empty() ? "" : "; ") + sentinelName(config.sentinels[i]) + ": " + reason;
    }
    return poll;
}

std::vector<std::size_t> sentinelsAgreeingFirst(const ShareEndpoint& config,
                                                const SentinelPoll& poll) {
    std::vector<std::size_t> order;
    auto add = [&](std::size_t sentinel) {
        if (std::find(order.begin(), order.end(), sentinel) == order.end()) {
            order.push_back(sentinel);
        }
    };
    if (!poll.answers.empty()) {
        const SentinelAnswer& top = poll.answers[rankSentinelAnswers(poll.answers).front()];
        for (std::size_t i = 0; i < poll.answers.size(); ++i) {
            if (poll.answers[i].host == top.host && poll.answers[i].port == top.port) {
                add(poll.answeredBy[i]);
            }
        }
    }
    for (std::size_t sentinel : poll.answeredBy) {
        add(sentinel);
    }
    for (std::size_t i = 0; i < config.sentinels.size(); ++i) {
        add(i);
    }
    return order;
}

std::vector<SentinelReplica> parseSentinelReplicas(const redisReply* reply) {
    std::vector<SentinelReplica> replicas;
    if (reply == nullptr || reply->type != REDIS_REPLY_ARRAY) {
        return replicas;
    }
    for (std::size_t r = 0; r < reply->elements; ++r) {
        const redisReply* fields = reply->element[r];
        if (fields == nullptr || fields->type != REDIS_REPLY_ARRAY) {
            continue;
        }
        SentinelReplica replica;
        std::string_view portText;
        for (std::size_t f = 0; f + 1 < fields->elements; f += 2) {
            std::string_view name = textOf(fields->element[f]);
            std::string_view value = textOf(fields->element[f + 1]);
            if (name == "ip") {
                replica.host.assign(value);
            } else if (name == "port") {
                portText = value;
            } else if (name == "flags") {
                replica.flags.assign(value);
            } else if (name == "master-link-status") {
                replica.linkStatus.assign(value);
            }
        }
        int port = 0;
        auto [end, failure] =
            std::from_chars(portText.data(), portText.data() + portText.size(), port);
        if (replica.host.empty() || failure != std::errc() ||
            end != portText.data() + portText.size() || port < 1 || port > 65535) {
            continue;
        }
        replica.port = port;
        replicas.push_back(std::move(replica));
    }
    return replicas;
}

ShareConnectOutcome askSentinelReplicas(const ShareEndpoint& config, std::size_t index,
                                        std::vector<SentinelReplica>& replicas,
                                        std::string& error) {
    replicas.clear();
    RedisLink link;
    ShareConnectOutcome outcome =
        link.connect(sentinelEndpoint(config, index), kShareSentinelTimeout, error);
    if (outcome != ShareConnectOutcome::Connected) {
        return outcome;
    }
    RedisReply reply = link.command({"SENTINEL", "REPLICAS", config.masterName}, error);
    if (!reply) {
        return ShareConnectOutcome::Unreachable;
    }
    if (reply->type == REDIS_REPLY_ERROR) {
        error.assign(reply->str, std::min<std::size_t>(reply->len, 200));
        return ShareConnectOutcome::Refused;
    }
    if (reply->type != REDIS_REPLY_ARRAY) {
        error = "SENTINEL REPLICAS: unexpected reply";
        return ShareConnectOutcome::Unreachable;
    }
    replicas = parseSentinelReplicas(reply.get());
    return ShareConnectOutcome::Connected;
}

ShareConnectOutcome connectToNamedPrimary(RedisLink& link, const ShareEndpoint& config,
                                          const SentinelPoll& poll,
                                          std::chrono::milliseconds ioTimeout,
                                          ShareEndpoint& primary, std::string& error,
                                          bool& failingOver) {
    link.close();
    failingOver = false;
    std::string reasons = poll.reasons;
    std::string refusal = poll.refusal;
    ShareConnectOutcome refusalOutcome = poll.refusalOutcome;
    // The address most of them named first, then the others.
    for (std::size_t at : rankSentinelAnswers(poll.answers)) {
        const SentinelAnswer& answer = poll.answers[at];
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
        reasons += (reasons.empty() ? "" : "; ") +
                   sentinelName(config.sentinels[poll.answeredBy[at]]) + ": named " + answer.host +
                   ":" + std::to_string(answer.port) + ": " + reason;
    }
    if (!refusal.empty()) {
        error = refusal;
        return refusalOutcome;
    }
    error = "no sentinel named a reachable primary " + config.masterName + " (" + reasons + ")";
    return ShareConnectOutcome::Unreachable;
}

ShareConnectOutcome connectThroughSentinels(RedisLink& link, const ShareEndpoint& config,
                                            std::chrono::milliseconds ioTimeout,
                                            ShareEndpoint& primary, std::string& error,
                                            bool& failingOver) {
    link.close();
    SentinelPoll poll = pollSentinels(config);
    ShareConnectOutcome outcome =
        connectToNamedPrimary(link, config, poll, ioTimeout, primary, error, failingOver);
    for (SentinelAnswer& answer : poll.answers) {
        wipeShareCredentials(answer.endpoint);
    }
    return outcome;
}
