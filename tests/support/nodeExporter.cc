#include "tests/support/nodeExporter.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/support/childProcess.h"
#include "tests/support/localPort.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

using namespace std::chrono_literals;

constexpr const char kExporter[] = "prometheus-node-exporter";

int connectLoopback(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

NodeExporter::NodeExporter(const std::string& workDirectory)
    : textfileDirectory_(workDirectory + "/textfile"),
      logPath_(workDirectory + "/node-exporter.log") {
    mkdir(textfileDirectory_.c_str(), 0755);
}

NodeExporter::~NodeExporter() {
    stop();
}

bool NodeExporter::start() {
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = freeLocalPort();  // taken meanwhile: start() tries again
        std::string listen = "--web.listen-address=127.0.0.1:" + std::to_string(port_);
        std::string directory = "--collector.textfile.directory=" + textfileDirectory_;
        pid_ = fork();
        if (pid_ == 0) {
            int log = openForAppend(logPath_);
            attachStandardStreams(log, log);
            execlp(kExporter, kExporter, listen.c_str(), "--collector.disable-defaults",
                   "--collector.textfile", directory.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        bool exited = false;
        bool listening = waitUntil(
            [&] {
                int status = 0;
                if (waitpid(pid_, &status, WNOHANG) == pid_) {
                    exited = true;
                    return true;
                }
                int fd = connectLoopback(port_);
                if (fd < 0) {
                    return false;
                }
                close(fd);
                return true;
            },
            20s);
        if (exited) {
            pid_ = -1;  // the port was taken after all, or there is no exporter
            continue;
        }
        if (listening) {
            return true;
        }
        stop();
        break;
    }
    ADD_FAILURE() << kExporter << " did not listen; its log:\n" << log();
    return false;
}

void NodeExporter::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }
}

std::string NodeExporter::scrape() const {
    int fd = connectLoopback(port_);
    if (fd < 0) {
        return {};
    }
    const std::string request =
        "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\nAccept: text/plain\r\n\r\n";
    std::string response;
    if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        char buffer[8192];
        ssize_t count;
        // HTTP/1.0: the exporter closes the connection after the body.
        while ((count = read(fd, buffer, sizeof buffer)) > 0) {
            response.append(buffer, static_cast<size_t>(count));
        }
    }
    close(fd);
    size_t body = response.find("\r\n\r\n");
    if (response.rfind("HTTP/1.0 200", 0) != 0 && response.rfind("HTTP/1.1 200", 0) != 0) {
        return {};
    }
    return body == std::string::npos ? std::string() : response.substr(body + 4);
}

std::string NodeExporter::log() const {
    std::ifstream in(logPath_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace lctest
