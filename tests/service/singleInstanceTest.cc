#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "service/listenSocket.h"
#include "service/singleInstance.h"

namespace {

constexpr const char* kName = "VOKLogoffCookieService";

bool matches(const std::string& cmdline) {
    return isServiceCommandLine(cmdline.data(), cmdline.size(), kName);
}

TEST(SingleInstance, CommandLineMatchesOnFirstArgumentsBaseNameOnly) {
    EXPECT_TRUE(matches(std::string("VOKLogoffCookieService\0", 23)));
    EXPECT_TRUE(matches(std::string("/opt/wa/bin/VOKLogoffCookieService\0", 35)));
    EXPECT_TRUE(matches("VOKLogoffCookieService"));  // no terminator
    EXPECT_FALSE(matches(std::string("grep\0VOKLogoffCookieService\0", 28)));
    EXPECT_FALSE(matches(std::string("/bin/VOKLogoffCookieServiceX\0", 29)));
    EXPECT_FALSE(matches(std::string("VOKLogoffCookieService/other\0", 29)));
    EXPECT_FALSE(matches(""));
}

TEST(SingleInstance, CheckTextIsTheOperatorsCommand) {
    EXPECT_EQ(std::string(checkserver).size(), 137u);
    EXPECT_EQ(std::string(checkserver).substr(0, 45),
              "grep VOKLogoffCookieService /proc/*/cmdline |");
}

// A /proc of our own making. Each process has a status file with its uid and
// an ns/pid hard link to one file per namespace, so stat shows the same inode
// for processes of one namespace, as the kernel's does.
class FakeProc : public ::testing::Test {
  protected:
    static constexpr uid_t kOwnUid = 1000;

    void SetUp() override {
        char pattern[] = "/tmp/lc-proc-XXXXXX";
        root_ = mkdtemp(pattern);
        std::filesystem::create_directory(root_ + "/namespaces");
        process("self", kOwnUid, "own", "");
        owner_.uid = kOwnUid;
        struct stat info {};
        ASSERT_EQ(stat((root_ + "/self/ns/pid").c_str(), &info), 0);
        owner_.namespaceKnown = true;
        owner_.namespaceDevice = info.st_dev;
        owner_.namespaceInode = info.st_ino;
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    void process(const std::string& pid, uid_t uid, const std::string& pidNamespace,
                 const std::string& cmdline) {
        std::string dir = root_ + "/" + pid;
        std::filesystem::create_directories(dir + "/ns");
        std::ofstream(dir + "/cmdline") << cmdline;
        std::ofstream(dir + "/status") << "Name:\tsleep\nUmask:\t0022\nUid:\t" << uid << "\t" << uid
                                       << "\t" << uid << "\t" << uid << "\nGid:\t0\n";
        std::string nsFile = root_ + "/namespaces/" + pidNamespace;
        if (!std::filesystem::exists(nsFile)) {
            std::ofstream(nsFile) << pidNamespace;
        }
        std::filesystem::create_hard_link(nsFile, dir + "/ns/pid");
    }
    void process(int pid, const std::string& cmdline) {
        process(std::to_string(pid), kOwnUid, "own", cmdline);
    }
    pid_t find(pid_t self) const { return findRunningInstance(root_.c_str(), kName, self, owner_); }

    std::string root_;
    InstanceOwner owner_;
};

TEST_F(FakeProc, LowestOtherInstanceIsFoundInNumericOrder) {
    process(900, std::string("/usr/sbin/VOKLogoffCookieService\0", 33));
    process(1000, std::string("bash\0", 5));
    process(95, std::string("VOKLogoffCookieService\0", 23));
    process(50, std::string("VOKLogoffCookieService\0", 23));
    EXPECT_EQ(find(50), 95);
    EXPECT_EQ(find(1), 50);
}

TEST_F(FakeProc, OwnProcessVanishedAndEmptyCommandLinesAreNotInstances) {
    process(10, std::string("VOKLogoffCookieService\0", 23));
    process(11, "");                                   // a zombie
    std::filesystem::create_directory(root_ + "/12");  // vanished: no cmdline
    EXPECT_EQ(find(10), kNoInstance);
}

TEST_F(FakeProc, OnlyProcessesOfTheOwnUserAndPidNamespaceCount) {
    const std::string name("VOKLogoffCookieService\0", 23);
    process("20", 65534, "own", name);          // another user's impostor
    process("30", kOwnUid, "container", name);  // an instance in a container
    process("40", 0, "container", name);
    EXPECT_EQ(find(1), kNoInstance);

    process("60", kOwnUid, "own", name);
    EXPECT_EQ(find(1), 60);

    // A process whose owner cannot be read is no instance; one whose
    // namespace cannot be read neither, unless the kernel shows namespaces
    // to nobody.
    std::filesystem::remove(root_ + "/60/status");
    EXPECT_EQ(find(1), kNoInstance);
    process("70", kOwnUid, "own", name);
    std::filesystem::remove(root_ + "/70/ns/pid");
    EXPECT_EQ(find(1), kNoInstance);
    owner_.namespaceKnown = false;
    EXPECT_EQ(find(1), 30);
}

TEST(SingleInstance, UnreadableProcIsReported) {
    EXPECT_EQ(findRunningInstance("/nonexistent-proc", kName, 1, InstanceOwner{}), kProcUnreadable);
}

TEST(SingleInstance, OwnOwnerIsTheRealUidAndTheKernelsPidNamespace) {
    InstanceOwner own = ownInstanceOwner("/proc");
    EXPECT_EQ(own.uid, getuid());
    ASSERT_TRUE(own.namespaceKnown);
    struct stat info {};
    ASSERT_EQ(stat(("/proc/" + std::to_string(getpid()) + "/ns/pid").c_str(), &info), 0);
    EXPECT_EQ(own.namespaceInode, info.st_ino);
    EXPECT_FALSE(ownInstanceOwner("/nonexistent-proc").namespaceKnown);
}

TEST(SocketPath, ComposedFromInstallPathWithinTheAddressLimit) {
    char path[512];
    char error[256];
    setenv("WA_INSTALL_PATH", "/opt/wa", 1);
    ASSERT_TRUE(composeSocketPath(path, sizeof path, error, sizeof error));
    EXPECT_STREQ(path, "/opt/wa/logoffCookieSocket");

    std::string longest(107 - 19, 'x');  // 19 = "/logoffCookieSocket"
    setenv("WA_INSTALL_PATH", longest.c_str(), 1);
    EXPECT_TRUE(composeSocketPath(path, sizeof path, error, sizeof error));
    setenv("WA_INSTALL_PATH", (longest + "x").c_str(), 1);
    EXPECT_FALSE(composeSocketPath(path, sizeof path, error, sizeof error));

    setenv("WA_INSTALL_PATH", "", 1);
    EXPECT_FALSE(composeSocketPath(path, sizeof path, error, sizeof error));
    unsetenv("WA_INSTALL_PATH");
    EXPECT_FALSE(composeSocketPath(path, sizeof path, error, sizeof error));
    EXPECT_NE(std::string(error).find("WA_INSTALL_PATH"), std::string::npos);
}

}  // namespace
