// A real prometheus-node-exporter for a test: on a free 127.0.0.1 port with
// only its textfile collector, reading one directory; its log kept in a file
// and the process stopped by pid.
#pragma once

#include <sys/types.h>

#include <string>

namespace lctest {

class NodeExporter {
  public:
    // Makes `workDirectory`/textfile, where the collector looks for *.prom
    // files; the exporter's log goes beside it.
    explicit NodeExporter(const std::string& workDirectory);
    ~NodeExporter();
    NodeExporter(const NodeExporter&) = delete;
    NodeExporter& operator=(const NodeExporter&) = delete;

    // Starts the exporter and returns once its port takes connections; false
    // (with a test failure) when it does not.
    bool start();
    void stop();

    // One GET /metrics: the body, or an empty string when the answer was not
    // a 200.
    std::string scrape() const;
    // Everything the exporter has logged so far.
    std::string log() const;

    const std::string& textfileDirectory() const { return textfileDirectory_; }
    int port() const { return port_; }

  private:
    std::string textfileDirectory_;
    std::string logPath_;
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace lctest
