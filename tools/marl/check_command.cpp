// marl check: report what the reader would skip, cut or leave open, as a compiler would.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "input.h"
#include "marllib.hpp"
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

struct Counts {
    size_t errors = 0;
    size_t warnings = 0;
};

// Writes the source's problems to standard output, one line each, as many as maxMessages
// allows (0: all), then "... and K more" for the rest; counts them all.
Counts Report(const marl::Source& source, int32_t maxMessages) {
    Counts found;
    size_t shown = 0;
    const std::vector<marl::diagnostic>& problems = source.problems();
    for (const marl::diagnostic& problem : problems) {
        found.errors += problem.level == marl::severity::error;
        found.warnings += problem.level == marl::severity::warning;
        if (maxMessages == 0 || shown < static_cast<size_t>(maxMessages)) {
            ++shown;
            std::printf("%s\n", source.describe(problem).c_str());
        }
    }
    if (shown < problems.size()) std::printf("... and %zu more\n", problems.size() - shown);
    return found;
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
        const std::optional<marl::Source> source = Load(name);
        if (!source) {
            status = kTrouble;
            continue;
        }
        const Counts found = Report(*source, maxMessages);
        NoteStandardOutput();
        const bool failed = found.errors > 0 || (strict && found.warnings > 0);
        if (failed && status == kSuccess) status = kFailed;
    }
    return status;
}

}  // namespace MarlTool
