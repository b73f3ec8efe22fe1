// marl get: print the value or the container that each path names.
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "input.h"
#include "marllib.h"
#include "marllib_path.hpp"
#include "output.h"

namespace MarlTool {

namespace {

const char kGetUsage[] =
    "usage: marl get [-r] [--] FILE PATH...\n"
    "\n"
    "Prints the tag that each PATH names in FILE, in turn: a leaf's value followed by a\n"
    "newline, or a container as Marl text. FILE '-' reads standard input.\n"
    "\n"
    "PATH: names from the top of the document down, joined by '/'; a leading '/' is allowed.\n"
    "  name[N]     the N-th tag of that name in its collection, counting from 1 (default 1)\n"
    "  \\/ \\[ \\\\    a '/', '[' or '\\' inside a name\n"
    "  example: marl get config.marl 'server/users/user[2]'\n"
    "\n"
    "options:\n"
    "  -r, --raw    write each value's bytes exactly, with no newline after it\n"
    "  -h, --help   show this help\n"
    "\n"
    "exit status: 0 every PATH found, 1 some PATH found nothing (the others are still\n"
    "printed), 2 FILE cannot be read, a PATH is malformed or the command line is wrong.\n";

const option kGetOptions[] = {
    {"raw", no_argument, nullptr, 'r'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

const char kHelp[] = "marl get --help";

using Path = std::vector<marl::path_step>;

// The step.nth-th tag named step.name in collection, or -1.
int32_t Nth(const MarlClass::Document& document, int32_t collection, const marl::path_step& step) {
    if (step.name.size() > MARLLIB_NAME_MAX) return -1;  // longer than any stored name
    const char* const name = step.name.data();
    const auto length = static_cast<int32_t>(step.name.size());
    if (step.nth == 1) return document.GetTagByName(collection, name, length);
    // No more matches than entries: the collection's size bounds the list asked for.
    if (document.GetTags(collection, nullptr, 0) < step.nth) return -1;
    std::vector<int32_t> found(static_cast<size_t>(step.nth));
    const int32_t matches =
        document.GetTagsByName(collection, name, length, found.data(), step.nth);
    return matches == step.nth ? found.back() : -1;
}

// The tag that path leads to from the root, if any.
std::optional<int32_t> Find(const MarlClass::Document& document, const Path& path) {
    // A negative index or code is no tag, and no collection.
    const auto found = [](int32_t index) -> std::optional<int32_t> {
        if (index < 0) return std::nullopt;
        return index;
    };
    return marl::follow_path(
        path, MarlClass::Document::kRoot,
        [&](int32_t collection, const marl::path_step& step) {
            return found(Nth(document, collection, step));
        },
        [&](int32_t tag) { return found(document.GetCollection(tag)); });
}

// A container as Marl text; a leaf's value bytes, then a newline unless raw.
void Show(const MarlClass::Document& document, int32_t tag, bool raw) {
    if (document.GetCollection(tag) >= 0) {
        document.PrintTag(stdout, tag);
        return;
    }
    const int32_t length = document.GetValue(tag, nullptr, 0);
    if (length > 0) {
        std::vector<char> value(static_cast<size_t>(length));
        document.GetValue(tag, value.data(), length);
        std::fwrite(value.data(), 1, value.size(), stdout);
    }
    if (!raw) std::fputc('\n', stdout);
}

}  // namespace

int RunGet(int argc, char** argv) {
    bool raw = false;
    std::vector<std::string> operands;
    const int parsed = ParseOptions(argc, argv, {":hr", kGetOptions, kGetUsage}, operands,
                                    [&](int, const char*) { return raw = true; });
    if (parsed >= 0) return parsed;
    if (operands.size() < 2) return WrongUsage("get needs a FILE and at least one PATH", kHelp);

    std::vector<Path> paths;
    for (auto text = operands.begin() + 1; text != operands.end(); ++text) {
        std::optional<Path> path = marl::parse_path(*text);
        if (!path) return WrongUsage("malformed path '" + *text + "'", kHelp);
        paths.push_back(std::move(*path));
    }
    Input input;
    if (!Read(operands[0], input)) return kTrouble;
    const auto document = MarlLib::LoadText(input.bytes.data.get(), input.bytes.size);

    int status = kSuccess;
    for (size_t i = 0; i < paths.size(); ++i) {
        if (const std::optional<int32_t> tag = Find(*document, paths[i])) {
            Show(*document, *tag, raw);
            continue;
        }
        NoteStandardOutput();
        std::fflush(stdout);  // keeps this complaint after the results before it
        std::fprintf(stderr, "marl: no tag '%s' in %s\n", operands[i + 1].c_str(),
                     Shown(operands[0]).c_str());
        status = kFailed;
    }
    NoteStandardOutput();
    return status;
}

}  // namespace MarlTool
