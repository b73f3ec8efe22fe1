// The marl tool's command-line conventions: exit statuses, option parsing with getopt_long
// and the messages for a wrong command line.
#ifndef MARL_TOOL_CLI_H
#define MARL_TOOL_CLI_H

#include <getopt.h>

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
// matching short options, and the text that --help prints.
struct CommandLine {
    const char* shortOptions;
    const option* longOptions;
    const char* usage;
};

// Parses argv[1..] as getopt_long does (options may follow operands; "--" ends them) and calls
// take(option, argument) for every option but --help, which take turns into false when the
// argument is bad (it reports that itself). Returns -1 when the command should run, with the
// operands in `operands`; otherwise the status to exit with: kSuccess after --help, kTrouble
// after a wrong option, which it reports.
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
    optind = 0;  // starts getopt afresh, also after an earlier parse
    opterr = 0;  // the messages are the tool's own
    for (;;) {
        const int result = getopt_long(argc, argv, line.shortOptions, line.longOptions, nullptr);
        if (result == -1) break;
        if (result == 'h') return Help(line.usage);
        if (result == '?' || result == ':') return WrongOption(argv, line.longOptions, result);
        if (!take(result, optarg)) return kTrouble;
    }
    operands.assign(argv + optind, argv + argc);
    return -1;
}

}  // namespace MarlTool

#endif  // MARL_TOOL_CLI_H
