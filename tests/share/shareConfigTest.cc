#include "share/shareConfig.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

ShareEndpoint parsed(const std::string& text) {
    ShareEndpoint endpoint;
    std::string error;
    EXPECT_TRUE(parseShareEndpoint(text, endpoint, error)) << text << ": " << error;
    return endpoint;
}

std::string refusal(const std::string& text) {
    ShareEndpoint endpoint;
    std::string error;
    EXPECT_FALSE(parseShareEndpoint(text, endpoint, error)) << text;
    return error;
}

TEST(ShareEndpoint, RedisUrlWithEveryPart) {
    ShareEndpoint e = parsed("redis://farm:p@ss:w0rd@redis.example:6380/3");
    EXPECT_FALSE(e.unixSocket);
    EXPECT_EQ(e.user, "farm");
    EXPECT_EQ(e.password, "p@ss:w0rd");  // the last '@' ends the credentials
    EXPECT_EQ(e.host, "redis.example");
    EXPECT_EQ(e.port, 6380);
    EXPECT_EQ(e.db, 3);
    EXPECT_EQ(e.describe().find("w0rd"), std::string::npos);
}

TEST(ShareEndpoint, RedisUrlDefaultsAndUnixSocket) {
    ShareEndpoint e = parsed("redis://localhost");
    EXPECT_EQ(e.port, 6379);
    EXPECT_EQ(e.db, 0);
    EXPECT_FALSE(e.hasPassword);

    ShareEndpoint v6 = parsed("redis://[::1]:6390");
    EXPECT_EQ(v6.host, "::1");
    EXPECT_EQ(v6.port, 6390);

    ShareEndpoint u = parsed("unix:/run/redis/redis.sock?db=2");
    EXPECT_TRUE(u.unixSocket);
    EXPECT_EQ(u.path, "/run/redis/redis.sock");
    EXPECT_EQ(u.db, 2);
}

TEST(ShareEndpoint, MalformedEndpointsAreRefused) {
    for (const char* text : {"", "localhost:6379", "redis://", "redis://host:0", "redis://host:x",
                             "redis://host:65536", "redis://host/db", "redis://host:",
                             "redis://[::1", "redis://[::1]6379", "unix:", "unix:relative.sock",
                             "unix:/r.sock?database=1", "unix:/r.sock?db=-1"}) {
        EXPECT_FALSE(refusal(text).empty()) << text;
    }
}

class FarmSecretFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/lc-secret-XXXXXX";
        directory_ = mkdtemp(pattern);
        path_ = directory_ + "/farm.key";
    }
    void TearDown() override { std::filesystem::remove_all(directory_); }

    void write(const std::string& bytes, mode_t mode) {
        std::ofstream(path_) << bytes;
        chmod(path_.c_str(), mode);
    }
    bool read(std::string& error) {
        std::vector<std::uint8_t> secret;
        bool ok = readFarmSecret(path_, secret, error);
        EXPECT_EQ(ok, !secret.empty());
        return ok;
    }

    std::string directory_;
    std::string path_;
};

TEST_F(FarmSecretFile, ThirtyTwoPrivateBytesAreTakenAsTheyStand) {
    write(std::string(32, 's'), 0600);
    std::vector<std::uint8_t> secret;
    std::string error;
    ASSERT_TRUE(readFarmSecret(path_, secret, error)) << error;
    EXPECT_EQ(secret, std::vector<std::uint8_t>(32, 's'));
}

TEST_F(FarmSecretFile, ShortOpenOrMissingSecretsAreRefused) {
    std::string error;
    EXPECT_FALSE(read(error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;

    write(std::string(31, 's'), 0600);
    EXPECT_FALSE(read(error));

    for (mode_t open : {0640, 0604, 0620, 0602}) {
        write(std::string(40, 's'), open);
        EXPECT_FALSE(read(error)) << std::oct << open;
        EXPECT_NE(error.find("open to group or others"), std::string::npos) << error;
    }

    write(std::string(40, 's'), 0600);
    ASSERT_EQ(chown(path_.c_str(), 65534, 65534), 0);  // tests run as root
    EXPECT_FALSE(read(error));
    EXPECT_NE(error.find("not owned"), std::string::npos) << error;

    // A FIFO nobody writes to would block the open: refused at once.
    std::remove(path_.c_str());
    ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
    EXPECT_FALSE(read(error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

TEST(ShareConfigEnvironment, UnsetEndpointMeansOffWhateverElseIsSet) {
    unsetenv("VOKLOGOFFSHARE");
    setenv("VOKLOGOFFSHAREKEY", "/nonexistent", 1);
    ShareConfig config;
    std::string error;
    EXPECT_EQ(readShareConfig(config, error), ShareConfigResult::Off);
    unsetenv("VOKLOGOFFSHAREKEY");
}

}  // namespace
