#include "service/singleInstance.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

const char checkserver[] =
    "grep VOKLogoffCookieService /proc/*/cmdline | sed 's/\\/cmdline.*\\/proc\\// /g' | sed "
    "'s/\\/cmdline.*/ /'  | sed 's/.*\\/proc\\// /' | sort -u";

namespace {

bool parsePid(const char* name, pid_t* pid) {
    if (*name == '\0') {
        return false;
    }
    long value = 0;
    for (const char* c = name; *c; ++c) {
        if (!std::isdigit(static_cast<unsigned char>(*c)) || value > 1'000'000'000) {
            return false;
        }
        value = value * 10 + (*c - '0');
    }
    *pid = static_cast<pid_t>(value);
    return value > 0;
}

// Reads the first argument only; that is all the check compares.
bool readFirstArgument(const char* procRoot, pid_t pid, char* buffer, size_t capacity,
                       size_t* length) {
    char path[256];
    std::snprintf(path, sizeof path, "%s/%d/cmdline", procRoot, static_cast<int>(pid));
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ssize_t count = read(fd, buffer, capacity);
    close(fd);
    if (count <= 0) {
        return false;
    }
    *length = static_cast<size_t>(count);
    return true;
}

bool statNamespace(const char* procRoot, const char* process, dev_t* device, ino_t* inode) {
    char path[256];
    std::snprintf(path, sizeof path, "%s/%s/ns/pid", procRoot, process);
    struct stat info {};
    if (stat(path, &info) != 0) {
        return false;
    }
    *device = info.st_dev;
    *inode = info.st_ino;
    return true;
}

// The real uid from the "Uid:" line of <proc>/<pid>/status.
bool readRealUid(const char* procRoot, pid_t pid, uid_t* uid) {
    char path[256];
    std::snprintf(path, sizeof path, "%s/%d/status", procRoot, static_cast<int>(pid));
    std::FILE* status = std::fopen(path, "re");
    if (status == nullptr) {
        return false;
    }
    char line[256];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status) != nullptr) {
        unsigned long value = 0;
        if (std::sscanf(line, "Uid: %lu", &value) == 1) {
            *uid = static_cast<uid_t>(value);
            found = true;
        }
    }
    std::fclose(status);
    return found;
}

bool ownedBy(const char* procRoot, pid_t pid, const InstanceOwner& owner) {
    uid_t uid = 0;
    if (!readRealUid(procRoot, pid, &uid) || uid != owner.uid) {
        return false;
    }
    if (!owner.namespaceKnown) {
        return true;
    }
    char process[32];
    std::snprintf(process, sizeof process, "%d", static_cast<int>(pid));
    dev_t device = 0;
    ino_t inode = 0;
    return statNamespace(procRoot, process, &device, &inode) && device == owner.namespaceDevice &&
           inode == owner.namespaceInode;
}

}  // namespace

InstanceOwner ownInstanceOwner(const char* procRoot) {
    InstanceOwner owner;
    owner.uid = getuid();
    owner.namespaceKnown =
        statNamespace(procRoot, "self", &owner.namespaceDevice, &owner.namespaceInode);
    return owner;
}

bool isServiceCommandLine(const char* cmdline, size_t length, const char* processName) {
    const char* end = static_cast<const char*>(std::memchr(cmdline, '\0', length));
    size_t argumentLength = end ? static_cast<size_t>(end - cmdline) : length;
    const char* base = cmdline;
    for (size_t i = 0; i < argumentLength; ++i) {
        if (cmdline[i] == '/') {
            base = cmdline + i + 1;
        }
    }
    size_t baseLength = argumentLength - static_cast<size_t>(base - cmdline);
    return baseLength == std::strlen(processName) &&
           std::memcmp(base, processName, baseLength) == 0;
}

pid_t findRunningInstance(const char* procRoot, const char* processName, pid_t self,
                          const InstanceOwner& owner) {
    DIR* dir = opendir(procRoot);
    if (dir == nullptr) {
        return kProcUnreadable;
    }
    std::vector<pid_t> pids;
    while (dirent* entry = readdir(dir)) {
        pid_t pid = 0;
        if (parsePid(entry->d_name, &pid) && pid != self) {
            pids.push_back(pid);
        }
    }
    closedir(dir);
    std::sort(pids.begin(), pids.end());

    char cmdline[4096];
    for (pid_t pid : pids) {
        size_t length = 0;
        if (readFirstArgument(procRoot, pid, cmdline, sizeof cmdline, &length) &&
            isServiceCommandLine(cmdline, length, processName) && ownedBy(procRoot, pid, owner)) {
            return pid;
        }
    }
    return kNoInstance;
}
