// marl get: print the value or the container that each path names.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "input.h"
#include "source.h"
#include "output.h"

namespace MarlTool {

const char kGetUsage[] =
    "usage: marl get [-r | -w] [--] FILE PATH...\n"
    "\n"
    "Prints the tag that each PATH names in FILE, in turn: a leaf's value followed by a\n"
    "newline, or a container as Marl text; with -w, where the tag stands. FILE '-' reads\n"
    "standard input.\n"
    "\n"
    "PATH: names from the top of the document down, joined by '/'; a leading '/' is allowed.\n"
    "  name[N]     the N-th tag of that name in its collection, counting from 1 (default 1)\n"
    "  \\/ \\[ \\\\    a '/', '[' or '\\' inside a name\n"
    "  /           the top level: the whole document, as 'marl print' prints it\n"
    "  example: marl get config.marl 'server/users/user[2]'\n"
    "\n"
    "options:\n"
    "  -r, --raw    write each value's bytes exactly, with no newline after it\n"
    "  -w, --where  write 'FILE:LINE:COLUMN' of each tag's '<' instead (standard input is\n"
    "               <stdin>); lines and columns count from 1, the column in bytes. Not\n"
    "               for '/', which stands nowhere.\n"
    "  -h, --help   show this help\n"
    "\n"
    "exit status: 0 every PATH found, 1 some PATH found nothing (the others are still\n"
    "printed), 2 FILE cannot be read, a PATH is malformed or the command line is wrong.\n";

namespace {

const option kGetOptions[] = {
    {"raw", no_argument, nullptr, 'r'},
    {"where", no_argument, nullptr, 'w'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

const char kGetHelp[] = "marl get --help";
const char kTopLevel[] = "/";

// The tag's place, as "FILE:LINE:COLUMN", as grep -n and compilers write places.
void ShowWhere(const marl::Source& source, marl::tag tag) {
    const marl::position at = *Where(source, tag);  // every tag of a loaded text has one
    std::printf("%s:%d:%d\n", source.name().c_str(), at.line, at.column);
}

// A container as Marl text; a leaf's value bytes, then a newline unless raw.
void Show(const marl::Document& document, marl::tag tag, bool raw) {
    if (!document.is_leaf(tag)) {
        document.write(stdout, tag);
        return;
    }
    const std::string value = document.value(tag);
    std::fwrite(value.data(), 1, value.size(), stdout);
    if (!raw) std::fputc('\n', stdout);
}

}  // namespace

int RunGet(int argc, char** argv) {
    bool raw = false;
    bool where = false;
    std::vector<std::string> operands;
    const int parsed = ParseOptions(argc, argv, {":hrw", kGetOptions, kGetUsage}, operands,
                                    [&](int option, const char*) {
                                        (option == 'w' ? where : raw) = true;
                                        return true;
                                    });
    if (parsed >= 0) return parsed;
    if (raw && where) return WrongUsage("get takes -r or -w, not both", kGetHelp);
    if (operands.size() < 2) return WrongUsage("get needs a FILE and at least one PATH", kGetHelp);

    for (auto path = operands.begin() + 1; path != operands.end(); ++path) {
        if (*path == kTopLevel && where) {
            return WrongUsage(
                "-w shows where tags stand; '/' is the top level, which stands nowhere", kGetHelp);
        }
        if (*path != kTopLevel && !marl::parse_path(*path)) {
            return WrongUsage("malformed path '" + *path + "'", kGetHelp);
        }
    }
    const std::optional<marl::Source> source = Load(operands[0]);
    if (!source) return kTrouble;
    const marl::Document document = source->document();

    int status = kSuccess;
    for (auto path = operands.begin() + 1; path != operands.end(); ++path) {
        if (*path == kTopLevel) {
            document.write(stdout);  // the printer of marl print, from the top
            continue;
        }
        const std::vector<marl::tag> tags = document.select(*path);
        for (const marl::tag tag : tags) {
            if (where) {
                ShowWhere(*source, tag);
            } else {
                Show(document, tag, raw);
            }
        }
        if (!tags.empty()) continue;
        NoteStandardOutput();
        std::fflush(stdout);  // keeps this complaint after the results before it
        std::fprintf(stderr, "marl: no tag '%s' in %s\n", path->c_str(),
                     Shown(operands[0]).c_str());
        status = kFailed;
    }
    NoteStandardOutput();
    return status;
}

}  // namespace MarlTool
