#include "tests/support/sentinelSet.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/childProcess.h"
#include "tests/support/localPort.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

using namespace std::chrono_literals;

std::string textOf(const redisReply* reply) {
    return reply != nullptr &&
                   (reply->type == REDIS_REPLY_STRING || reply->type == REDIS_REPLY_STATUS)
               ? std::string(reply->str, reply->len)
               : std::string();
}

// The pid a server at `port` reports, or -1: tells our server from another
// test's that took the port first.
pid_t serverPid(int port, const std::vector<std::string>& auth) {
    Reply info = commandAt(port, auth, {"INFO", "server"});
    std::string text = textOf(info.get());
    std::size_t at = text.find("process_id:");
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 11);
}

// Waits until `ready(i)` holds for every i from `first` to before `end` in
// one poll: what several servers must agree on.
template <class Ready>
bool waitUntilEach(int first, int end, Ready ready, std::chrono::milliseconds limit,
                   std::chrono::milliseconds every) {
    return waitUntil(
        [&] {
            for (int i = first; i < end; ++i) {
                if (!ready(i)) {
                    return false;
                }
            }
            return true;
        },
        limit, every);
}

}  // namespace

SentinelSet::SentinelSet(SentinelSetOptions options) : options_(std::move(options)) {}

SentinelSet::~SentinelSet() {
    for (Process& sentinel : sentinels_) {
        stopProcess(sentinel, SIGKILL);
    }
    for (Process& node : nodes_) {
        stopProcess(node, SIGKILL);
    }
}

bool SentinelSet::launch(Process& process, const std::vector<std::string>& args, bool sentinel) {
    const std::vector<std::string>& auth = sentinel ? sentinelAuth_ : nodeAuth_;
    for (int attempt = 0; attempt < 10; ++attempt) {
        process.port = freeLocalPort();
        std::vector<std::string> all = {"redis-server"};
        all.insert(all.end(), args.begin(), args.end());
        all.insert(all.end(), {"--port", std::to_string(process.port)});
        if (!options_.tlsCert.empty()) {
            process.tlsPort = freeLocalPort();
            all.insert(all.end(),
                       {"--tls-port", std::to_string(process.tlsPort), "--tls-cert-file",
                        options_.tlsCert, "--tls-key-file", options_.tlsKey, "--tls-ca-cert-file",
                        options_.tlsCa, "--tls-auth-clients", "no", "--tls-replication", "yes"});
        }
        process.pid = startQuietly(all);
        bool ended = false;
        bool ready = waitUntil(
            [&] {
                int status = 0;
                ended = waitpid(process.pid, &status, WNOHANG) == process.pid;
                return ended || serverPid(process.port, auth) == process.pid;
            },
            10s, 10ms);
        if (ready && !ended) {
            return true;
        }
        if (!ended) {
            stopProcess(process, SIGKILL);
        }
        process.pid = -1;  // the port was taken, most likely: another one
    }
    ADD_FAILURE() << "redis-server did not start; logs in " << directory();
    return false;
}

bool SentinelSet::startNode(int node, int primaryPort) {
    std::string dir = directory() + "/node" + std::to_string(node);
    std::filesystem::create_directories(dir);
    std::vector<std::string> args = {"--bind", "127.0.0.1", "--save", "", "--appendonly", "no",
                                     "--dir", dir, "--logfile", dir + "/redis.log",
                                     // A replica in sync at once, not after a pause of 5 s.
                                     "--repl-diskless-sync-delay", "0"};
    for (const std::string& line : options_.nodeConfig) {
        std::size_t space = line.find(' ');
        args.push_back("--" + line.substr(0, space));
        if (space != std::string::npos) {
            args.push_back(line.substr(space + 1));
        }
    }
    if (primaryPort != 0) {
        args.insert(args.end(), {"--replicaof", "127.0.0.1", std::to_string(primaryPort)});
    }
    return launch(nodes_[node], args, false);
}

bool SentinelSet::startSentinel(int sentinel) {
    std::string dir = directory() + "/sentinel" + std::to_string(sentinel);
    std::filesystem::create_directories(dir);
    std::string conf = dir + "/sentinel.conf";
    {
        // Sentinel rewrites its configuration as it learns: a file of its own.
        std::ofstream out(conf);
        out << "bind 127.0.0.1\n"
            << "dir " << dir << "\n"
            << "logfile " << dir << "/sentinel.log\n";
        out << "sentinel monitor " << kMasterName << " 127.0.0.1 " << nodes_[0].announced()
            << " 2\n"
            << "sentinel down-after-milliseconds " << kMasterName << " 1000\n"
            << "sentinel failover-timeout " << kMasterName << " 2000\n"
            << "sentinel parallel-syncs " << kMasterName << " 1\n";
        for (const std::string& line : options_.sentinelConfig) {
            out << line << "\n";
        }
    }
    return launch(sentinels_[sentinel], {conf, "--sentinel"}, true);
}

bool SentinelSet::start() {
    if (options_.replicas < 1 || nodeCount() > kMostNodes) {
        ADD_FAILURE() << "a sentinel set has 1 to " << kMostNodes - 1 << " replicas";
        return false;
    }
    if (!startNode(0, 0)) {
        return false;
    }
    for (int node = 1; node < nodeCount(); ++node) {
        if (!startNode(node, nodes_[0].announced())) {
            return false;
        }
    }
    bool synced = waitUntilEach(
        1, nodeCount(),
        [&](int node) {
            std::string info = textOf(nodeCommand(node, {"INFO", "replication"}).get());
            return info.find("master_link_status:up") != std::string::npos;
        },
        20s, 20ms);
    if (!synced) {
        ADD_FAILURE() << "the replica did not sync; logs in " << directory();
        return false;
    }
    for (int i = 0; i < kSentinels; ++i) {
        if (!startSentinel(i)) {
            return false;
        }
    }
    // Sentinels find the replica through the primary and each other through
    // its hello channel, every few seconds.
    bool acquainted = waitUntilEach(
        0, kSentinels,
        [&](int i) {
            Reply others = sentinelCommand(i, {"SENTINEL", "sentinels", kMasterName});
            Reply replicas = sentinelCommand(i, {"SENTINEL", "replicas", kMasterName});
            return others && others->type == REDIS_REPLY_ARRAY &&
                   others->elements == kSentinels - 1 && replicas &&
                   replicas->type == REDIS_REPLY_ARRAY &&
                   replicas->elements == static_cast<size_t>(options_.replicas);
        },
        30s, 50ms);
    if (!acquainted) {
        ADD_FAILURE() << "the sentinels did not find each other; logs in " << directory();
    }
    return acquainted;
}

std::string SentinelSet::endpoint(const std::string& query) const {
    std::string text = options_.tlsCert.empty() ? "sentinel://" : "sentinels://";
    for (int i = 0; i < kSentinels; ++i) {
        text += (i == 0 ? "127.0.0.1:" : ",127.0.0.1:") + std::to_string(sentinels_[i].announced());
    }
    return text + "/" + kMasterName + query;
}

Reply SentinelSet::nodeCommand(int node, const std::vector<std::string>& args) const {
    const Process& process = nodes_[node];
    return process.pid > 0 && !process.paused ? commandAt(process.port, nodeAuth_, args) : nullptr;
}

Reply SentinelSet::sentinelCommand(int sentinel, const std::vector<std::string>& args) const {
    const Process& process = sentinels_[sentinel];
    return process.pid > 0 && !process.paused ? commandAt(process.port, sentinelAuth_, args)
                                              : nullptr;
}

void SentinelSet::pause(Process& process, bool paused) {
    if (process.pid > 0 && process.paused != paused) {
        kill(process.pid, paused ? SIGSTOP : SIGCONT);
        process.paused = paused;
    }
}

void SentinelSet::stopProcess(Process& process, int signal) {
    if (process.pid > 0) {
        kill(process.pid, signal);
        // A paused process takes any signal but SIGKILL only once resumed.
        pause(process, false);
        int status = 0;
        waitpid(process.pid, &status, 0);
        process.pid = -1;
    }
}

void SentinelSet::killNode(int node) {
    stopProcess(nodes_[node], SIGKILL);
}

bool SentinelSet::restartNodeAsReplicaOf(int node, int primary) {
    return startNode(node, nodes_[primary].announced());
}

void SentinelSet::stopSentinel(int sentinel) {
    stopProcess(sentinels_[sentinel], SIGTERM);
}

int SentinelSet::primaryBySentinels() const {
    int named = -1;
    for (int i = 0; i < kSentinels; ++i) {
        Reply address = sentinelCommand(i, {"SENTINEL", "get-master-addr-by-name", kMasterName});
        if (!address) {
            continue;  // stopped
        }
        if (address->type != REDIS_REPLY_ARRAY || address->elements != 2) {
            return -1;
        }
        int port = std::atoi(textOf(address->element[1]).c_str());
        int node = -1;
        for (int i = 0; i < nodeCount(); ++i) {
            node = nodes_[i].announced() == port ? i : node;
        }
        if (node < 0 || (named >= 0 && node != named)) {
            return -1;
        }
        named = node;
    }
    return named;
}

bool SentinelSet::waitForPrimary(int node, std::chrono::milliseconds limit) const {
    return waitUntil(
        [&] {
            if (primaryBySentinels() != node) {
                return false;
            }
            Reply role = nodeCommand(node, {"ROLE"});
            return role && role->type == REDIS_REPLY_ARRAY && role->elements > 0 &&
                   textOf(role->element[0]) == "master";
        },
        limit, 20ms);
}

bool SentinelSet::waitForReplica(int node, std::chrono::milliseconds limit) const {
    std::string address = "127.0.0.1:" + std::to_string(nodes_[node].announced());
    auto healthyIn = [&](const redisReply* replicas) {
        // Each replica is a flat list of names and values.
        for (size_t i = 0; replicas != nullptr && i < replicas->elements; ++i) {
            const redisReply* fields = replicas->element[i];
            std::string name;
            std::string flags;
            for (size_t f = 0; f + 1 < fields->elements; f += 2) {
                std::string key = textOf(fields->element[f]);
                if (key == "name") {
                    name = textOf(fields->element[f + 1]);
                } else if (key == "flags") {
                    flags = textOf(fields->element[f + 1]);
                }
            }
            if (name == address) {
                return flags == "slave";
            }
        }
        return false;
    };
    return waitUntil(
        [&] {
            std::string info = textOf(nodeCommand(node, {"INFO", "replication"}).get());
            if (info.find("master_link_status:up") == std::string::npos) {
                return false;
            }
            for (int i = 0; i < kSentinels; ++i) {
                if (sentinels_[i].pid <= 0) {
                    continue;
                }
                Reply replicas = sentinelCommand(i, {"SENTINEL", "replicas", kMasterName});
                if (!replicas || !healthyIn(replicas.get())) {
                    return false;
                }
            }
            return true;
        },
        limit, 50ms);
}

}  // namespace lctest
