// The packaged alerting rules and their promtool tests name series as the
// service and the node exporter really export them: a rule on a name or label
// nobody exports never fires, and its test would pass all the same.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/nodeExporter.h"
#include "tests/support/serviceProcess.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

std::string fileText(const char* path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

using Labels = std::map<std::string, std::string>;

// "name{a=\"x\",b=\"y\"}" into its name and labels.
std::pair<std::string, Labels> parseSeries(const std::string& series) {
    const size_t brace = series.find('{');
    std::pair<std::string, Labels> parsed{series.substr(0, brace), {}};
    if (brace != std::string::npos) {
        static const std::regex label(R"re(([a-zA-Z_][a-zA-Z0-9_]*)="([^"]*)")re");
        const std::string inside = series.substr(brace);
        for (std::sregex_iterator it(inside.begin(), inside.end(), label), end; it != end; ++it) {
            parsed.second[(*it)[1]] = (*it)[2];
        }
    }
    return parsed;
}

// The series of a scrape, by name: each with its labels.
std::multimap<std::string, Labels> scrapedSeries(const std::string& scraped) {
    std::multimap<std::string, Labels> series;
    std::istringstream lines(scraped);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const size_t end =
            line.find('}') != std::string::npos ? line.find('}') + 1 : line.find(' ');
        series.insert(parseSeries(line.substr(0, end)));
    }
    return series;
}

class AlertRules : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string file = exporter.textfileDirectory() + "/voklogoffcookie.prom";
        ASSERT_TRUE(service.start({{"VOKLOGOFFMETRICS", file}}));
        struct stat info {};
        ASSERT_TRUE(waitUntil([&] { return stat(file.c_str(), &info) == 0; }));
        ASSERT_TRUE(exporter.start());
        const std::string scraped = exporter.scrape();
        ASSERT_FALSE(scraped.empty()) << exporter.log();
        exported = scrapedSeries(scraped);
    }

    ServiceProcess service;
    NodeExporter exporter{service.installPath()};
    std::multimap<std::string, Labels> exported;
};

TEST_F(AlertRules, EveryNameTheRulesUseIsExported) {
    const std::string rules = fileText(LC_ALERT_RULES);
    static const std::regex name(R"(\b(voklogoffcookie_[a-z_]+|node_[a-z_]+)\b)");
    std::set<std::string> used;
    for (std::sregex_iterator it(rules.begin(), rules.end(), name), end; it != end; ++it) {
        used.insert((*it)[1]);
    }
    ASSERT_GE(used.size(), 8u);
    for (const std::string& each : used) {
        EXPECT_EQ(exported.count(each) > 0, true) << each << " is not exported";
    }
}

// The series the promtool tests feed the rules: each one's name and labels
// (the server's own instance and job aside) are those of a real series.
TEST_F(AlertRules, EverySeriesTheirTestsFeedIsOneTheServiceExports) {
    const std::string tests = fileText(LC_ALERT_RULES_TEST);
    static const std::regex seriesLine(R"(series: '([^']*)')");
    int checked = 0;
    for (std::sregex_iterator it(tests.begin(), tests.end(), seriesLine), end; it != end; ++it) {
        auto [name, labels] = parseSeries((*it)[1]);
        labels.erase("instance");
        labels.erase("job");
        bool found = false;
        auto [first, last] = exported.equal_range(name);
        for (auto real = first; real != last && !found; ++real) {
            Labels realLabels = real->second;
            if (name == "node_textfile_mtime_seconds" && labels.count("file") != 0) {
                // The file is ours, whatever the directory; another is
                // a collector's file of its own and needs no match.
                if (labels["file"] != "voklogoffcookie.prom") {
                    found = true;
                    break;
                }
                const std::string& path = realLabels["file"];
                realLabels["file"] = path.substr(path.rfind('/') + 1);
            }
            found = realLabels == labels;
        }
        EXPECT_TRUE(found) << (*it)[1] << " matches no exported series";
        ++checked;
    }
    EXPECT_GE(checked, 8);
}

}  // namespace
}  // namespace lctest
