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
    EXPECT_EQ(std::string(checkserver).substr(0, 45), "grep VOKLogoffCookieService /proc/*/cmdline |");
}

class FakeProc : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/lc-proc-XXXXXX";
        root_ = mkdtemp(pattern);
    }
    void TearDown() override { std::filesystem::remove_all(root_); }
    void process(int pid, const std::string& cmdline) {
        std::filesystem::create_directory(root_ + "/" + std::to_string(pid));
        std::ofstream(root_ + "/" + std::to_string(pid) + "/cmdline") << cmdline;
    }
    std::string root_;
};

TEST_F(FakeProc, LowestOtherInstanceIsFoundInNumericOrder) {
    process(900, std::string("/usr/sbin/VOKLogoffCookieService\0", 33));
    process(1000, std::string("bash\0", 5));
    process(95, std::string("VOKLogoffCookieService\0", 23));
    process(50, std::string("VOKLogoffCookieService\0", 23));
    std::filesystem::create_directory(root_ + "/self");
    EXPECT_EQ(findRunningInstance(root_.c_str(), kName, 50), 95);
    EXPECT_EQ(findRunningInstance(root_.c_str(), kName, 1), 50);
}

TEST_F(FakeProc, OwnProcessVanishedAndEmptyCommandLinesAreNotInstances) {
    process(10, std::string("VOKLogoffCookieService\0", 23));
    process(11, "");                                            // a zombie
    std::filesystem::create_directory(root_ + "/12");           // vanished: no cmdline
    EXPECT_EQ(findRunningInstance(root_.c_str(), kName, 10), kNoInstance);
}

TEST(SingleInstance, UnreadableProcIsReported) {
    EXPECT_EQ(findRunningInstance("/nonexistent-proc", kName, 1), kProcUnreadable);
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
