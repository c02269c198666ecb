#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "diag/traceLog.h"
#include "diag/traceLogClock.h"
#include "tests/support/scratchDirectory.h"

namespace {

class TraceLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dest_ = dir_ + "/trace.log";
        setenv("VOKTRACEDEST", dest_.c_str(), 1);
        setenv("VOKTRACELEVEL", "14", 1);
    }
    void TearDown() override { setTraceLogClock(nullptr); }

    std::vector<std::string> lines() const {
        std::ifstream in(dest_);
        std::vector<std::string> result;
        for (std::string line; std::getline(in, line);) {
            result.push_back(line);
        }
        return result;
    }

    // Writes one line at each mask and returns the messages that arrived.
    std::vector<std::string> messagesAtLevel(const char* level) {
        setenv("VOKTRACELEVEL", level, 1);
        TRACE_LOG(TRACE_ENTRY, "entry");
        TRACE_LOG(TRACE_EXIT, "exit");
        TRACE_LOG(TRACE_DETAIL, "detail");
        std::vector<std::string> messages;
        for (const std::string& line : lines()) {
            messages.push_back(line.substr(line.find(" # ") + 3));
        }
        std::remove(dest_.c_str());
        return messages;
    }

    lctest::ScratchDirectory scratch_{"lc-trace"};
    std::string dir_ = scratch_.path();
    std::string dest_;
};

TEST_F(TraceLogTest, LineCarriesPidTimeBaseNameLineAndExpandedMessage) {
    int line = __LINE__ + 1;
    traceLog(TRACE_DETAIL, "/some/dir/crypto/unit.cc", line, "value %d and %s", 42, "text");
    std::vector<std::string> written = lines();
    ASSERT_EQ(written.size(), 1u);
    std::regex layout(
        R"(\[(\d+)\] [ 12]\d:[0-5]\d:[0-5]\d\.\d{3} File:unit\.cc Line:(\d+) # value 42 and text)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(written[0], match, layout)) << written[0];
    EXPECT_EQ(std::stoi(match[1]), getpid());
    EXPECT_EQ(std::stoi(match[2]), line);
}

// A fixed time of day for the lines of a test: seconds into 2023-11-14 UTC.
timespec fixedTime;
timespec readFixedTime() {
    return fixedTime;
}
constexpr time_t kMidnight = 1'699'920'000;

// The time field of one line written at `secondsIntoDay` and `nanoseconds`,
// in UTC.
std::string timeWrittenAt(const std::string& dest, time_t secondsIntoDay, long nanoseconds) {
    setenv("TZ", "UTC", 1);
    tzset();
    fixedTime = timespec{kMidnight + secondsIntoDay, nanoseconds};
    setTraceLogClock(readFixedTime);
    std::remove(dest.c_str());
    TRACE_LOG(TRACE_DETAIL, "x");
    std::ifstream in(dest);
    std::string line;
    std::getline(in, line);
    size_t start = line.find("] ") + 2;
    return line.substr(start, line.find(" File:") - start);
}

TEST_F(TraceLogTest, HourBeforeTenIsPaddedWithABlank) {
    EXPECT_EQ(timeWrittenAt(dest_, 9 * 3600 + 5 * 60 + 7, 42'000'000), " 9:05:07.042");
    EXPECT_EQ(timeWrittenAt(dest_, 0, 0), " 0:00:00.000");
}

TEST_F(TraceLogTest, LaterHoursTakeBothPlacesAndMillisecondsAreCutNotRounded) {
    EXPECT_EQ(timeWrittenAt(dest_, 10 * 3600, 500'000'000), "10:00:00.500");
    EXPECT_EQ(timeWrittenAt(dest_, 24 * 3600 - 1, 999'999'999), "23:59:59.999");
}

TEST_F(TraceLogTest, MaskSelectsLines) {
    using Messages = std::vector<std::string>;
    EXPECT_EQ(messagesAtLevel("2"), (Messages{"entry"}));
    EXPECT_EQ(messagesAtLevel("4"), (Messages{"exit"}));
    EXPECT_EQ(messagesAtLevel("8"), (Messages{"detail"}));
    EXPECT_EQ(messagesAtLevel("14"), (Messages{"entry", "exit", "detail"}));
    EXPECT_EQ(messagesAtLevel("6"), (Messages{"entry", "exit"}));
    EXPECT_EQ(messagesAtLevel("0"), Messages{});
    EXPECT_EQ(messagesAtLevel("all"), Messages{});
    EXPECT_EQ(messagesAtLevel("  +8xyz"), (Messages{"detail"}));
}

TEST_F(TraceLogTest, FileNameWithoutSlashIsWrittenWhole) {
    traceLog(TRACE_DETAIL, "plain.cc", 7, "m");
    EXPECT_NE(lines().at(0).find("File:plain.cc Line:7 # m"), std::string::npos);
}

TEST_F(TraceLogTest, RemovedDestinationIsCreatedAgain) {
    TRACE_LOG(TRACE_DETAIL, "first");
    std::remove(dest_.c_str());
    TRACE_LOG(TRACE_DETAIL, "second");
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_NE(lines()[0].find("# second"), std::string::npos);
}

// Runs `body` in a child whose standard error goes to `stderrPath`; returns
// whether the child exited 0.
template <typename Body>
bool inChild(const std::string& stderrPath, Body body) {
    pid_t child = fork();
    if (child == 0) {
        FILE* err = std::freopen(stderrPath.c_str(), "w", stderr);
        bool ok = err && body();
        std::fflush(stderr);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(TraceLogTest, UnsetLevelSwitchesTracingOffForGood) {
    std::string err = dir_ + "/stderr";
    ASSERT_TRUE(inChild(err, [] {
        unsetenv("VOKTRACELEVEL");
        TRACE_LOG(TRACE_DETAIL, "while unset");
        setenv("VOKTRACELEVEL", "14", 1);
        TRACE_LOG(TRACE_DETAIL, "after setting again");
        return true;
    }));
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ(readAll(err), "");
    std::remove(err.c_str());
}

TEST_F(TraceLogTest, UnopenableDestinationFallsBackToStandardError) {
    std::string err = dir_ + "/stderr";
    ASSERT_TRUE(inChild(err, [this] {
        std::string unopenable = dir_ + "/missing/dir/trace.log";
        setenv("VOKTRACEDEST", unopenable.c_str(), 1);
        TRACE_LOG(TRACE_DETAIL, "to stderr %d", 5);
        return true;
    }));
    std::string text = readAll(err);
    EXPECT_NE(text.find("File:traceLogTest.cc"), std::string::npos);
    EXPECT_NE(text.find("# to stderr 5\n"), std::string::npos);
    std::remove(err.c_str());
}

TEST_F(TraceLogTest, OverlongFormatIsCutWithoutReadingMissingArguments) {
    std::string format(1100, 'a');
    format[1022 - 50] = '%';  // somewhere the cut leaves it whole
    format[1022 - 49] = '%';
    traceLog(TRACE_DETAIL, "f.cc", 1, format.c_str());
    std::string written = readAll(dest_);
    EXPECT_LT(written.size(), 1024u);
    EXPECT_EQ(written.find('\n'), std::string::npos);
}

}  // namespace
