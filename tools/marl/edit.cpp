// marl set, add and rm: edit a document's text, keeping every byte that the edit does not
// touch. Each command finds all its paths first and writes only when every one of them could
// be edited.
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

const char kSetUsage[] =
    "usage: marl set [-i] [-p] [--] FILE PATH VALUE [PATH VALUE]...\n"
    "\n"
    "Sets the value of the leaf at each PATH in FILE and writes the text with only those\n"
    "values changed: notes between tags, spacing and line ends stay as they are. An empty\n"
    "VALUE leaves the leaf without value (<name/>). A VALUE may begin with '-', as -5 does:\n"
    "it is never taken for an option, so options go before it. FILE '-' reads standard\n"
    "input. PATH: as for 'marl get', such as 'server/users/user[2]'.\n"
    "\n"
    "options:\n"
    "  -i, --in-place  replace FILE with a new file of the edited text, as sed -i does,\n"
    "                  instead of writing to standard output: a failed write leaves FILE as\n"
    "                  it was, the new file keeps its mode, and hard links keep the old\n"
    "                  text. An edit that changes no byte leaves FILE as it is.\n"
    "  -p, --parents   make the containers missing along PATH, and then the leaf\n"
    "  -h, --help      show this help\n"
    "\n"
    "exit status: 0 success; 1 a PATH names no tag or a container, or the text cannot take\n"
    "the edit, and nothing is written; 2 FILE cannot be read or written, a PATH is\n"
    "malformed or the command line is wrong.\n";

const char kAddUsage[] =
    "usage: marl add [-i] [-c] [--] FILE PATH NAME [VALUE]\n"
    "\n"
    "Adds the leaf NAME, with VALUE if one is given and not empty, at the end of the\n"
    "container at PATH in FILE ('/' is the top level), on a line of its own after the\n"
    "container's last entry, and writes the text with every other byte as it was.\n"
    "FILE '-' reads standard input. NAME is 1 to 64 bytes, taken as they are. VALUE may\n"
    "begin with '-', as -20 does: it is never taken for an option, so options go before it.\n"
    "\n"
    "options:\n"
    "  -i, --in-place   replace FILE with a new file of the edited text, as sed -i does (hard\n"
    "                   links keep the old text), instead of writing to standard output\n"
    "  -c, --container  add an empty container NAME instead (with no VALUE)\n"
    "  -h, --help       show this help\n"
    "\n"
    "exit status: 0 success; 1 PATH names no tag or a leaf, or the text cannot take the\n"
    "edit, and nothing is written; 2 FILE cannot be read or written, PATH or NAME is\n"
    "malformed or the command line is wrong.\n";

const char kRemoveUsage[] =
    "usage: marl rm [-i] [--] FILE PATH...\n"
    "\n"
    "Removes the tag at each PATH in FILE, a container with everything it holds, and writes\n"
    "the text with every other byte as it was. A tag that stood alone on its lines takes\n"
    "those lines with it. FILE '-' reads standard input.\n"
    "\n"
    "options:\n"
    "  -i, --in-place  replace FILE with a new file of the edited text, as sed -i does (hard\n"
    "                  links keep the old text), instead of writing to standard output\n"
    "  -h, --help      show this help\n"
    "\n"
    "exit status: 0 success; 1 a PATH names no tag, and nothing is written; 2 FILE cannot be\n"
    "read or written, a PATH is malformed or the command line is wrong.\n";

const char kRenameUsage[] =
    "usage: marl rename [-i] [--] FILE PATH NEWNAME\n"
    "\n"
    "Renames every tag that PATH selects in FILE to NEWNAME (1 to 64 bytes, taken as they are;\n"
    "it may begin with '-'), and writes the text with only those names changed. FILE '-'\n"
    "reads standard input.\n"
    "\n"
    "options:\n"
    "  -i, --in-place  replace FILE with a new file of the edited text, as sed -i does (hard\n"
    "                  links keep the old text), instead of writing to standard output\n"
    "  -h, --help      show this help\n"
    "\n"
    "exit status: 0 success; 1 PATH selects no tag, or the text cannot take the edit, and\n"
    "nothing is written; 2 FILE cannot be read or written, PATH or NEWNAME is malformed or the\n"
    "command line is wrong.\n";

namespace {

const option kSetOptions[] = {
    {"in-place", no_argument, nullptr, 'i'},
    {"parents", no_argument, nullptr, 'p'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};
const option kAddOptions[] = {
    {"in-place", no_argument, nullptr, 'i'},
    {"container", no_argument, nullptr, 'c'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};
const option kRemoveOptions[] = {
    {"in-place", no_argument, nullptr, 'i'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

// What a command line asked for: its flags by option letter, and its operands.
struct Request {
    bool inPlace = false;
    bool flag = false;  // -p for set, -c for add
    std::vector<std::string> operands;
};

// One editing command's command line, and what it needs at least.
struct EditCommand {
    CommandLine line;
    std::size_t least;  // operands
    const char* needs;  // the complaint when they are fewer
    const char* help;
};

// Parses the command line and checks what every editing command checks before reading FILE;
// -1 when the command should run, otherwise the status to exit with.
int Start(int argc, char** argv, const EditCommand& command, Request& request) {
    const int parsed =
        ParseOptions(argc, argv, command.line, request.operands, [&](int option, const char*) {
            (option == 'i' ? request.inPlace : request.flag) = true;
            return true;
        });
    if (parsed >= 0) return parsed;
    if (request.operands.size() < command.least) return WrongUsage(command.needs, command.help);
    if (request.inPlace && request.operands[0] == "-") {
        return WrongUsage("-i cannot replace standard input", command.help);
    }
    return -1;
}

// The first malformed path among paths, as a usage error; -1 when all are well formed.
int CheckPaths(const std::vector<const std::string*>& paths, const char* help) {
    for (const std::string* path : paths) {
        if (*path != "/" && !marl::parse_path(*path)) {
            return WrongUsage("malformed path '" + *path + "'", help);
        }
    }
    return -1;
}

// A NAME (or NEWNAME, as `what` says) that no tag can have, as a usage error; -1 for one of 1
// to 64 bytes.
int CheckName(const std::string& name, const char* what, const char* help) {
    if (!name.empty() && name.size() <= static_cast<std::size_t>(MARLLIB_NAME_MAX)) return -1;
    return WrongUsage(std::string("a ") + what + " is 1 to 64 bytes, not " +
                          std::to_string(name.size()),
                      help);
}

// A PATH that cannot be edited: says why and gives the status for it.
int Refuse(const std::string& file, const std::string& path, const std::string& why) {
    std::fprintf(stderr, "marl: %s '%s' in %s\n", why.c_str(), path.c_str(), Shown(file).c_str());
    return kFailed;
}

// Writes the edited text to standard output or, in place, over FILE.
int Finish(const marl::Source& source, const Request& request) {
    std::string text;
    try {
        text = Edited(source);
    } catch (const marl::error& failure) {
        if (failure.code() != marl::errc::lost_edit) throw;
        std::fprintf(stderr, "%s\n", failure.what());
        return kFailed;
    }
    // Rewriting FILE with its own bytes would only give it a new inode and time, and part its
    // hard links.
    if (request.inPlace && text == source.text()) return kSuccess;
    const auto fill = [&text](std::FILE* stream) {
        return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    };
    return WriteFile(request.inPlace ? request.operands[0] : "-", fill) ? kSuccess : kTrouble;
}

// The tag at path, as marl get finds it; when `make` holds, a step that finds nothing but
// would be the next tag of its name is made on the way: a container, and a leaf for the last
// step. Nothing when a step finds no tag, or a leaf where a container is needed (`blocked`
// then names that leaf).
std::optional<marl::tag> Reach(marl::Document& document, const std::string& path, bool make,
                               std::optional<marl::tag>& blocked) {
    const std::vector<marl::path_step> steps = *marl::parse_path(path);
    return marl::follow_path(
        steps, marl::Document::root,
        [&](marl::collection in, const marl::path_step& step) -> std::optional<marl::tag> {
            const std::vector<marl::tag> same = document.children(in, step.name);
            const auto nth = static_cast<std::size_t>(step.nth);
            if (nth <= same.size()) return same[nth - 1];
            if (!make || nth != same.size() + 1) return std::nullopt;
            return &step == &steps.back() ? document.add_leaf(in, step.name)
                                          : document.add_container(in, step.name);
        },
        [&](marl::tag t) -> std::optional<marl::collection> {
            if (!document.is_leaf(t)) return document.collection_of(t);
            blocked = t;
            return std::nullopt;
        });
}

}  // namespace

int RunSet(int argc, char** argv) {
    const char* const help = "marl set --help";
    Request request;
    // FILE PATH VALUE PATH VALUE ...
    const auto isValue = [](std::size_t k) { return k >= 2 && k % 2 == 0; };
    const EditCommand set{{":hip", kSetOptions, kSetUsage, isValue},
                          3,
                          "set needs a FILE, a PATH and a VALUE",
                          help};
    if (const int stop = Start(argc, argv, set, request); stop >= 0) return stop;
    const std::vector<std::string>& operands = request.operands;
    if (operands.size() % 2 == 0) return WrongUsage("set takes a VALUE for each PATH", help);
    std::vector<const std::string*> paths;
    for (std::size_t i = 1; i < operands.size(); i += 2) paths.push_back(&operands[i]);
    if (const int wrong = CheckPaths(paths, help); wrong >= 0) return wrong;

    if (request.flag) {
        for (const std::string* path : paths) {
            if (marl::picks_one(*marl::parse_path(*path))) continue;
            return WrongUsage("set -p makes the tags of names and [N] only, not of '" + *path +
                                  "'",
                              help);
        }
    }

    std::optional<marl::Source> source = Load(operands[0]);
    if (!source) return kTrouble;
    marl::Document document = source->document();
    for (std::size_t i = 1; i < operands.size(); i += 2) {
        std::vector<marl::tag> leaves;
        if (request.flag) {
            std::optional<marl::tag> blocked;
            const std::optional<marl::tag> leaf = Reach(document, operands[i], true, blocked);
            if (blocked) return Refuse(operands[0], operands[i], "a leaf stands on the way to");
            if (leaf) leaves.push_back(*leaf);
        } else {
            leaves = document.select(operands[i]);
        }
        if (leaves.empty()) return Refuse(operands[0], operands[i], "no tag");
        for (const marl::tag leaf : leaves) {
            if (!document.is_leaf(leaf)) {
                return Refuse(operands[0], operands[i], "cannot set the value of container");
            }
            document.set_value(leaf, operands[i + 1]);
        }
    }
    return Finish(*source, request);
}

int RunAdd(int argc, char** argv) {
    const char* const help = "marl add --help";
    Request request;
    // FILE PATH NAME VALUE
    const auto isValue = [](std::size_t k) { return k == 3; };
    const EditCommand add{{":hic", kAddOptions, kAddUsage, isValue},
                          3,
                          "add needs a FILE, a PATH and a NAME",
                          help};
    if (const int stop = Start(argc, argv, add, request); stop >= 0) return stop;
    const std::vector<std::string>& operands = request.operands;
    if (operands.size() > (request.flag ? 3u : 4u)) {
        return WrongUsage(request.flag ? "add -c takes no VALUE: a container holds none"
                                       : "add takes one NAME and at most one VALUE",
                          help);
    }
    const std::string& path = operands[1];
    const std::string& name = operands[2];
    if (const int wrong = CheckName(name, "NAME", help); wrong >= 0) return wrong;
    if (const int wrong = CheckPaths({&path}, help); wrong >= 0) return wrong;

    std::optional<marl::Source> source = Load(operands[0]);
    if (!source) return kTrouble;
    marl::Document document = source->document();
    marl::collection into = marl::Document::root;
    if (path != "/") {
        const std::optional<marl::tag> container = document.at(path);
        if (!container) return Refuse(operands[0], path, "no tag");
        if (document.is_leaf(*container)) return Refuse(operands[0], path, "cannot add to leaf");
        into = document.collection_of(*container);
    }
    if (request.flag) {
        document.add_container(into, name);
    } else {
        document.add_leaf(into, name, operands.size() == 4 ? operands[3] : std::string());
    }
    return Finish(*source, request);
}

int RunRename(int argc, char** argv) {
    const char* const help = "marl rename --help";
    Request request;
    // FILE PATH NEWNAME
    const auto isValue = [](std::size_t k) { return k == 2; };
    const EditCommand rename{{":hi", kRemoveOptions, kRenameUsage, isValue},
                             3,
                             "rename needs a FILE, a PATH and a NEWNAME",
                             help};
    if (const int stop = Start(argc, argv, rename, request); stop >= 0) return stop;
    const std::vector<std::string>& operands = request.operands;
    if (operands.size() > 3) return WrongUsage("rename takes one PATH and one NEWNAME", help);
    const std::string& name = operands[2];
    if (const int wrong = CheckName(name, "NEWNAME", help); wrong >= 0) return wrong;
    if (operands[1] == "/") return WrongUsage("rename renames tags, not the top level", help);
    if (const int wrong = CheckPaths({&operands[1]}, help); wrong >= 0) return wrong;

    std::optional<marl::Source> source = Load(operands[0]);
    if (!source) return kTrouble;
    marl::Document document = source->document();
    const std::vector<marl::tag> found = document.select(operands[1]);
    if (found.empty()) return Refuse(operands[0], operands[1], "no tag");
    for (const marl::tag tag : found) document.set_name(tag, name);
    return Finish(*source, request);
}

int RunRemove(int argc, char** argv) {
    const char* const help = "marl rm --help";
    Request request;
    const EditCommand rm{
        {":hi", kRemoveOptions, kRemoveUsage}, 2, "rm needs a FILE and a PATH", help};
    if (const int stop = Start(argc, argv, rm, request); stop >= 0) return stop;
    const std::vector<std::string>& operands = request.operands;
    std::vector<const std::string*> paths;
    for (std::size_t i = 1; i < operands.size(); ++i) {
        if (operands[i] == "/") return WrongUsage("rm removes tags, not the top level", help);
        paths.push_back(&operands[i]);
    }
    if (const int wrong = CheckPaths(paths, help); wrong >= 0) return wrong;

    std::optional<marl::Source> source = Load(operands[0]);
    if (!source) return kTrouble;
    const marl::Document document = source->document();
    for (const std::string* path : paths) {
        const std::vector<marl::tag> found = document.select(*path);
        if (found.empty()) return Refuse(operands[0], *path, "no tag");
        for (const marl::tag tag : found) source->remove(tag);
    }
    return Finish(*source, request);
}

}  // namespace MarlTool
