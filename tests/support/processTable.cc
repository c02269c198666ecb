#include "tests/support/processTable.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "tests/support/fileText.h"

namespace lctest {
namespace {

std::string procFile(pid_t pid, const char* name) {
    return readFile("/proc/" + std::to_string(pid) + "/" + name);
}

}  // namespace

std::vector<pid_t> allPids() {
    std::vector<pid_t> pids;
    if (DIR* dir = opendir("/proc")) {
        while (dirent* entry = readdir(dir)) {
            char* end = nullptr;
            long value = std::strtol(entry->d_name, &end, 10);
            if (*end == '\0' && value > 0) {
                pids.push_back(static_cast<pid_t>(value));
            }
        }
        closedir(dir);
    }
    return pids;
}

std::optional<pid_t> parentOf(pid_t pid) {
    std::string stat = procFile(pid, "stat");
    // The command name may hold anything; the fields follow its last ')'.
    size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    char state = 0;
    int parent = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) != 2 || state == 'Z') {
        return std::nullopt;
    }
    return parent;
}

bool isAlive(pid_t pid) {
    std::string stat = procFile(pid, "stat");
    size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z' &&
           stat[close + 2] != 'X';
}

std::string pidNamespaceOf(pid_t pid) {
    char target[256] = {};
    std::string link = "/proc/" + std::to_string(pid) + "/ns/pid";
    ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

bool isServiceProcess(pid_t pid) {
    return procFile(pid, "comm") == "VOKLogoffCookie\n" ||
           procFile(pid, "cmdline").find("VOKLogoffCookieService") != std::string::npos;
}

pid_t serviceWorkerUnder(pid_t first) {
    std::vector<pid_t> pids = allPids();
    auto serviceChildOf = [&](pid_t parent) -> pid_t {
        for (pid_t pid : pids) {
            if (parentOf(pid) == parent && isServiceProcess(pid)) {
                return pid;
            }
        }
        return -1;
    };
    pid_t monitor = serviceChildOf(first);
    pid_t worker = monitor > 0 ? serviceChildOf(monitor) : -1;
    // A service below the worker: `monitor` is the launcher still, `worker`
    // the monitor. The worker starts no service of its own.
    if (worker <= 0 || serviceChildOf(worker) > 0) {
        return -1;
    }
    return worker;
}

long processStatusKb(pid_t pid, const std::string& field) {
    std::string status = procFile(pid, "status");
    std::size_t at = status.find("\n" + field + ":");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + field.size() + 2);
}

}  // namespace lctest
