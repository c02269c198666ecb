// The Redis set-up that docs/sharing.md gives operators to copy: each of its
// configuration blocks, as it stands but for addresses, ports and where the
// files go, is given to a real redis-server (the sentinel's with
// --sentinel), which must start and let the documented users do what the
// page says they do.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <hiredis/hiredis.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "share/shareCredentials.h"
#include "tests/support/childProcess.h"
#include "tests/support/localPort.h"
#include "tests/support/redisServer.h"
#include "tests/support/scratchDirectory.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

using namespace std::chrono_literals;

// The page's ```text blocks, in order.
std::vector<std::string> textBlocks() {
    std::ifstream page(LC_SHARING_DOCUMENT);
    std::vector<std::string> blocks;
    std::string line;
    std::string block;
    bool inside = false;
    while (std::getline(page, line)) {
        if (!inside && line == "```text") {
            inside = true;
            block.clear();
        } else if (inside && line == "```") {
            inside = false;
            blocks.push_back(block);
        } else if (inside) {
            block += line + "\n";
        }
    }
    return blocks;
}

bool hasLine(const std::string& block, const std::string& start) {
    return block.rfind(start, 0) == 0 || block.find("\n" + start) != std::string::npos;
}

std::string textOf(const Reply& reply) {
    return reply && (reply->type == REDIS_REPLY_STRING || reply->type == REDIS_REPLY_STATUS ||
                     reply->type == REDIS_REPLY_ERROR)
               ? std::string(reply->str, reply->len)
               : std::string();
}

std::string readFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// One redis-server on a configuration file made from a block of the page.
class DocumentedServer {
  public:
    DocumentedServer(std::string name, bool sentinel)
        : name_(std::move(name)), sentinel_(sentinel) {}
    ~DocumentedServer() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    // Writes `block` with the page's addresses and ports replaced, and
    // `extra` lines after it, and starts the server on it. True once it
    // answers `probeAuth` (with a reply, an error one included).
    bool start(const ScratchDirectory& directory, const std::string& block,
               const std::string& extra, int primaryPort,
               const std::vector<std::string>& probeAuth) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            port_ = freeLocalPort();
            std::string text =
                std::regex_replace(block + extra, std::regex("10\\.0\\.0\\.1[123]"), "127.0.0.1");
            text = std::regex_replace(text, std::regex("\nport [0-9]+\n"),
                                      "\nport " + std::to_string(port_) + "\n");
            text = std::regex_replace(text, std::regex("127\\.0\\.0\\.1 6379"),
                                      "127.0.0.1 " + std::to_string(primaryPort));
            // A directory each: a replica's synchronisation writes files there.
            std::string own = directory.path() + "/" + name_;
            mkdir(own.c_str(), 0700);
            std::string conf = own + "/redis.conf";
            std::ofstream(conf) << text << "dir " << own << "\nlogfile " << own << "/redis.log\n";
            std::vector<std::string> args = {"redis-server", conf};
            if (sentinel_) {
                args.push_back("--sentinel");
            }
            pid_ = startQuietly(args);
            bool ended = false;
            bool ready = waitUntil(
                [&] {
                    ended = waitpid(pid_, nullptr, WNOHANG) == pid_;
                    return ended || commandAt(port_, probeAuth, {"PING"}) != nullptr;
                },
                10s, 10ms);
            if (ready && !ended) {
                return true;
            }
            if (!ended) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
            }
            pid_ = -1;  // the port was taken meanwhile, or the file refused
        }
        return false;
    }
    int port() const { return port_; }

  private:
    std::string name_;
    bool sentinel_;
    pid_t pid_ = -1;
    int port_ = 0;
};

TEST(DocumentedSetup, EveryConfigurationBlockStartsAndItsUsersDoWhatThePageSays) {
    std::vector<std::string> nodeBlocks;
    std::vector<std::string> sentinelBlocks;
    std::vector<std::string> credentialBlocks;
    for (const std::string& block : textBlocks()) {
        // The TLS section's blocks are lines added to these files, with
        // certificates of the reader's own; the TLS tests start such servers.
        if (hasLine(block, "tls-port ")) {
            continue;
        }
        if (hasLine(block, "port ")) {
            (hasLine(block, "sentinel monitor ") ? sentinelBlocks : nodeBlocks).push_back(block);
        } else if (hasLine(block, "sentinel ") && block.find(" -- ") == std::string::npos) {
            credentialBlocks.push_back(block);
        }
    }
    ASSERT_EQ(nodeBlocks.size(), 1u) << "the page's data node configuration";
    ASSERT_EQ(sentinelBlocks.size(), 1u) << "the page's sentinel configuration";
    ASSERT_FALSE(credentialBlocks.empty()) << "the page's credentials file";

    ScratchDirectory directory("lc-docs");
    const std::vector<std::string> hosts = {"AUTH", "voklogoff", "FARM_PASSWORD"};
    const std::vector<std::string> admin = {"AUTH", "voklogoff-admin", "ADMIN_PASSWORD"};
    DocumentedServer primary("primary", false);
    ASSERT_TRUE(primary.start(directory, nodeBlocks[0], "", 0, hosts)) << directory.path();
    DocumentedServer replica("replica", false);
    // As the page says the replica's file differs: it follows the primary.
    ASSERT_TRUE(replica.start(directory, nodeBlocks[0], "replicaof 127.0.0.1 6379\n",
                              primary.port(), hosts))
        << directory.path();
    DocumentedServer sentinel("sentinel", true);
    ASSERT_TRUE(sentinel.start(directory, sentinelBlocks[0], "", primary.port(), {"PING"}))
        << directory.path();

    // The hosts' user publishes and reads, but may not delete the stream...
    EXPECT_EQ(textOf(commandAt(primary.port(), hosts, {"PING"})), "PONG");
    // With min-replicas-to-write the primary takes a write only once the
    // replica follows it: NOREPLICAS until then.
    std::string added;
    EXPECT_TRUE(waitUntil(
        [&] {
            added = textOf(
                commandAt(primary.port(), hosts, {"XADD", "voklogoff:logoffs", "*", "f", "v"}));
            return !added.empty() && added.rfind("NOREPLICAS", 0) != 0;
        },
        20s))
        << added;
    EXPECT_EQ(added.find("ERR"), std::string::npos) << added;
    EXPECT_EQ(
        textOf(commandAt(primary.port(), hosts, {"DEL", "voklogoff:logoffs"})).rfind("NOPERM", 0),
        0u);
    // ...the replica follows with the replication user's password...
    EXPECT_TRUE(waitUntil(
        [&] {
            return textOf(commandAt(replica.port(), hosts, {"INFO", "replication"}))
                       .find("master_link_status:up") != std::string::npos;
        },
        20s))
        << readFile(directory.path() + "/replica/redis.log");
    // ...the sentinel names the primary to the hosts' sentinel user...
    EXPECT_TRUE(waitUntil(
        [&] {
            Reply named = commandAt(sentinel.port(), {"AUTH", "voklogoff", "WATCH_PASSWORD"},
                                    {"SENTINEL", "get-master-addr-by-name", "voklogoff"});
            return named && named->type == REDIS_REPLY_ARRAY && named->elements == 2 &&
                   std::string(named->element[1]->str) == std::to_string(primary.port());
        },
        20s));
    // ...and lists the replicas, where the hosts' user reads the stream.
    Reply replicas = commandAt(sentinel.port(), {"AUTH", "voklogoff", "WATCH_PASSWORD"},
                               {"SENTINEL", "REPLICAS", "voklogoff"});
    EXPECT_TRUE(replicas && replicas->type == REDIS_REPLY_ARRAY) << textOf(replicas);
    EXPECT_TRUE(waitUntil(
        [&] {
            Reply read = commandAt(replica.port(), hosts,
                                   {"XREAD", "COUNT", "1", "STREAMS", "voklogoff:logoffs", "0"});
            return read && read->type == REDIS_REPLY_ARRAY;
        },
        20s));
    // ...and the operator's user runs the commands the page prescribes.
    Reply length = commandAt(primary.port(), admin, {"XLEN", "voklogoff:logoffs"});
    ASSERT_TRUE(length && length->type == REDIS_REPLY_INTEGER) << textOf(length);
    EXPECT_EQ(length->integer, 1);
    Reply deleted = commandAt(primary.port(), admin, {"DEL", "voklogoff:logoffs"});
    ASSERT_TRUE(deleted && deleted->type == REDIS_REPLY_INTEGER) << textOf(deleted);
    EXPECT_EQ(deleted->integer, 1);

    // The credentials files the page shows are taken as it says.
    for (const std::string& block : credentialBlocks) {
        ShareCredentials credentials;
        std::string error;
        EXPECT_TRUE(parseShareCredentials(block, credentials, error)) << block << error;
    }
}

}  // namespace
}  // namespace lctest
