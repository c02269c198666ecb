#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/cli/benchOptions.h"
#include "client/cli/benchStatistics.h"
#include "client/cli/subcommand.h"
#include "tests/client/cliRun.h"
#include "tests/client/fakeService.h"

namespace lctest {
namespace {

using namespace logoffcookie::cli;

CliRun runBench(std::vector<std::string> words) {
    words.insert(words.begin(), "bench");
    return runCli(words);
}

std::string parseError(const std::vector<std::string>& words) {
    Arguments args(words.begin(), words.end());
    BenchOptions options;
    std::string error;
    EXPECT_FALSE(parseBenchCommand(args, options, error));
    return error;
}

TEST(BenchOptions, DefaultsAndEveryOptionInBothForms) {
    BenchOptions options;
    std::string error;
    ASSERT_TRUE(parseBenchCommand({}, options, error)) << error;
    EXPECT_EQ(options.clients, 4);
    EXPECT_EQ(options.queryPercent, 100);
    EXPECT_EQ(options.cookies, 1000);
    EXPECT_EQ(options.duration.count(), 5000);
    EXPECT_EQ(options.requests, 0);
    EXPECT_EQ(options.creationTime, 0);

    std::vector<std::string> words = {"--clients=16",
                                      "--queries",
                                      "90",
                                      "--cookies=50",
                                      "--duration",
                                      "0.25",
                                      "--prefill",
                                      "--expect-raw",
                                      "--encrypt-each",
                                      "--tsv",
                                      "--socket=/tmp/s",
                                      "--timeout",
                                      "250",
                                      "--created",
                                      "1700000000",
                                      "--socket-wait=0"};
    Arguments args(words.begin(), words.end());
    ASSERT_TRUE(parseBenchCommand(args, options, error)) << error;
    EXPECT_EQ(options.clients, 16);
    EXPECT_EQ(options.queryPercent, 90);
    EXPECT_EQ(options.cookies, 50);
    EXPECT_EQ(options.duration.count(), 250);
    EXPECT_TRUE(options.prefill && options.expectRaw && options.encryptEach && options.tsv);
    EXPECT_EQ(options.connection.socketPath, "/tmp/s");
    EXPECT_EQ(options.connection.timeout.count(), 250);
    EXPECT_EQ(options.creationTime, 1700000000);
    EXPECT_EQ(options.connection.socketWait.count(), 0);
}

TEST(BenchOptions, OutOfRangeAndMalformedValuesAreNamed) {
    const std::vector<std::vector<std::string>> bad = {
        {"--clients", "0"},    {"--clients", "1025"},    {"--queries", "101"}, {"--queries", "-1"},
        {"--cookies", "0"},    {"--cookies", "100001"},  {"--duration", "0"},  {"--duration", "-2"},
        {"--duration", "1s"},  {"--duration", "0.0001"}, {"--requests", "0"},  {"--timeout", "0"},
        {"--created", "soon"}, {"--socket-wait", "-1"},
    };
    for (const auto& words : bad) {
        EXPECT_NE(parseError(words).find("bad value '" + words[1] + "' for " + words[0]),
                  std::string::npos)
            << words[0] << " " << words[1];
    }
    EXPECT_EQ(parseError({"--colour"}), "unknown argument '--colour'");
    EXPECT_EQ(parseError({"--tsv=yes"}), "'--tsv' takes no value");
    EXPECT_EQ(parseError({"--clients"}), "'--clients' needs a value (C)");
    EXPECT_EQ(parseError({"--duration", "2", "--requests", "10"}),
              "give either --duration or --requests, not both");
}

// A repeated option is refused as by every other subcommand, not the last
// one winning: a script that says --clients twice has said two things.
TEST(BenchOptions, RepeatedOptionIsAUsageError) {
    EXPECT_EQ(parseError({"--clients", "2", "--clients=3"}), "'--clients' is given more than once");
    EXPECT_EQ(parseError({"--tsv", "--requests", "5", "--tsv"}), "'--tsv' is given more than once");
}

TEST(BenchOptions, HelpNeedsNothingElse) {
    CliRun run = runBench({"--help", "--bogus"});
    EXPECT_EQ(run.status, kExitSuccess);
    EXPECT_NE(run.out.find("Usage: logoffcookie bench"), std::string::npos);
    EXPECT_EQ(runBench({"--clients", "0"}).status, kExitUsage);
}

TEST(BenchStatistics, PercentilesAreNearestRank) {
    std::vector<int64_t> nanos;
    for (int64_t i = 100; i >= 1; --i) {
        nanos.push_back(i * 1000);
    }
    LatencySummary summary = summarizeLatency(nanos);
    EXPECT_EQ(summary.p50, 50000);
    EXPECT_EQ(summary.p90, 90000);
    EXPECT_EQ(summary.p99, 99000);
    EXPECT_EQ(summary.max, 100000);

    std::vector<int64_t> one = {7};
    summary = summarizeLatency(one);
    EXPECT_EQ(summary.p50, 7);
    EXPECT_EQ(summary.p99, 7);
    std::vector<int64_t> none;
    EXPECT_EQ(summarizeLatency(none).max, 0);
}

TEST(BenchRun, RightAnswersAreCountedAndWrongOnesByKind) {
    FakeService cached(answerWith(1));
    CliRun run = runBench(
        {"--requests", "6", "--clients", "2", "--cookies", "3", "--socket", cached.socketPath()});
    EXPECT_EQ(run.status, kExitSuccess) << run.err;
    EXPECT_NE(run.out.find("requests    6 (6 answered right, 0 failed)"), std::string::npos)
        << run.out;
    EXPECT_EQ(cached.connections(), 6);

    // An add must be answered -1: the fake's 1 is a wrong answer.
    CliRun adds = runBench({"--requests", "3", "--queries", "0", "--socket", cached.socketPath()});
    EXPECT_EQ(adds.status, kExitFailure);
    EXPECT_NE(adds.out.find("LC_CLIENT_UNEXPECTED_REPLY"), std::string::npos) << adds.out;
}

TEST(BenchRun, RawModeTakesAny72CharacterReplyOnly) {
    FakeService floor([](int fd) {
        readOnce(fd);
        writeAll(fd, std::string(72, 'A'));
    });
    CliRun raw =
        runBench({"--requests", "2", "--expect-raw", "--tsv", "--socket", floor.socketPath()});
    EXPECT_EQ(raw.status, kExitSuccess) << raw.out;
    EXPECT_EQ(raw.out.substr(0, 2), "4\t");  // clients first, then seconds, right, errors
    CliRun checked = runBench({"--requests", "2", "--socket", floor.socketPath()});
    EXPECT_EQ(checked.status, kExitFailure);
    EXPECT_NE(checked.out.find("LC_CLIENT_REPLY_UNDECRYPTABLE"), std::string::npos);

    FakeService shortReply([](int fd) {
        readOnce(fd);
        writeAll(fd, "AAAA");
    });
    EXPECT_EQ(
        runBench({"--requests", "1", "--expect-raw", "--socket", shortReply.socketPath()}).status,
        kExitFailure);
}

}  // namespace
}  // namespace lctest
