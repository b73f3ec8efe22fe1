// marl check: report what the reader would skip, cut or leave open, as a compiler would.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "source.h"
#include "output.h"

namespace MarlTool {

const char kCheckUsage[] =
    "usage: marl check [--strict] [--max-messages N] [--] [FILE]...\n"
    "\n"
    "Reports every malformed tag, unclosed container and cut name in each FILE, one line\n"
    "each: 'FILE:LINE:COLUMN: error|warning|note: MESSAGE'. FILE '-', or no FILE, reads\n"
    "standard input (reported as <stdin>).\n"
    "The reports are the command's result and go to standard output; marl's own errors, such\n"
    "as a FILE that cannot be read, go to standard error.\n"
    "\n"
    "options:\n"
    "  --strict            warnings also give exit status 1 (a file cut off with containers\n"
    "                      left open, say)\n"
    "  --max-messages N    show at most N reports for each FILE, then '... and K more';\n"
    "                      0 shows them all (default 100)\n"
    "  -h, --help          show this help\n"
    "\n"
    "exit status: 0 no errors, 1 an error (or with --strict a warning) in some FILE, 2 a FILE\n"
    "cannot be read or the command line is wrong. Every FILE is checked either way.\n";

namespace {

enum : int { kStrict = 256, kMaxMessages };

const option kCheckOptions[] = {
    {"strict", no_argument, nullptr, kStrict},
    {"max-messages", required_argument, nullptr, kMaxMessages},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

// Writes the source's problems to standard output, one line each (the load kept as many as
// will be shown), then "... and K more" for those it only counted.
void Report(const marl::Source& source) {
    const std::vector<marl::diagnostic>& shown = Problems(source);
    for (const marl::diagnostic& problem : shown) {
        std::printf("%s\n", source.describe(problem).c_str());
    }
    const std::size_t more = Counted(source).total() - shown.size();
    if (more > 0) std::printf("... and %zu more\n", more);
}

}  // namespace

int RunCheck(int argc, char** argv) {
    bool strict = false;
    int32_t maxMessages = 100;
    std::vector<std::string> operands;
    const int parsed = ParseOptions(
        argc, argv, {":h", kCheckOptions, kCheckUsage}, operands,
        [&](int option, const char* argument) {
            if (option == kStrict) return strict = true;
            maxMessages = ParseCount(argument);
            if (maxMessages >= 0) return true;
            WrongUsage(std::string("--max-messages takes a count from 0, not '") + argument + "'",
                       "marl check --help");
            return false;
        });
    if (parsed >= 0) return parsed;
    if (operands.empty()) operands.emplace_back("-");

    int status = kSuccess;
    for (const std::string& name : operands) {
        const std::optional<marl::Source> source =
            Load(name, maxMessages == 0 ? marl::Source::all_problems
                                        : static_cast<std::size_t>(maxMessages));
        if (!source) {
            status = kTrouble;
            continue;
        }
        Report(*source);
        NoteStandardOutput();
        const marl::problem_counts& found = Counted(*source);
        const bool failed = found.errors > 0 || (strict && found.warnings > 0);
        if (failed && status == kSuccess) status = kFailed;
    }
    return status;
}

}  // namespace MarlTool
