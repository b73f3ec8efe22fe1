// The marl tool's command-line conventions: exit statuses, option parsing with getopt_long
// and the messages for a wrong command line.
#ifndef MARL_TOOL_CLI_H
#define MARL_TOOL_CLI_H

#include <getopt.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace MarlTool {

// The same statuses for every command.
enum ExitStatus : int {
    kSuccess = 0,
    kFailed = 1,   // check found an error (a warning with --strict), or get found no tag
    kTrouble = 2,  // a file cannot be read or written, or the command line is wrong
};

// One command's options: its getopt_long table (with --help, ended by a zero entry), the
// matching short options (as getopt_long takes them after its leading '+'), the text that
// --help prints, and which operands are values.
struct CommandLine {
    const char* shortOptions;
    const option* longOptions;
    const char* usage;
    // Whether operand number k (from 0) is a value, which is taken as it stands even when it
    // begins with '-' (such as -5); null when no operand is.
    bool (*isValue)(std::size_t k) = nullptr;
    // The number of operands after which the options end: every later argument is an operand.
    std::size_t optionsEndAfter = SIZE_MAX;
};

// Parses argv[1..] as getopt_long does, options and operands in any order ("--" ends the
// options), but takes an argument where line.isValue says a value stands as an operand
// whatever else it begins with, so that "set F P -5" sets -5 and "set F P -- -5" still does.
// Calls take(option, argument) for every option but --help, which take turns into false when
// the argument is bad (it reports that itself). Returns -1 when the command should run, with
// the operands in `operands`; otherwise the status to exit with: kSuccess after --help,
// kTrouble after a wrong option, which it reports.
template <typename Take>
int ParseOptions(int argc, char** argv, const CommandLine& line, std::vector<std::string>& operands,
                 Take take);

// Reports an unknown or incomplete option (getopt_long's '?' or ':') on standard error, with
// the hint to ask for help; returns kTrouble.
int WrongOption(char** argv, const option* longOptions, int result);
// Reports a wrong command line in words of its own, with the hint to run `help` (such as
// "marl get --help"); returns kTrouble.
int WrongUsage(const std::string& complaint, const char* help = "marl --help");
// Prints usage to standard output; returns kSuccess.
int Help(const char* usage);

// A whole non-negative decimal number in 0 .. 2^31 - 1, or -1.
int32_t ParseCount(const char* text);

template <typename Take>
int ParseOptions(int argc, char** argv, const CommandLine& line, std::vector<std::string>& operands,
                 Take take) {
    // In '+' mode getopt_long stops at the first operand, so that each argument is looked at
    // here first, where its place among the operands is known.
    const std::string shortOptions = std::string("+") + line.shortOptions;
    opterr = 0;  // the messages are the tool's own
    operands.clear();
    int next = 1;  // the argument to look at
    while (next < argc && operands.size() < line.optionsEndAfter) {
        const std::string argument = argv[next];
        if (argument == "--") {
            ++next;
            break;
        }
        const bool value = line.isValue != nullptr && line.isValue(operands.size());
        if (value || argument.size() < 2 || argument[0] != '-') {
            operands.push_back(argument);
            ++next;
            continue;
        }
        // getopt_long reads the options of this argument (and the argument of the last of
        // them, which may be the next one) afresh, argv[next - 1] standing in for argv[0].
        char** const from = argv + next - 1;
        optind = 0;  // starts getopt afresh
        do {
            const int result =
                getopt_long(argc - next + 1, from, shortOptions.c_str(), line.longOptions, nullptr);
            if (result == 'h') return Help(line.usage);
            if (result == '?' || result == ':') return WrongOption(from, line.longOptions, result);
            if (!take(result, optarg)) return kTrouble;
        } while (optind <= 1);  // while inside a group such as -ip
        next += optind - 1;
    }
    operands.insert(operands.end(), argv + next, argv + argc);
    return -1;
}

}  // namespace MarlTool

#endif  // MARL_TOOL_CLI_H
