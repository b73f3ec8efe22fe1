// marl json: a document in the JSON form of marllib_json.hpp.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "input.h"
#include "marllib_format.hpp"
#include "marllib_json.hpp"
#include "output.h"

namespace MarlTool {

const char kJsonUsage[] =
    "usage: marl json [--pretty | --compact] [-o FILE] [--] [INPUT]\n"
    "\n"
    "Writes the document that INPUT loads into as JSON, in a form that keeps all of it: an\n"
    "array of the top-level entries, each an object of one member, NAME: a string for a leaf\n"
    "with a value, null for one without, an array of its entries for a container. Where a\n"
    "name or a value is not UTF-8, the entry has two members instead: \"name\" or \"name64\"\n"
    "(base64), then \"value\", \"value64\" or \"entries\". 'marl from-json' reads it back.\n"
    "INPUT '-', or no INPUT, reads standard input.\n"
    "\n"
    "options:\n"
    "  --pretty            one entry a line, indented (the default on a terminal)\n"
    "  --compact           no blanks at all (the default elsewhere)\n"
    "  -o, --output FILE   write to FILE instead of standard output, as 'marl print -o' does:\n"
    "                      a failed write leaves FILE as it was\n"
    "  -h, --help          show this help\n"
    "\n"
    "exit status: 0 success, 2 INPUT cannot be read, FILE cannot be written or the command\n"
    "line is wrong.\n";

namespace {

enum : int { kPretty = 256, kCompact };

const option kJsonOptions[] = {
    {"pretty", no_argument, nullptr, kPretty},
    {"compact", no_argument, nullptr, kCompact},
    {"output", required_argument, nullptr, 'o'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

}  // namespace

int RunJson(int argc, char** argv) {
    std::string output = "-";
    int layout = 0;  // kPretty, kCompact, or 0 for the default
    std::vector<std::string> operands;
    const int parsed = ParseOptions(argc, argv, {":ho:", kJsonOptions, kJsonUsage}, operands,
                                    [&](int option, const char* argument) {
                                        if (option == 'o') {
                                            output = argument;
                                        } else {
                                            layout = option;
                                        }
                                        return true;
                                    });
    if (parsed >= 0) return parsed;
    if (operands.size() > 1) {
        return WrongUsage("json takes one INPUT, not " + std::to_string(operands.size()),
                          "marl json --help");
    }
    if (layout == 0) layout = output == "-" && isatty(STDOUT_FILENO) != 0 ? kPretty : kCompact;

    // Written as it is read, as marl print writes: the document itself is not needed.
    std::string text;
    if (!Read(operands.empty() ? "-" : operands[0], text)) return kTrouble;
    const marl::json_layout form =
        layout == kPretty ? marl::json_layout::pretty : marl::json_layout::compact;
    return WriteFile(output,
                     [&](std::FILE* stream) {
                         MarlFormat::FileOutput out(stream);
                         return marl::write_json_text(text, out, form) && out.Flush();
                     })
               ? kSuccess
               : kTrouble;
}

}  // namespace MarlTool
