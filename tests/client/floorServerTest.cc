// logoffcookie-floor, the floor of the load benchmark: in each of its ways of
// serving it answers a request with the envelope of 1, as the service answers
// a query it finds, and it refuses options it does not know.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "tests/support/rawRequests.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

// The floor run on a fresh install directory, stopped by its pid.
class FloorProcess {
  public:
    explicit FloorProcess(const char* option) {
        char directory[] = "/tmp/floor-test.XXXXXX";
        installPath_ = mkdtemp(directory) != nullptr ? directory : "";
        pid_ = fork();
        if (pid_ == 0) {
            setenv("WA_INSTALL_PATH", installPath_.c_str(), 1);
            if (freopen("/dev/null", "w", stdout) == nullptr) {
                _exit(127);
            }
            execl(LC_FLOOR_BINARY, LC_FLOOR_BINARY, option, static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~FloorProcess() {
        if (pid_ > 0 && !status_) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        unlink(socketPath().c_str());
        rmdir(installPath_.c_str());
    }
    FloorProcess(const FloorProcess&) = delete;
    FloorProcess& operator=(const FloorProcess&) = delete;

    std::string socketPath() const { return installPath_ + "/logoffCookieSocket"; }

    bool listening() const {
        return waitUntil([&] {
            struct stat info {};
            return stat(socketPath().c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
        });
    }

    // The exit status once the process has ended on its own.
    int exitStatus() {
        int status = 0;
        waitpid(pid_, &status, 0);
        status_ = status;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    std::string installPath_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

class FloorServing : public ::testing::TestWithParam<const char*> {};

TEST_P(FloorServing, AnswersEveryRequestWithTheEnvelopeOfOne) {
    FloorProcess floor(GetParam());
    ASSERT_TRUE(floor.listening());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ask(floor.socketPath(), queryPayload(CookieFields{})), 1) << "request " << i;
    }
    std::optional<std::string> reply = roundTrip(floor.socketPath(), "anything at all");
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->size(), 72u);
}

INSTANTIATE_TEST_SUITE_P(EachWayOfServing, FloorServing,
                         ::testing::Values(nullptr, "--bound", "--inline"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param == nullptr ? "thread" : info.param + 2);
                         });

TEST(FloorOptions, AnUnknownOptionIsRefusedWithStatusTwo) {
    FloorProcess floor("--start-anywhere");
    EXPECT_EQ(floor.exitStatus(), 2);
}

}  // namespace
}  // namespace lctest
