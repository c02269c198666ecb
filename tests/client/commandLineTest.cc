#include <gtest/gtest.h>

#include <limits>
#include <sstream>

#include "client/cli/cookieOptions.h"
#include "client/cli/subcommand.h"
#include "tests/client/cliRun.h"
#include "tests/client/fakeService.h"

namespace lctest {
namespace {

using namespace logoffcookie::cli;

constexpr int32_t kNow = 1'700'000'000;

// The words of a command line written with single blanks.
std::vector<std::string> splitWords(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

bool parses(const std::vector<std::string>& words, RequestKind kind, CookieCommand& command,
            std::string& error) {
    Arguments args(words.begin(), words.end());
    return parseCookieCommand(args, kind, kNow, command, error);
}

std::string parseError(const std::vector<std::string>& words, RequestKind kind) {
    CookieCommand command;
    std::string error;
    EXPECT_FALSE(parses(words, kind, command, error));
    return error;
}

TEST(CommandLineTime, AcceptsSecondsNowAndNowWithAnOffset) {
    int32_t value = 0;
    EXPECT_TRUE(parseTime("now", kNow, value));
    EXPECT_EQ(value, kNow);
    EXPECT_TRUE(parseTime("now-300", kNow, value));
    EXPECT_EQ(value, kNow - 300);
    EXPECT_TRUE(parseTime("now+60", kNow, value));
    EXPECT_EQ(value, kNow + 60);
    EXPECT_TRUE(parseTime("1234567890", kNow, value));
    EXPECT_EQ(value, 1234567890);
    EXPECT_TRUE(parseTime("-5", kNow, value));
    EXPECT_EQ(value, -5);
}

TEST(CommandLineTime, RefusesMalformedAndOutOfRangeTimes) {
    int32_t value = 0;
    for (const char* text : {"", "now+", "now-x", "now--5", "now*3", "12a", "1.5", " 12",
                             "2147483648", "-2147483649", "now+1000000000"}) {
        EXPECT_FALSE(parseTime(text, kNow, value)) << text;
    }
}

// The sum of now and N is never formed when it would not fit: the sanitizer
// build reports any overflow on the way.
TEST(CommandLineTime, OffsetReachesTheEdgesOfTheTimeRangeAndNoFurther) {
    constexpr int32_t kLatest = std::numeric_limits<int32_t>::max();
    constexpr int32_t kEarliest = std::numeric_limits<int32_t>::min();
    int32_t value = 0;
    EXPECT_TRUE(parseTime("now+5", kLatest - 5, value));
    EXPECT_EQ(value, kLatest);
    EXPECT_FALSE(parseTime("now+6", kLatest - 5, value));
    EXPECT_TRUE(parseTime("now-5", kEarliest + 5, value));
    EXPECT_EQ(value, kEarliest);
    EXPECT_FALSE(parseTime("now-6", kEarliest + 5, value));
    for (int32_t now : {kEarliest, -1, 0, kNow, kLatest}) {
        EXPECT_FALSE(parseTime("now+9223372036854775807", now, value)) << now;
        EXPECT_FALSE(parseTime("now-9223372036854775807", now, value)) << now;
        EXPECT_FALSE(parseTime("now+9223372036854775808", now, value)) << now;
    }
}

TEST(CommandLineNumbers, StayWithinTheirTypes) {
    uint32_t minutes = 0;
    EXPECT_TRUE(parseUint32("4294967295", minutes));
    EXPECT_EQ(minutes, 4294967295u);
    EXPECT_FALSE(parseUint32("4294967296", minutes));
    EXPECT_FALSE(parseUint32("-1", minutes));
    int32_t kind = 0;
    EXPECT_TRUE(parseInt32("-2147483648", kind));
    EXPECT_FALSE(parseInt32("0x10", kind));
}

TEST(CommandLineCookie, DefaultsAreNowAndTheLibrarysDefaults) {
    CookieCommand command;
    std::string error;
    // The cookie's texts are views of the words: they must outlive it.
    std::vector<std::string> words = {"--text", "abc"};
    ASSERT_TRUE(parses(words, RequestKind::Add, command, error)) << error;
    EXPECT_EQ(command.cookie.text, "abc");
    EXPECT_EQ(command.cookie.bytes, "");
    EXPECT_EQ(command.cookie.creationTime, kNow);
    EXPECT_EQ(command.cookie.lastUseTime, kNow);
    EXPECT_EQ(command.cookie.timeOffset, 0);
    EXPECT_EQ(command.cookie.maxLifetimeMinutes, 120u);
    EXPECT_EQ(command.cookie.idleTimeoutMinutes, 0u);
    EXPECT_EQ(command.cookie.cookieKind, 0);
    EXPECT_EQ(command.options.socketPath, "");
    EXPECT_EQ(command.options.timeout.count(), 5000);
    EXPECT_FALSE(command.raw);
}

TEST(CommandLineCookie, EveryOptionInBothForms) {
    CookieCommand command;
    std::string error;
    std::vector<std::string> words = splitWords(
        "--text=t --bytes b --created now-60 --last-use=100 --offset -3600 --max-lifetime=30 "
        "--idle-timeout 5 --kind 2 --socket=/tmp/s --timeout 250 --socket-wait=0 --raw");
    ASSERT_TRUE(parses(words, RequestKind::Add, command, error)) << error;
    EXPECT_EQ(command.cookie.text, "t");
    EXPECT_EQ(command.cookie.bytes, "b");
    EXPECT_EQ(command.cookie.creationTime, kNow - 60);
    EXPECT_EQ(command.cookie.lastUseTime, 100);
    EXPECT_EQ(command.cookie.timeOffset, -3600);
    EXPECT_EQ(command.cookie.maxLifetimeMinutes, 30u);
    EXPECT_EQ(command.cookie.idleTimeoutMinutes, 5u);
    EXPECT_EQ(command.cookie.cookieKind, 2);
    EXPECT_EQ(command.options.socketPath, "/tmp/s");
    EXPECT_EQ(command.options.timeout.count(), 250);
    EXPECT_EQ(command.options.socketWait.count(), 0);
    EXPECT_TRUE(command.raw);
}

TEST(CommandLineCookie, WrongArgumentsAreNamedInTheError) {
    EXPECT_EQ(parseError({}, RequestKind::Query), "--text is required");
    EXPECT_EQ(parseError({"--bytes", "b"}, RequestKind::Query), "--text is required");
    EXPECT_NE(parseError({"--text", "a", "--colour"}, RequestKind::Query).find("'--colour'"),
              std::string::npos);
    EXPECT_NE(parseError({"--text", "a", "stray"}, RequestKind::Query).find("'stray'"),
              std::string::npos);
    EXPECT_NE(parseError({"--text"}, RequestKind::Query).find("needs a value"), std::string::npos);
    EXPECT_EQ(parseError({"--text", "a", "--kind", "1"}, RequestKind::Query),
              "'--kind' is only for add");
    EXPECT_EQ(parseError({"--text", "a", "--last-use", "1"}, RequestKind::Query),
              "'--last-use' is only for add");
    EXPECT_NE(parseError({"--text", "a", "--raw=yes"}, RequestKind::Query).find("takes no value"),
              std::string::npos);
    EXPECT_NE(parseError({"--text", std::string(65, 'x')}, RequestKind::Add).find("--text"),
              std::string::npos);
    EXPECT_NE(parseError({"--text", "a", "--timeout", "0"}, RequestKind::Add).find("--timeout"),
              std::string::npos);
    EXPECT_NE(parseError({"--text", "a", "--max-lifetime", "-1"}, RequestKind::Add)
                  .find("bad value '-1' for --max-lifetime"),
              std::string::npos);
}

TEST(CommandLineCookie, EmptyTextRepeatedOptionsAndOverlongSocketAreRefused) {
    EXPECT_NE(parseError({"--text", ""}, RequestKind::Query).find("bad value '' for --text"),
              std::string::npos);
    EXPECT_EQ(parseError({"--text", "a", "--created", "1", "--created=2"}, RequestKind::Query),
              "'--created' is given more than once");
    EXPECT_EQ(parseError({"--raw", "--text", "a", "--raw"}, RequestKind::Add),
              "'--raw' is given more than once");
    EXPECT_NE(parseError({"--text", "a", "--socket", "/" + std::string(107, 's')}, RequestKind::Add)
                  .find("--socket"),
              std::string::npos);
    CookieCommand command;
    std::string error;
    EXPECT_TRUE(parses({"--text", "a", "--socket", "/" + std::string(106, 's')}, RequestKind::Add,
                       command, error))
        << error;
}

TEST(CommandLineCookie, HelpNeedsNothingElse) {
    CookieCommand command;
    std::string error;
    ASSERT_TRUE(parses({"--help", "--bogus"}, RequestKind::Query, command, error));
    EXPECT_TRUE(command.help);
}

TEST(CommandLineRun, WithoutCommandPrintsUsageAndFails) {
    CliRun run = runCli({});
    EXPECT_EQ(run.status, kExitUsage);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("Usage: logoffcookie"), std::string::npos);
}

TEST(CommandLineRun, HelpListsEveryCommand) {
    CliRun run = runCli({"--help"});
    EXPECT_EQ(run.status, kExitSuccess);
    for (const Subcommand& command : subcommands()) {
        EXPECT_NE(run.out.find("  " + std::string(command.name)), std::string::npos);
    }
    CliRun query = runCli({"query", "--help"});
    EXPECT_EQ(query.status, kExitSuccess);
    EXPECT_NE(query.out.find("Usage: logoffcookie query"), std::string::npos);
    EXPECT_EQ(query.out.find("--kind"), std::string::npos);
    CliRun add = runCli({"add", "-h"});
    EXPECT_NE(add.out.find("--kind"), std::string::npos);
}

TEST(CommandLineRun, UnknownCommandAndBadOptionsAreUsageErrors) {
    CliRun unknown = runCli({"remove", "--text", "a"});
    EXPECT_EQ(unknown.status, kExitUsage);
    EXPECT_NE(unknown.err.find("unknown command 'remove'"), std::string::npos);
    CliRun overlong = runCli({"query", "--text", "a", "--socket", "/" + std::string(200, 's')});
    EXPECT_EQ(overlong.status, kExitUsage);
    CliRun missing = runCli({"add"});
    EXPECT_EQ(missing.status, kExitUsage);
    EXPECT_EQ(missing.err,
              "logoffcookie add: --text is required\nTry 'logoffcookie add --help'.\n");
}

TEST(CommandLineRun, EverySubcommandRefusesARepeatedOption) {
    for (const Subcommand& command : subcommands()) {
        const std::string name(command.name);
        CliRun run = runCli({name, "--timeout", "5", "--timeout=5"});
        EXPECT_EQ(run.status, kExitUsage) << name;
        EXPECT_EQ(run.out, "") << name;
        EXPECT_EQ(run.err, "logoffcookie " + name + ": '--timeout' is given more than once\n" +
                               "Try 'logoffcookie " + name + " --help'.\n");
    }
}

TEST(CommandLineRun, CreationTimeBeyondTheTimeRangeIsAUsageError) {
    for (const char* created : {"now+9223372036854775807", "now+4294967296"}) {
        CliRun run = runCli({"query", "--text", "a", "--created", created});
        EXPECT_EQ(run.status, kExitUsage) << created;
        EXPECT_NE(run.err.find("bad value '" + std::string(created) + "' for --created"),
                  std::string::npos)
            << run.err;
    }
}

TEST(CommandLineRun, QueryPrintsTheAnswerInWordsOrRaw) {
    FakeService cached(answerWith(1));
    CliRun words = runCli({"query", "--text", "a", "--socket", cached.socketPath()});
    EXPECT_EQ(words.status, kExitSuccess);
    EXPECT_EQ(words.out, "cached\n");
    EXPECT_EQ(words.err, "");
    CliRun raw = runCli({"query", "--text", "a", "--raw", "--socket", cached.socketPath()});
    EXPECT_EQ(raw.out, "1\n");

    FakeService notCached(answerWith(0));
    EXPECT_EQ(runCli({"query", "--text", "a", "--socket", notCached.socketPath()}).out,
              "not cached\n");
}

TEST(CommandLineRun, AddPrintsTheAcknowledgement) {
    FakeService fake(answerWith(-1));
    CliRun words = runCli({"add", "--text", "a", "--socket", fake.socketPath()});
    EXPECT_EQ(words.status, kExitSuccess);
    EXPECT_EQ(words.out, "added\n");
    EXPECT_EQ(runCli({"add", "--text", "a", "--raw", "--socket", fake.socketPath()}).out, "-1\n");
}

TEST(CommandLineRun, FailedRequestNamesTheErrorAndTheSocket) {
    TempDir dir;
    std::string path = dir.path() + "/logoffCookieSocket";
    CliRun run = runCli({"query", "--text", "a", "--socket-wait", "0", "--socket", path});
    EXPECT_EQ(run.status, kExitFailure);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("logoffcookie query: no service socket file"), std::string::npos);
    EXPECT_NE(run.err.find("(LC_CLIENT_NO_SOCKET)"), std::string::npos);
    EXPECT_NE(run.err.find("socket " + path), std::string::npos);

    FakeService silent([](int fd) { readOnce(fd); });
    CliRun noReply = runCli({"add", "--text", "a", "--socket", silent.socketPath()});
    EXPECT_EQ(noReply.status, kExitFailure);
    EXPECT_NE(noReply.err.find("(LC_CLIENT_NO_REPLY)"), std::string::npos);
}

}  // namespace
}  // namespace lctest
