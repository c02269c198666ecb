#include "tests/support/metricsReader.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace lctest {

double ParsedMetrics::value(const std::string& sample) const {
    auto found = samples.find(sample);
    return found == samples.end() ? std::nan("") : found->second;
}

ParsedMetrics parseMetricsFile(const std::string& path) {
    ParsedMetrics result;
    std::string command =
        std::string(LC_METRICS_PYTHON) + " " + LC_METRICS_PARSER + " '" + path + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        result.parserOutput = "popen failed: " + command;
        return result;
    }
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.parserOutput.append(buffer, count);
    }
    int status = pclose(pipe);
    result.parsed = status == 0;

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

}  // namespace lctest
