// The receiver's wait after a short read: the variable that sets it, when
// it applies, and that a request to end the thread ends it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "share/readBatching.h"
#include "support/threads/RWRunnableImp.h"
#include "support/threads/RWThreadFunction.h"

namespace {

using std::chrono::milliseconds;

class BatchWaitVariable : public ::testing::Test {
  protected:
    void TearDown() override { unsetenv("VOKLOGOFFSHAREBATCHMS"); }
    bool read(const char* value, milliseconds& out, std::string& error) {
        setenv("VOKLOGOFFSHAREBATCHMS", value, 1);
        return readShareBatchWait(out, error);
    }
};

TEST_F(BatchWaitVariable, UnsetIsTheDefaultAndZeroToTheBoundAreTaken) {
    milliseconds wait{-1};
    std::string error;
    unsetenv("VOKLOGOFFSHAREBATCHMS");
    ASSERT_TRUE(readShareBatchWait(wait, error)) << error;
    EXPECT_EQ(wait, kShareBatchWaitDefault);
    ASSERT_TRUE(read("0", wait, error)) << error;
    EXPECT_EQ(wait, milliseconds(0));
    ASSERT_TRUE(read("100", wait, error)) << error;
    EXPECT_EQ(wait, kShareBatchWaitMost);
}

TEST_F(BatchWaitVariable, AnythingButMillisecondsWithinTheBoundIsRefused) {
    for (const char* bad : {"", "101", "-1", "5ms", " 5", "5.0", "abc", "99999999999999999999"}) {
        milliseconds wait{7};
        std::string error;
        EXPECT_FALSE(read(bad, wait, error)) << bad;
        EXPECT_NE(error.find("VOKLOGOFFSHAREBATCHMS"), std::string::npos) << error;
        EXPECT_EQ(wait, milliseconds(7)) << bad;
    }
}

TEST(BatchWait, OnlyAShortReadWaitsAndZeroNeverDoes) {
    constexpr milliseconds five{5};
    EXPECT_EQ(batchWaitAfter(1, 16, five), five);
    EXPECT_EQ(batchWaitAfter(15, 16, five), five);
    EXPECT_EQ(batchWaitAfter(0, 16, five), milliseconds(0));   // timed out in Redis
    EXPECT_EQ(batchWaitAfter(16, 16, five), milliseconds(0));  // more may be waiting
    EXPECT_EQ(batchWaitAfter(3, 16, milliseconds(0)), milliseconds(0));
}

RWThreadFunction waitingHandle;
bool waitedToTheEnd = false;

void waitAnHour() {
    waitForBatch(std::chrono::hours(1), waitingHandle);
    waitedToTheEnd = true;
}

// Far longer than any allowed wait, so only the request can end it.
TEST(BatchWait, ARequestToEndTheThreadEndsTheWait) {
    waitingHandle = RWThreadFunction::make(waitAnHour);
    waitingHandle.start();
    waitingHandle.waitExecutionState(RWRunnableImp::kRunning);
    EXPECT_EQ(waitingHandle.requestCancellation(60'000), 1);
    EXPECT_EQ(waitingHandle.completionState(), RWRunnableImp::kCanceled);
    EXPECT_FALSE(waitedToTheEnd);
}

}  // namespace
