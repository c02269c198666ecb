// A subcommand's options as a table, and the one walk over the arguments
// that fills them in: "--name value" and "--name=value", each option at most
// once, --help or -h anywhere. Every subcommand reads its options here.
#pragma once

#include <cstddef>
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

// The options of a sibling subcommand that this one lacks (add's --kind for
// query): naming one is refused as "'NAME' is only for COMMAND", which says
// more than an unknown argument.
template <typename Target>
struct SiblingOptions {
    std::span<const CommandOption<Target>> table;
    std::string_view command;
};

enum class OptionsParsed { Ok, Help, Error };

// The index of the option called `name`, or the table's size.
template <typename Target>
size_t findCommandOption(std::span<const CommandOption<Target>> table, std::string_view name) {
    size_t index = 0;
    while (index < table.size() && table[index].name != name) {
        ++index;
    }
    return index;
}

// On Error, `error` says which argument is wrong and why. Help means --help
// came: nothing after it was checked, what came before it is in `target`.
template <typename Target>
OptionsParsed parseCommandOptions(const Arguments& args,
                                  std::span<const CommandOption<Target>> table, Target& target,
                                  std::string& error, const SiblingOptions<Target>& sibling = {}) {
    auto quoted = [](std::string_view text) { return "'" + std::string(text) + "'"; };
    // An option given twice is refused rather than the last one winning: a
    // script that says --created twice has said two different things.
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
        const size_t index = findCommandOption(table, name);
        if (index == table.size()) {
            error = findCommandOption(sibling.table, name) < sibling.table.size()
                        ? quoted(name) + " is only for " + std::string(sibling.command)
                        : "unknown argument " + quoted(arg);
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

// A command line a subcommand cannot use: says why, points at the
// subcommand's help, and gives the exit status of a wrong command line.
inline int refuseCommandLine(std::ostream& err, std::string_view command,
                             const std::string& error) {
    err << "logoffcookie " << command << ": " << error << "\nTry 'logoffcookie " << command
        << " --help'.\n";
    return kExitUsage;
}

}  // namespace logoffcookie::cli
