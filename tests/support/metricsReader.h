// Reads a metrics file through the Prometheus client library's own parser of
// the text format (Debian's python3-prometheus-client), so the tests check
// the file against an independent reading of the format, not against ours.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace lctest {

struct ParsedMetrics {
    bool parsed = false;
    std::string parserOutput;              // everything the parser said
    std::vector<std::string> familyOrder;  // family names as they came
    std::map<std::string, std::string> familyTypes;
    std::map<std::string, double> samples;  // "name{key=\"value\"}" -> value

    // The value of a sample, NaN when the file has none of that name.
    double value(const std::string& sample) const;
};

ParsedMetrics parseMetricsFile(const std::string& path);

// Parses the file until `sample` is at least `atLeast` or `timeout` passes
// (the worker rewrites it now and then); `parsed` is the last reading.
bool waitForSample(const std::string& path, const std::string& sample, double atLeast,
                   std::chrono::milliseconds timeout, ParsedMetrics& parsed);

}  // namespace lctest
