#include "share/readEndpoints.h"

#include <algorithm>
#include <cstdint>
#include <random>

#include "diag/traceLog.h"
#include "share/shareNotice.h"

namespace {

// FNV-1a, then a finalizer that spreads its bits: the same on every build and
// machine, so a host's preference does not change with an upgrade.
std::uint64_t weightOf(const std::string& hostName, const std::string& address) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    auto mix = [&](std::string_view text) {
        for (unsigned char c : text) {
            hash = (hash ^ c) * 0x100000001b3ULL;
        }
    };
    mix(hostName);
    mix(std::string_view("\n", 1));
    mix(address);
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdULL;
    hash ^= hash >> 33;
    hash *= 0xc4ceb9fe1a85ec53ULL;
    hash ^= hash >> 33;
    return hash;
}

// What keeps a replica from being read that an operator must mend (a
// refusal, TLS): said once a minute for each replica and reason. A replica
// down or behind is the sentinels' to report: traced only.
void passedOver(const std::string& address, const std::string& why, bool toMend) {
    TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- receiver: replica %s passed over: %s.",
              address.c_str(), why.c_str());
    if (toMend) {
        shareNotice("replica " + address + " " + why.substr(0, 40),
                    "logoffCookieShare -- The replica " + address + " cannot be read (" + why +
                        "); reading from another node meanwhile.");
    }
}

}  // namespace

std::string addressOf(const ShareEndpoint& node) {
    ReadAddress address;
    address.unixSocket = node.unixSocket;
    address.path = node.path;
    address.host = node.host;
    address.port = node.port;
    return address.text();
}

std::vector<std::size_t> readPreference(const std::string& hostName,
                                        const std::vector<std::string>& addresses) {
    std::vector<std::size_t> order(addresses.size());
    std::vector<std::uint64_t> weights(addresses.size());
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        order[i] = i;
        weights[i] = weightOf(hostName, addresses[i]);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return weights[a] > weights[b]; });
    return order;
}

bool replicaFitToRead(const RedisInstance& instance, std::string& why) {
    if (!instance.replica()) {
        why = instance.role.empty() ? "its role is not known"
                                    : "it is no longer a replica but a " + instance.role;
        return false;
    }
    if (!instance.linkUp) {
        why = "its link to the primary is down";
        return false;
    }
    if (instance.lastIoSeconds < 0 || instance.lastIoSeconds > kShareReplicaSilenceLimitSeconds) {
        why = "it has not heard from the primary for " +
              (instance.lastIoSeconds < 0 ? std::string("a time unknown")
                                          : std::to_string(instance.lastIoSeconds) + " s");
        return false;
    }
    return true;
}

bool instanceCounts(const RedisInstance& instance) {
    return instance.known() && (!instance.replica() || instance.linkUp);
}

bool instanceCallsForRewind(const ReadInstance& before, const ReadInstance& now, std::string& why) {
    const RedisInstance& was = before.instance;
    const RedisInstance& is = now.instance;
    if (!was.replicationId.empty() && !is.replicationId.empty()) {
        if (was.replicationId != is.replicationId) {
            why = "another replication id";
            return true;
        }
        // One history. Only a primary restarted in place, its replication
        // id taken back from its data file, may have lost its last moments.
        if (now.address == before.address && !is.replica() && is.runId != was.runId) {
            why = "another run_id";
            return true;
        }
        return false;
    }
    // Without the replication ids, any other process is another history.
    if (is.runId != was.runId) {
        why = "another run_id";
        return true;
    }
    return false;
}

ReadEndpoints::ReadEndpoints(std::string hostName) : hostName_(std::move(hostName)) {}

void ReadEndpoints::scheduleReview() {
    thread_local std::minstd_rand random{std::random_device{}()};
    auto period = std::chrono::duration_cast<std::chrono::milliseconds>(kShareReadReviewEvery);
    std::uniform_int_distribution<long long> spread(period.count() * 3 / 4, period.count() * 5 / 4);
    nextReview_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(spread(random));
}

std::vector<ReadEndpoints::Candidate> ReadEndpoints::ordered(
    std::vector<Candidate> candidates) const {
    std::vector<std::string> addresses;
    for (const Candidate& candidate : candidates) {
        addresses.push_back(candidate.address);
    }
    std::vector<Candidate> order;
    for (std::size_t at : readPreference(hostName_, addresses)) {
        order.push_back(std::move(candidates[at]));
    }
    return order;
}

std::vector<ReadEndpoints::Candidate> ReadEndpoints::listed(const ShareEndpoint& config) const {
    std::vector<Candidate> candidates;
    for (const ReadAddress& address : config.replicas) {
        Candidate candidate{config, address.text()};
        candidate.endpoint.replicas.clear();
        candidate.endpoint.unixSocket = address.unixSocket;
        candidate.endpoint.path = address.path;
        candidate.endpoint.host = address.host;
        candidate.endpoint.port = address.port;
        candidates.push_back(std::move(candidate));
    }
    return ordered(std::move(candidates));
}

std::vector<ReadEndpoints::Candidate> ReadEndpoints::fromSentinels(
    const ShareEndpoint& config, const std::vector<SentinelReplica>& replicas,
    const std::string& primaryAddress) const {
    std::vector<Candidate> candidates;
    for (const SentinelReplica& replica : replicas) {
        Candidate candidate{dataNodeOf(config, replica.host, replica.port), ""};
        candidate.address = addressOf(candidate.endpoint);
        // The node the sentinels name as the primary, listed as a replica
        // still in the middle of a failover, is no replica.
        if (!replica.healthy() || candidate.address == primaryAddress) {
            TRACE_LOG(TRACE_DETAIL,
                      "logoffCookieShare -- receiver: replica %s passed over: the sentinels flag "
                      "it %s, its link %s.",
                      candidate.address.c_str(), replica.flags.c_str(), replica.linkStatus.c_str());
            continue;
        }
        candidates.push_back(std::move(candidate));
    }
    return ordered(std::move(candidates));
}

bool ReadEndpoints::askReplicas(const ShareEndpoint& config, const std::vector<std::size_t>& order,
                                std::vector<SentinelReplica>& replicas) {
    for (std::size_t sentinel : order) {
        std::string error;
        switch (askSentinelReplicas(config, sentinel, replicas, error)) {
            case ShareConnectOutcome::Connected:
                answeredBy_ = sentinel;
                return true;
            case ShareConnectOutcome::Refused:
                // A sentinel user set up before reads went to replicas.
                shareNotice(
                    "sentinel-replicas",
                    "logoffCookieShare -- The sentinels refuse to list the replicas (" + error +
                        "): grant the hosts' sentinel user +sentinel|replicas, or set "
                        "VOKLOGOFFSHAREREADFROM=primary; reading from the primary meanwhile.");
                return false;
            case ShareConnectOutcome::TlsRefused:
            case ShareConnectOutcome::Unreachable:
                TRACE_LOG(TRACE_DETAIL,
                          "logoffCookieShare -- receiver: no list of replicas from sentinel %zu: "
                          "%s",
                          sentinel + 1, error.c_str());
                break;
        }
    }
    return false;
}

bool ReadEndpoints::fitToRead(RedisLink& link, const Candidate& candidate,
                              std::chrono::milliseconds ioTimeout) {
    std::string error;
    ShareConnectOutcome outcome = link.connect(candidate.endpoint, ioTimeout, error);
    if (outcome != ShareConnectOutcome::Connected) {
        passedOver(candidate.address, error, outcome != ShareConnectOutcome::Unreachable);
        return false;
    }
    RedisInstance instance;
    FactsOutcome asked = readInstance(link, instance, error);
    std::string why;
    if (asked != FactsOutcome::Answered) {
        passedOver(candidate.address,
                   asked == FactsOutcome::Refused
                       ? "INFO refused (" + error + "): grant the farm's user +info"
                       : error,
                   asked == FactsOutcome::Refused);
    } else if (!replicaFitToRead(instance, why)) {
        passedOver(candidate.address, why, false);
    } else {
        return true;
    }
    link.close();
    return false;
}

ShareConnectOutcome ReadEndpoints::connect(RedisLink& link, const ShareEndpoint& config,
                                           std::chrono::milliseconds ioTimeout, std::string& error,
                                           bool& failingOver) {
    link.close();
    failingOver = false;
    SentinelPoll poll;
    std::vector<Candidate> candidates;
    std::vector<SentinelReplica> replicas;
    if (config.viaSentinel()) {
        poll = pollSentinels(config);
        // The replicas of the primary most sentinels name, as those list them.
        if (!poll.answers.empty() &&
            askReplicas(config, sentinelsAgreeingFirst(config, poll), replicas)) {
            const SentinelAnswer& top = poll.answers[rankSentinelAnswers(poll.answers).front()];
            candidates = fromSentinels(config, replicas, addressOf(top.endpoint));
        }
    } else {
        candidates = listed(config);
    }
    bool onReplica = false;
    std::string address;
    for (Candidate& candidate : candidates) {
        if (!onReplica && fitToRead(link, candidate, ioTimeout)) {
            address = candidate.address;
            onReplica = true;
        }
        wipeShareCredentials(candidate.endpoint);
    }
    ShareConnectOutcome outcome = ShareConnectOutcome::Connected;
    if (onReplica) {
        // Read there.
    } else if (config.viaSentinel()) {
        ShareEndpoint primary;
        outcome = connectToNamedPrimary(link, config, poll, ioTimeout, primary, error, failingOver);
        address = addressOf(primary);
        wipeShareCredentials(primary);
        if (outcome == ShareConnectOutcome::Unreachable &&
            lastResort(link, config, replicas, ioTimeout, address)) {
            outcome = ShareConnectOutcome::Connected;
        }
    } else {
        outcome = link.connect(config, ioTimeout, error);
        address = addressOf(config);
    }
    for (SentinelAnswer& answer : poll.answers) {
        wipeShareCredentials(answer.endpoint);
    }
    if (outcome == ShareConnectOutcome::Connected) {
        spot_ = {address, onReplica};
        scheduleReview();
    }
    return outcome;
}

bool ReadEndpoints::lastResort(RedisLink& link, const ShareEndpoint& config,
                               const std::vector<SentinelReplica>& replicas,
                               std::chrono::milliseconds ioTimeout, std::string& address) {
    std::vector<Candidate> nodes;
    for (const SentinelReplica& replica : replicas) {
        Candidate node{dataNodeOf(config, replica.host, replica.port), ""};
        node.address = addressOf(node.endpoint);
        nodes.push_back(std::move(node));
    }
    bool found = false;
    for (Candidate& node : ordered(std::move(nodes))) {
        std::string error;
        RedisInstance instance;
        if (!found &&
            link.connect(node.endpoint, ioTimeout, error) == ShareConnectOutcome::Connected &&
            readInstance(link, instance, error) == FactsOutcome::Answered &&
            instance.role == "master") {
            TRACE_LOG(TRACE_DETAIL,
                      "logoffCookieShare -- receiver: the primary the sentinels name cannot be "
                      "reached; reading %s, which says it is a primary.",
                      node.address.c_str());
            address = node.address;
            found = true;
        } else if (!found) {
            link.close();
        }
        wipeShareCredentials(node.endpoint);
    }
    return found;
}

bool ReadEndpoints::betterElsewhere(const ShareEndpoint& config, std::string& why) {
    scheduleReview();
    std::vector<Candidate> candidates;
    if (config.viaSentinel()) {
        // One sentinel's word, from one picked at random: a review must cost
        // the sentinels little, and a wrong word costs one move.
        std::vector<std::size_t> order(config.sentinels.size());
        std::size_t start = std::random_device{}() % order.size();
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i] = (start + i) % order.size();
        }
        std::vector<SentinelReplica> replicas;
        if (!askReplicas(config, order, replicas)) {
            return false;
        }
        candidates = fromSentinels(config, replicas, spot_.replica ? "" : spot_.address);
        // Reading a node other than the primary the sentinels name (one
        // that said it was a primary when theirs could not be reached):
        // theirs, once it answers as one.
        ShareEndpoint named;
        std::string error;
        RedisLink probe;
        if (!spot_.replica &&
            askSentinel(config, answeredBy_, named, error) == ShareConnectOutcome::Connected &&
            addressOf(named) != spot_.address &&
            probe.connect(named, kShareSentinelTimeout, error) == ShareConnectOutcome::Connected &&
            reachedPrimary(probe, error) == ShareConnectOutcome::Connected) {
            why = "the sentinels name the primary " + addressOf(named);
            wipeShareCredentials(named);
            for (Candidate& candidate : candidates) {
                wipeShareCredentials(candidate.endpoint);
            }
            return true;
        }
        wipeShareCredentials(named);
        bool listedHealthy =
            std::any_of(candidates.begin(), candidates.end(),
                        [&](const Candidate& c) { return c.address == spot_.address; });
        if (spot_.replica && !listedHealthy) {
            why = "the sentinels no longer list it in good health";
            for (Candidate& candidate : candidates) {
                wipeShareCredentials(candidate.endpoint);
            }
            return true;
        }
    } else {
        candidates = listed(config);
    }
    bool better = false;
    for (const Candidate& candidate : candidates) {
        if (candidate.address == spot_.address) {
            break;  // those after the spot are no better
        }
        RedisLink probe;
        if (fitToRead(probe, candidate, kShareSentinelTimeout)) {
            why = "the replica " + candidate.address + " is fit to read" +
                  (spot_.replica ? " and comes first for this host" : "");
            better = true;
            break;
        }
    }
    for (Candidate& candidate : candidates) {
        wipeShareCredentials(candidate.endpoint);
    }
    return better;
}
