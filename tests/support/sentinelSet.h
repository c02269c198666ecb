// A farm's highly available Redis on this machine, as operators run it: a
// primary, a replica and three sentinels, each a real redis-server (the
// sentinels with --sentinel) on a 127.0.0.1 port picked free, with short
// down-after and failover timeouts so that a failover takes seconds. Every
// process is stopped by its pid.
#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "tests/support/scratchDirectory.h"

#include "tests/support/redisServer.h"

namespace lctest {

struct SentinelSetOptions {
    // Lines added to each data node's and each sentinel's configuration
    // (an ACL user, a password); the sentinels' come after their monitor
    // line, so they may name the primary ("sentinel auth-pass lcfarm ...").
    std::vector<std::string> nodeConfig;
    std::vector<std::string> sentinelConfig;
    // Set: every process serves TLS as well with this certificate and key
    // (trusting `tlsCa`), and the set's own traffic (replication, sentinels
    // among themselves and to the nodes) goes over TLS, so the sentinels
    // name the nodes' TLS ports. The test's own commands stay in clear.
    std::string tlsCert;
    std::string tlsKey;
    std::string tlsCa;
    // Replicas of node 0: nodes 1 up to SentinelSet::kMostNodes - 1.
    int replicas = 1;
};

class SentinelSet {
  public:
    static constexpr int kMostNodes = 3;
    static constexpr int kSentinels = 3;
    static constexpr const char* kMasterName = "lcfarm";

    explicit SentinelSet(SentinelSetOptions options = {});
    ~SentinelSet();  // stops every process, removes the directory
    SentinelSet(const SentinelSet&) = delete;
    SentinelSet& operator=(const SentinelSet&) = delete;

    // Node 0 as the primary, the others as its replicas in sync, then the
    // sentinels; true once each sentinel knows the replicas and the two other
    // sentinels, so that a failover can be agreed on. A test failure and
    // false otherwise.
    bool start();

    // VOKLOGOFFSHARE for the set, with `query` (such as "?db=1") appended:
    // sentinels:// to the sentinels' TLS ports with TLS set.
    std::string endpoint(const std::string& query = "") const;
    int nodePort(int node) const { return nodes_[node].port; }
    int sentinelPort(int sentinel) const { return sentinels_[sentinel].port; }
    const std::string& directory() const { return directory_.path(); }

    // One command on a new connection; nullptr when nothing answers.
    Reply nodeCommand(int node, const std::vector<std::string>& args) const;
    Reply sentinelCommand(int sentinel, const std::vector<std::string>& args) const;

    // SIGKILL to a data node, by pid, and waits for its end.
    void killNode(int node);
    // Starts a stopped data node again, empty, as a replica of `primary`.
    bool restartNodeAsReplicaOf(int node, int primary);
    // SIGTERM to a sentinel, by pid.
    void stopSentinel(int sentinel);
    // SIGSTOP to a data node or a sentinel, by pid: it neither answers nor
    // acts, as if cut off by a partition, until resumed (SIGCONT). The
    // test's own commands skip it meanwhile, as they skip a stopped one.
    void pauseNode(int node) { pause(nodes_[node], true); }
    void resumeNode(int node) { pause(nodes_[node], false); }
    void pauseSentinel(int sentinel) { pause(sentinels_[sentinel], true); }
    void resumeSentinel(int sentinel) { pause(sentinels_[sentinel], false); }

    // The node every live sentinel (neither stopped nor paused) names as the
    // primary, or -1 while they disagree or name neither node.
    int primaryBySentinels() const;
    // Until the sentinels name `node` and it says it is a primary.
    bool waitForPrimary(int node, std::chrono::milliseconds limit) const;
    // Until `node` is in sync with its primary and every live sentinel
    // counts it as a replica in good health, ready to be promoted.
    bool waitForReplica(int node, std::chrono::milliseconds limit) const;

    // The AUTH arguments of the test's own connections ("AUTH" first), when
    // the set was configured to need them; sent before every command.
    void setTestAuth(std::vector<std::string> nodeAuth, std::vector<std::string> sentinelAuth) {
        nodeAuth_ = std::move(nodeAuth);
        sentinelAuth_ = std::move(sentinelAuth);
    }

  private:
    struct Process {
        pid_t pid = -1;
        int port = 0;
        bool paused = false;
        int tlsPort = 0;  // 0: no TLS
        // Where the set's own traffic reaches it.
        int announced() const { return tlsPort != 0 ? tlsPort : port; }
    };
    void pause(Process& process, bool paused);

    bool startNode(int node, int primaryPort);
    bool startSentinel(int sentinel);
    // Runs redis-server with `args` on a free port until one is found that is
    // not taken; `args` get "--port N" added.
    bool launch(Process& process, const std::vector<std::string>& args, bool sentinel);
    void stopProcess(Process& process, int signal);

    SentinelSetOptions options_;
    ScratchDirectory directory_{"lc-sentinel"};
    int nodeCount() const { return 1 + options_.replicas; }

    std::array<Process, kMostNodes> nodes_{};
    std::array<Process, kSentinels> sentinels_{};
    std::vector<std::string> nodeAuth_;
    std::vector<std::string> sentinelAuth_;
};

}  // namespace lctest
