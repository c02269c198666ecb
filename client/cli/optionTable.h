// A subcommand's options as a table, and the one walk over the arguments
// that fills them in: "--name value" and "--name=value", each option at most
// once, --help or -h anywhere.
#pragma once

#include <iomanip>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "client/cli/subcommand.h"

namespace logoffcookie::cli {

template <typename Target>
struct CommandOption {
    std::string_view name;
    std::string_view valueName;  // empty for a flag
    std::string_view help;
    // False when the value is not acceptable.
    bool (*apply)(std::string_view value, Target& target);
};

enum class OptionsParsed { Ok, Help, Error };

// On Error, `error` says which argument is wrong and why. Help means --help
// came: nothing after it was checked.
template <typename Target>
OptionsParsed parseCommandOptions(const Arguments& args,
                                  std::span<const CommandOption<Target>> table, Target& target,
                                  std::string& error) {
    auto quoted = [](std::string_view text) { return "'" + std::string(text) + "'"; };
    // An option given twice is refused rather than the last one winning.
    std::vector<bool> given(table.size(), false);
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            return OptionsParsed::Help;
        }
        std::string_view name = arg;
        std::string_view value;
        bool inlineValue = false;
        if (size_t equals = arg.find('='); arg.substr(0, 2) == "--" && equals != arg.npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            inlineValue = true;
        }
        size_t index = 0;
        while (index < table.size() && table[index].name != name) {
            ++index;
        }
        if (index == table.size()) {
            error = "unknown argument " + quoted(arg);
            return OptionsParsed::Error;
        }
        const CommandOption<Target>& option = table[index];
        if (given[index]) {
            error = quoted(name) + " is given more than once";
            return OptionsParsed::Error;
        }
        given[index] = true;
        if (option.valueName.empty()) {
            if (inlineValue) {
                error = quoted(name) + " takes no value";
                return OptionsParsed::Error;
            }
        } else if (!inlineValue) {
            if (i + 1 == args.size()) {
                error = quoted(name) + " needs a value (" + std::string(option.valueName) + ")";
                return OptionsParsed::Error;
            }
            value = args[++i];
        }
        if (!option.apply(value, target)) {
            error = "bad value " + quoted(value) + " for " + std::string(name) + ": expected " +
                    std::string(option.valueName) + ", " + std::string(option.help);
            return OptionsParsed::Error;
        }
    }
    return OptionsParsed::Ok;
}

// The "Options:" part of a help text, --help included.
template <typename Target>
void printCommandOptions(std::ostream& out, std::span<const CommandOption<Target>> table,
                         int width) {
    out << "Options:\n";
    for (const CommandOption<Target>& option : table) {
        std::string head(option.name);
        if (!option.valueName.empty()) {
            head += " " + std::string(option.valueName);
        }
        out << "  " << std::left << std::setw(width) << head << option.help << "\n";
    }
    out << "  " << std::left << std::setw(width) << "--help"
        << "this text\n";
}

}  // namespace logoffcookie::cli
