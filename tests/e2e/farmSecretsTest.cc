// The monitor process lives as long as the worker but has no use for the
// farm secret: it does not stay in its memory. (The Redis password of a
// redis:// endpoint stands in the environment of every process, which
// /proc shows to the same user alone.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "tests/support/farmCookies.h"
#include "tests/support/serviceProcess.h"

namespace lctest {
namespace {

// Whether `needle` stands anywhere in the readable memory of `pid`.
bool memoryHolds(pid_t pid, const std::string& needle) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    int mem = open(("/proc/" + std::to_string(pid) + "/mem").c_str(), O_RDONLY);
    if (mem < 0) {
        ADD_FAILURE() << "cannot open the memory of " << pid;
        return false;
    }
    bool found = false;
    std::string line;
    while (!found && std::getline(maps, line)) {
        unsigned long start = 0;
        unsigned long end = 0;
        char permissions[5] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &start, &end, permissions) != 3 ||
            permissions[0] != 'r' || line.find("[vvar]") != std::string::npos ||
            line.find("[vsyscall]") != std::string::npos) {
            continue;
        }
        std::string bytes(end - start, '\0');
        ssize_t got = pread(mem, bytes.data(), bytes.size(), static_cast<off_t>(start));
        found =
            got > 0 && std::string_view(bytes.data(), static_cast<std::size_t>(got)).find(needle) !=
                           std::string_view::npos;
    }
    close(mem);
    return found;
}

TEST(FarmSecrets, MonitorDoesNotHoldTheFarmSecret) {
    ServiceProcess service;
    std::string secret = writeSecretFile(service.installPath(), kFarmSecret, 0600);
    // Nothing listens there: Redis being away changes nothing here.
    ASSERT_TRUE(service.start(
        {{"VOKLOGOFFSHARE", "redis://127.0.0.1:1/0"}, {"VOKLOGOFFSHAREKEY", secret}}));
    pid_t monitor = service.monitorPid();
    // The scan finds what is there: the install path is in the environment.
    EXPECT_TRUE(memoryHolds(monitor, service.installPath()));
    EXPECT_FALSE(memoryHolds(monitor, kFarmSecret));
}

}  // namespace
}  // namespace lctest
