#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "client/cli/metricsText.h"
#include "diag/metricsExposition.h"

namespace {

using logoffcookie::cli::kServiceMetricFamilies;
using logoffcookie::cli::metricsTextProblem;

std::string problem(const std::string& text) {
    return metricsTextProblem(text, {});
}

TEST(MetricsText, TheServicesOwnFileReadsAndCarriesEveryRequiredFamily) {
    EXPECT_EQ(metricsTextProblem(metrics_renderText(), kServiceMetricFamilies), "");
}

TEST(MetricsText, WhatTheFormatAllowsIsRead) {
    EXPECT_EQ(problem("# a comment\n"
                      "\n"
                      "# HELP a_total Escapes \\\\ and \\n in help.\n"
                      "# TYPE a_total counter\n"
                      "a_total{x=\"q\\\"uote\\\\ \\n\",y=\"\",} 1 1700000000000\n"
                      "a_total{y=\"\",x=\"other\"} +Inf\n"
                      "# TYPE h histogram\n"
                      "h_bucket{le=\"0.5\"} 3\n"
                      "h_bucket{le=\"+Inf\"} 4\n"
                      "h_sum 1.5e-3\n"
                      "h_count 4\n"
                      "g:rule NaN\n"
                      "g2\t-0.25\n"),
              "");
}

TEST(MetricsText, EachFlawIsReportedWithItsLine) {
    struct Case {
        const char* text;
        const char* reason;
    };
    const Case cases[] = {
        {"a 1", "the last line has no newline"},
        {"a 1\n1b 2\n", "line 2: a sample line must begin with a metric name"},
        {"a{1x=\"v\"} 1\n", "malformed label"},
        {"a{x=v} 1\n", "has no quoted value"},
        {"a{x=\"v\\t\"} 1\n", "malformed value"},
        {"a{x=\"v\" 1\n", "labels not closed"},
        {"a{x=\"v\",x=\"w\"} 1\n", "label x twice"},
        {"a\n", "no value after a"},
        {"a one\n", "value 'one' is not a number"},
        {"a 1 2 3\n", "text after the value of a"},
        {"a 1 1.5\n", "text after the value of a"},
        {"# TYPE a counter\n# TYPE a gauge\na 1\n", "line 2: second TYPE for a"},
        {"# TYPE a meter\n", "TYPE of a is not a metric type"},
        {"a 1\n# TYPE a gauge\n", "TYPE for a after its samples"},
        {"# HELP a x\n# HELP a y\n", "second HELP for a"},
        {"# HELP a bad \\t escape\n", "invalid escape"},
        {"# HELP 9a x\n", "HELP without a valid metric name"},
        {"a{x=\"1\"} 1\nb 2\na{x=\"2\"} 3\n", "line 3: samples of a are not together"},
        {"a{x=\"1\",y=\"2\"} 1\na{y=\"2\",x=\"1\"} 2\n", "second sample of a{x=\"1\",y=\"2\",}"},
    };
    for (const Case& each : cases) {
        std::string found = problem(each.text);
        EXPECT_NE(found.find(each.reason), std::string::npos)
            << "text: " << each.text << "\nproblem: " << found;
    }
}

TEST(MetricsText, AFamilyWithoutASampleIsMissing) {
    const std::string_view wanted[] = {"a_total", "b"};
    EXPECT_EQ(metricsTextProblem("# TYPE b gauge\nb 0\n", wanted), "no sample of a_total");
    // HELP and TYPE alone are no sample.
    EXPECT_EQ(metricsTextProblem("# TYPE a_total counter\nb 1\n", wanted), "no sample of a_total");
    EXPECT_EQ(metricsTextProblem("a_total{x=\"y\"} 1\nb 1\n", wanted), "");
}

}  // namespace
