#include "tests/support/redisServer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/childProcess.h"
#include "tests/support/localPort.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

using namespace std::chrono_literals;

redisContext* connectTo(const std::string& path) {
    redisContext* context = redisConnectUnix(path.c_str());
    if (context != nullptr && context->err != 0) {
        redisFree(context);
        return nullptr;
    }
    return context;
}

}  // namespace

RedisServer::RedisServer() = default;

RedisServer::~RedisServer() {
    stop();
}

bool RedisServer::start() {
    std::string socket = socketPath();
    std::string log = directory() + "/redis.log";
    std::string port = std::to_string(port_);
    std::vector<std::string> args = {"redis-server", "--port", port, "--bind", "127.0.0.1"};
    args.insert(args.end(), {"--unixsocket", socket, "--unixsocketperm", "700", "--save", "",
                             "--appendonly", "no", "--dir", directory(), "--logfile", log});
    args.insert(args.end(), tlsArgs_.begin(), tlsArgs_.end());
    std::vector<char*> argv = pointersTo(args);
    pid_ = fork();
    if (pid_ == 0) {
        execvp("redis-server", argv.data());
        _exit(127);
    }
    // Ready when it answers; it may also end at once (no binary, socket taken).
    bool ended = false;
    bool ready = waitUntil(
        [&] {
            int status = 0;
            ended = pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_;
            Reply pong = ended ? nullptr : command({"PING"});
            return ended || (pong && pong->type == REDIS_REPLY_STATUS);
        },
        10s, 10ms);
    if (ended) {
        pid_ = -1;
    } else if (ready) {
        return true;
    }
    ADD_FAILURE() << "redis-server did not answer on " << socket;
    return false;
}

void RedisServer::alsoListenOnTcp() {
    // Another process may take the port before the server binds, which
    // start() then reports.
    port_ = freeLocalPort();
}

void RedisServer::serveTls(const std::string& cert, const std::string& key, const std::string& ca,
                           bool authClients) {
    tlsPort_ = freeLocalPort();
    tlsArgs_ = {"--tls-port",         std::to_string(tlsPort_),
                "--tls-cert-file",    cert,
                "--tls-key-file",     key,
                "--tls-ca-cert-file", ca,
                "--tls-auth-clients", authClients ? "yes" : "no"};
}

std::string RedisServer::tcpEndpoint(const std::string& user, const std::string& password,
                                     int db) const {
    return "redis://" + user + ":" + password + "@127.0.0.1:" + std::to_string(port_) + "/" +
           std::to_string(db);
}

void RedisServer::stop() {
    if (connection_ != nullptr) {
        redisFree(connection_);
        connection_ = nullptr;
    }
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }
}

Reply RedisServer::command(const std::vector<std::string>& args) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (connection_ == nullptr) {
            connection_ = connectTo(socketPath());
            if (connection_ == nullptr) {
                return nullptr;
            }
        }
        std::vector<const char*> argv;
        std::vector<size_t> lengths;
        for (const std::string& arg : args) {
            argv.push_back(arg.data());
            lengths.push_back(arg.size());
        }
        void* reply = redisCommandArgv(connection_, static_cast<int>(args.size()), argv.data(),
                                       lengths.data());
        if (reply != nullptr) {
            return Reply(static_cast<redisReply*>(reply));
        }
        // The server was restarted under us: one new connection.
        redisFree(connection_);
        connection_ = nullptr;
    }
    return nullptr;
}

Reply commandAt(int port, const std::vector<std::string>& auth,
                const std::vector<std::string>& args) {
    timeval timeout{1, 0};
    redisContext* context = redisConnectWithTimeout("127.0.0.1", port, timeout);
    if (context == nullptr || context->err != 0) {
        if (context != nullptr) {
            redisFree(context);
        }
        return nullptr;
    }
    redisSetTimeout(context, timeval{5, 0});
    Reply reply;
    for (const auto* command : {&auth, &args}) {
        if (command->empty()) {
            continue;
        }
        std::vector<const char*> argv;
        std::vector<size_t> lengths;
        for (const std::string& arg : *command) {
            argv.push_back(arg.data());
            lengths.push_back(arg.size());
        }
        reply = Reply(static_cast<redisReply*>(
            redisCommandArgv(context, static_cast<int>(argv.size()), argv.data(), lengths.data())));
        if (!reply) {
            break;
        }
    }
    redisFree(context);
    return reply;
}

}  // namespace lctest
