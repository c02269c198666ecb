#include "tests/support/redisServer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/localPort.h"

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

RedisServer::RedisServer() {
    char pattern[] = "/tmp/lc-redis-XXXXXX";
    if (char* dir = mkdtemp(pattern)) {
        directory_ = dir;
    }
}

RedisServer::~RedisServer() {
    stop();
    std::error_code ignored;
    if (!directory_.empty()) {
        std::filesystem::remove_all(directory_, ignored);
    }
}

bool RedisServer::start() {
    std::string socket = socketPath();
    std::string log = directory_ + "/redis.log";
    std::string port = std::to_string(port_);
    pid_ = fork();
    if (pid_ == 0) {
        execlp("redis-server", "redis-server", "--port", port.c_str(), "--bind", "127.0.0.1",
               "--unixsocket", socket.c_str(), "--unixsocketperm", "700", "--save", "",
               "--appendonly", "no", "--dir", directory_.c_str(), "--logfile", log.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    // Ready when it answers; it may also end at once (no binary, socket taken).
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
        if (Reply pong = command({"PING"}); pong && pong->type == REDIS_REPLY_STATUS) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    ADD_FAILURE() << "redis-server did not answer on " << socket;
    return false;
}

void RedisServer::alsoListenOnTcp() {
    // Another process may take the port before the server binds, which
    // start() then reports.
    port_ = freeLocalPort();
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

}  // namespace lctest
