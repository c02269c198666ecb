// The run id a host publishes as: drawn whole from the kernel, or the start
// is refused; never a loop that waits for ever.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "share/farmSharing.h"

namespace {

int calls = 0;

ssize_t unsupported(void*, std::size_t, unsigned) {
    ++calls;
    errno = ENOSYS;
    return -1;
}

ssize_t alwaysInterrupted(void*, std::size_t, unsigned) {
    ++calls;
    errno = EINTR;
    return -1;
}

// Interrupted twice, then three bytes at a time.
ssize_t slowly(void* buffer, std::size_t length, unsigned) {
    if (++calls <= 2) {
        errno = EINTR;
        return -1;
    }
    std::size_t given = length < 3 ? length : 3;
    std::memset(buffer, 0xA5, given);
    return static_cast<ssize_t>(given);
}

TEST(ShareRunId, PiecesAndPassingInterruptionsStillFillTheWholeId) {
    calls = 0;
    ShareRunId run{};
    std::string error;
    ASSERT_TRUE(drawShareRunId(run, error, slowly)) << error;
    for (std::uint8_t byte : run) {
        EXPECT_EQ(byte, 0xA5);
    }
    EXPECT_EQ(calls, 2 + 6);                  // 16 bytes, 3 at a time
    EXPECT_TRUE(drawShareRunId(run, error));  // the kernel's own
}

TEST(ShareRunId, AKernelThatGivesNothingFailsWithTheReasonInsteadOfLooping) {
    std::string error;
    ShareRunId run{};
    calls = 0;
    EXPECT_FALSE(drawShareRunId(run, error, unsupported));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(error,
              std::string("cannot draw the farm run id: getrandom: ") + std::strerror(ENOSYS));
    calls = 0;
    EXPECT_FALSE(drawShareRunId(run, error, alwaysInterrupted));
    EXPECT_GT(calls, 2);
    EXPECT_NE(error.find(std::strerror(EINTR)), std::string::npos) << error;
}

}  // namespace
