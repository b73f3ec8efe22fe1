// marl: print, check, query and edit Marl documents from the command line.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "marllib_version.h"
#include "output.h"

namespace {

using namespace MarlTool;

const char kUsageHead[] =
    "usage: marl [--help | --version] COMMAND [OPTION]... [ARGUMENT]...\n"
    "\n"
    "Prints, checks, queries and edits Marl documents.\n"
    "\n"
    "commands:\n";

const char kUsageTail[] =
    "set, add, rm and rename keep every byte of FILE that the edit does not change, and write\n"
    "the text to standard output, or with -i in place of FILE.\n"
    "\n"
    "A FILE or INPUT of '-', or none, reads standard input; '--' ends the options.\n"
    "'marl COMMAND --help' describes a command and its options.\n"
    "\n"
    "exit status:\n"
    "  0  success\n"
    "  1  check found an error (or a warning with --strict), get or ls found no tag, or set,\n"
    "     add, rm or rename found no tag or one of the wrong kind for a PATH (and wrote\n"
    "     nothing)\n"
    "  2  a file cannot be read or written, or the command line is wrong\n";

const option kOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

struct Command {
    const char* usage;    // its help, which begins "usage: marl NAME ..."
    const char* summary;  // what it does, for the top-level help; '\n' goes on below
    int (*run)(int argc, char** argv);
};

const Command kCommands[] = {
    {kPrintUsage, "load a document and print it as Marl text", RunPrint},
    {kCheckUsage, "report malformed tags, unclosed containers and cut names", RunCheck},
    {kGetUsage,
     "print the value or container of every tag that each PATH\n"
     "selects, such as 'server/users/user[2]', 'fleet/*/name' or\n"
     "'**/port[*]' ('/' is the whole document), or with -w where\n"
     "each stands",
     RunGet},
    {kListUsage, "print the path of every tag (below PATH)", RunList},
    {kSetUsage, "set the value of every leaf that each PATH selects", RunSet},
    {kAddUsage,
     "add a leaf (-c: a container) at the end of the container\n"
     "at PATH ('/' is the top level)",
     RunAdd},
    {kRemoveUsage, "remove every tag that each PATH selects, a container with\nall it holds",
     RunRemove},
    {kRenameUsage, "rename every tag that PATH selects", RunRename},
    {kJsonUsage, "write the document as JSON, in a form that keeps all of it", RunJson},
    {kFromJsonUsage, "print the document that JSON stands for", RunFromJson},
};

// A command's synopsis: the first line of its help, after "usage: marl ".
std::string SynopsisOf(const Command& command) {
    const std::string usage = command.usage;
    const std::size_t start = usage.find("marl ") + 5;
    return usage.substr(start, usage.find('\n') - start);
}

// The command's name: its synopsis's first word.
std::string NameOf(const Command& command) {
    const std::string synopsis = SynopsisOf(command);
    return synopsis.substr(0, synopsis.find(' '));
}

// The top-level help, with each command's synopsis as its own help gives it, so that the two
// cannot differ; the summary stands in a column of its own, below a synopsis too long for it.
std::string Usage() {
    constexpr std::size_t kColumn = 31;
    std::string usage = kUsageHead;
    for (const Command& command : kCommands) {
        std::string line = "  " + SynopsisOf(command);
        line += line.size() < kColumn ? std::string(kColumn - line.size(), ' ')
                                      : "\n" + std::string(kColumn, ' ');
        for (const char* at = command.summary; *at != '\0'; ++at) {
            line += *at;
            if (*at == '\n') line.append(kColumn, ' ');
        }
        usage += line + "\n";
    }
    return usage + kUsageTail;
}

// The options before the command, then the command with the arguments after it.
int Run(int argc, char** argv) {
    bool version = false;
    std::vector<std::string> rest;
    const std::string usage = Usage();
    // Everything after the command is the command's own, its options too.
    const CommandLine line{":hV", kOptions, usage.c_str(), nullptr, 1};
    const int parsed =
        ParseOptions(argc, argv, line, rest, [&](int, const char*) { return version = true; });
    if (parsed >= 0) return parsed;
    if (version) {
        std::printf("marl %s\n", MARLLIB_VERSION_STRING);
        return kSuccess;
    }
    const int first = argc - static_cast<int>(rest.size());
    if (rest.empty()) {
        std::fputs(usage.c_str(), stderr);
        return kTrouble;
    }
    for (const Command& command : kCommands) {
        if (rest[0] == NameOf(command)) return command.run(argc - first, argv + first);
    }
    return WrongUsage("unknown command '" + rest[0] + "'");
}

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGXFSZ
    // A write beyond the largest file the process may write (ulimit -f) then fails with EFBIG
    // and is reported like any other failed write, instead of ending the process on the spot
    // with a half-written file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    const int status = Run(argc, argv);
    return CloseStandardOutput() ? status : kTrouble;
}
