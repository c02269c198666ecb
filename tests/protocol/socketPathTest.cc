#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "protocol/socketPath.h"

namespace {

TEST(SocketPath, IsTheSocketFileInTheGivenDirectory) {
    char path[kMaxSocketPathLength + 1];
    EXPECT_EQ(composeSocketPathIn("/opt/wa", path, sizeof path), 26u);
    EXPECT_STREQ(path, "/opt/wa/logoffCookieSocket");
    EXPECT_EQ(socketPathIn("/opt/wa"), path);
}

TEST(SocketPath, TooSmallABufferGetsACutTerminatedPathAndTheWholeLength) {
    char path[8];
    std::memset(path, 'z', sizeof path);
    EXPECT_EQ(composeSocketPathIn("/opt/wa", path, sizeof path), 26u);
    EXPECT_STREQ(path, "/opt/wa");
}

TEST(SocketPath, DirectoryComesFromTheInstallPathUnlessUnsetOrEmpty) {
    setenv(kInstallPathVariable, "/srv/agent", 1);
    ASSERT_NE(socketDirectory(), nullptr);
    EXPECT_STREQ(socketDirectory(), "/srv/agent");
    setenv(kInstallPathVariable, "", 1);
    EXPECT_EQ(socketDirectory(), nullptr);
    unsetenv(kInstallPathVariable);
    EXPECT_EQ(socketDirectory(), nullptr);
}

}  // namespace
