#include "tests/support/metricsReader.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tests/support/shellOutput.h"
#include "tests/support/waitUntil.h"

namespace lctest {

double ParsedMetrics::value(const std::string& sample) const {
    auto found = samples.find(sample);
    return found == samples.end() ? std::nan("") : found->second;
}

ParsedMetrics parseMetricsFile(const std::string& path) {
    ParsedMetrics result;
    std::string command =
        std::string(LC_METRICS_PYTHON) + " " + LC_METRICS_PARSER + " '" + path + "'";
    std::optional<ShellOutput> output = runShell(command);
    if (!output) {
        result.parserOutput = "popen failed: " + command + " 2>&1";
        return result;
    }
    result.parserOutput = output->text;
    result.parsed = output->status == 0;

    std::istringstream lines(result.parserOutput);
    for (std::string kind, name, value; lines >> kind >> name >> value;) {
        if (kind == "family") {
            result.familyOrder.push_back(name);
            result.familyTypes[name] = value;
        } else if (kind == "sample") {
            result.samples[name] = std::strtod(value.c_str(), nullptr);
        }
    }
    return result;
}

bool waitForSample(const std::string& path, const std::string& sample, double atLeast,
                   std::chrono::milliseconds timeout, ParsedMetrics& parsed) {
    return waitUntil(
        [&] {
            parsed = parseMetricsFile(path);
            return parsed.value(sample) >= atLeast;
        },
        timeout);
}

}  // namespace lctest
