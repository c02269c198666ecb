#include "client/cli/metricsText.h"

#include <cerrno>
#include <cstdlib>
#include <map>
#include <set>
#include <vector>

namespace logoffcookie::cli {

namespace {

bool isNameStart(char c, bool colonAllowed) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
           (colonAllowed && c == ':');
}

bool isNameChar(char c, bool colonAllowed) {
    return isNameStart(c, colonAllowed) || (c >= '0' && c <= '9');
}

// Takes a metric name (colons allowed) or a label name from the front of `rest`.
std::string_view takeName(std::string_view& rest, bool colonAllowed) {
    size_t length = 0;
    if (!rest.empty() && isNameStart(rest[0], colonAllowed)) {
        length = 1;
        while (length < rest.size() && isNameChar(rest[length], colonAllowed)) {
            ++length;
        }
    }
    std::string_view name = rest.substr(0, length);
    rest.remove_prefix(length);
    return name;
}

void skipBlanks(std::string_view& rest) {
    while (!rest.empty() && (rest[0] == ' ' || rest[0] == '\t')) {
        rest.remove_prefix(1);
    }
}

std::string_view takeToken(std::string_view& rest) {
    skipBlanks(rest);
    size_t end = rest.find_first_of(" \t");
    std::string_view token = rest.substr(0, end);
    rest.remove_prefix(token.size());
    return token;
}

// A value as the format's reference parser reads it: a Go float, NaN and
// signed Inf included.
bool isFloat(std::string_view token) {
    if (token == "NaN" || token == "+Inf" || token == "-Inf" || token == "Inf") {
        return true;
    }
    if (token.empty() || token.find_first_not_of("0123456789+-.eE") != std::string_view::npos) {
        return false;
    }
    std::string text(token);
    char* end = nullptr;
    errno = 0;
    std::strtod(text.c_str(), &end);
    return *end == '\0';
}

bool isTimestamp(std::string_view token) {
    size_t digits = !token.empty() && token[0] == '-' ? 1 : 0;
    return token.size() > digits && token.size() <= 19 + digits &&
           token.find_first_not_of("0123456789", digits) == std::string_view::npos;
}

// The docstring of HELP knows two escapes, a label value three.
bool escapesAreValid(std::string_view text, std::string_view escapable) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\') {
            if (i + 1 >= text.size() || escapable.find(text[i + 1]) == std::string_view::npos) {
                return false;
            }
            ++i;
        }
    }
    return true;
}

class Reader {
  public:
    std::string problem;

    void line(std::string_view text) {
        if (text.empty()) {
            return;
        }
        if (text[0] == '#') {
            comment(text.substr(1));
        } else {
            sample(text);
        }
    }

    const std::set<std::string, std::less<>>& families() const { return sampled_; }

  private:
    void comment(std::string_view rest) {
        std::string_view keyword = takeToken(rest);
        if (keyword != "HELP" && keyword != "TYPE") {
            return;  // any other comment
        }
        skipBlanks(rest);
        std::string_view name = takeName(rest, true);
        if (name.empty() || (!rest.empty() && rest[0] != ' ' && rest[0] != '\t')) {
            problem = std::string(keyword) + " without a valid metric name";
            return;
        }
        skipBlanks(rest);
        std::string key(name);
        if (keyword == "HELP") {
            if (!helped_.insert(key).second) {
                problem = "second HELP for " + key;
            } else if (!escapesAreValid(rest, "\\n")) {
                problem = "HELP for " + key + " has an invalid escape";
            }
            return;
        }
        static const std::set<std::string_view> kTypes = {"counter", "gauge", "histogram",
                                                          "summary", "untyped"};
        std::string_view type = takeToken(rest);
        skipBlanks(rest);
        if (kTypes.count(type) == 0 || !rest.empty()) {
            problem = "TYPE of " + key + " is not a metric type";
        } else if (types_.count(key) != 0) {
            problem = "second TYPE for " + key;
        } else if (seen_.count(key) != 0) {
            problem = "TYPE for " + key + " after its samples";
        } else {
            types_[key] = std::string(type);
        }
    }

    // The family a sample belongs to: histograms and summaries have samples
    // named after them with a suffix.
    std::string familyOf(std::string_view name) const {
        for (std::string_view suffix : {"_bucket", "_sum", "_count"}) {
            if (name.size() > suffix.size() && name.ends_with(suffix)) {
                auto base = types_.find(std::string(name.substr(0, name.size() - suffix.size())));
                if (base != types_.end() &&
                    (base->second == "histogram" || base->second == "summary")) {
                    return base->first;
                }
            }
        }
        return std::string(name);
    }

    void sample(std::string_view rest) {
        std::string_view whole = rest;
        std::string_view name = takeName(rest, true);
        if (name.empty()) {
            problem = "a sample line must begin with a metric name";
            return;
        }
        std::string labels;
        if (!rest.empty() && rest[0] == '{' && !readLabels(rest, labels)) {
            return;
        }
        if (rest.empty() || (rest[0] != ' ' && rest[0] != '\t')) {
            problem = "no value after " + std::string(whole.substr(0, whole.size() - rest.size()));
            return;
        }
        std::string_view value = takeToken(rest);
        std::string_view timestamp = takeToken(rest);
        skipBlanks(rest);
        if (!isFloat(value)) {
            problem = "value '" + std::string(value) + "' is not a number";
            return;
        }
        if ((!timestamp.empty() && !isTimestamp(timestamp)) || !rest.empty()) {
            problem = "text after the value of " + std::string(name);
            return;
        }
        std::string family = familyOf(name);
        // One family's samples stand together: the collector refuses a
        // family that comes back.
        if (family != current_ && seen_.count(family) != 0) {
            problem = "samples of " + family + " are not together";
            return;
        }
        current_ = family;
        seen_.insert(family);
        sampled_.insert(std::string(name));
        if (!series_.insert(std::string(name) + labels).second) {
            problem = "second sample of " + std::string(name) + labels;
        }
    }

    // Reads {name="value",...} from the front of `rest` into a canonical text.
    bool readLabels(std::string_view& rest, std::string& labels) {
        rest.remove_prefix(1);
        std::map<std::string, std::string> pairs;
        for (;;) {
            skipBlanks(rest);
            if (!rest.empty() && rest[0] == '}') {
                rest.remove_prefix(1);
                break;
            }
            std::string_view label = takeName(rest, false);
            skipBlanks(rest);
            if (label.empty() || rest.empty() || rest[0] != '=') {
                problem = "malformed label";
                return false;
            }
            rest.remove_prefix(1);
            skipBlanks(rest);
            if (rest.empty() || rest[0] != '"') {
                problem = "label " + std::string(label) + " has no quoted value";
                return false;
            }
            size_t end = 1;
            while (end < rest.size() && rest[end] != '"') {
                end += rest[end] == '\\' ? 2 : 1;
            }
            if (end >= rest.size() || !escapesAreValid(rest.substr(1, end - 1), "\\\"n")) {
                problem = "label " + std::string(label) + " has a malformed value";
                return false;
            }
            if (!pairs.emplace(label, rest.substr(1, end - 1)).second) {
                problem = "label " + std::string(label) + " twice";
                return false;
            }
            rest.remove_prefix(end + 1);
            skipBlanks(rest);
            if (!rest.empty() && rest[0] == ',') {
                rest.remove_prefix(1);
            } else if (rest.empty() || rest[0] != '}') {
                problem = "labels not closed";
                return false;
            }
        }
        for (const auto& [label, value] : pairs) {
            labels += label + "=\"" + value + "\",";
        }
        labels = "{" + labels + "}";
        return true;
    }

    std::set<std::string> helped_;
    std::map<std::string, std::string> types_;
    std::set<std::string> seen_;  // families whose samples have been read
    std::string current_;
    std::set<std::string> series_;
    std::set<std::string, std::less<>> sampled_;  // sample names
};

}  // namespace

std::string metricsTextProblem(std::string_view text, std::span<const std::string_view> families) {
    if (text.empty()) {
        return "the file is empty";
    }
    if (text.back() != '\n') {
        return "the last line has no newline";
    }
    Reader reader;
    size_t number = 0;
    while (!text.empty()) {
        ++number;
        size_t end = text.find('\n');
        reader.line(text.substr(0, end));
        if (!reader.problem.empty()) {
            return "line " + std::to_string(number) + ": " + reader.problem;
        }
        text.remove_prefix(end + 1);
    }
    for (std::string_view family : families) {
        if (reader.families().count(family) == 0) {
            return "no sample of " + std::string(family);
        }
    }
    return {};
}

}  // namespace logoffcookie::cli
