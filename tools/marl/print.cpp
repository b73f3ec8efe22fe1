// marl print: load a document and print it as Marl text.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "input.h"
#include "marllib_format.hpp"
#include "marllib_reader.hpp"
#include "output.h"

namespace MarlTool {

const char kPrintUsage[] =
    "usage: marl print [-o FILE] [--] [INPUT]\n"
    "\n"
    "Loads INPUT as a document and prints it as Marl text: one tag per line, indented by two\n"
    "spaces per level, with malformed tags and the text between tags left out.\n"
    "INPUT '-', or no INPUT, reads standard input.\n"
    "\n"
    "options:\n"
    "  -o, --output FILE   write to FILE instead of standard output. The text goes to a new\n"
    "                      file beside FILE, which then replaces FILE: a failed write leaves\n"
    "                      FILE as it was. FILE may be INPUT itself. '-' is standard output;\n"
    "                      a device or pipe is written directly.\n"
    "  -h, --help          show this help\n"
    "\n"
    "exit status: 0 success, 2 INPUT cannot be read, FILE cannot be written or the command\n"
    "line is wrong.\n";

namespace {

const option kPrintOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

}  // namespace

int RunPrint(int argc, char** argv) {
    std::string output = "-";
    std::vector<std::string> operands;
    const int parsed = ParseOptions(argc, argv, {":ho:", kPrintOptions, kPrintUsage}, operands,
                                    [&](int, const char* argument) {
                                        output = argument;
                                        return true;
                                    });
    if (parsed >= 0) return parsed;
    if (operands.size() > 1) {
        return WrongUsage("print takes one INPUT, not " + std::to_string(operands.size()),
                          "marl print --help");
    }

    // The text is printed as it is read: the document it loads into is not needed to
    // write that document's printed form.
    std::string text;
    if (!Read(operands.empty() ? "-" : operands[0], text)) return kTrouble;
    return WriteFile(output,
                     [&](std::FILE* stream) {
                         MarlFormat::FileOutput out(stream);
                         return marl::print_text(text, out) && out.Flush();
                     })
               ? kSuccess
               : kTrouble;
}

}  // namespace MarlTool
