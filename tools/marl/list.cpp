// marl ls: the path of every tag, as get, set and rm take it back.
#include <cstdio>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "input.h"
#include "output.h"
#include "source.h"

namespace MarlTool {

const char kListUsage[] =
    "usage: marl ls [-w] [--] FILE [PATH]\n"
    "\n"
    "Prints the path of every tag of FILE, or of every tag below the tags that PATH selects,\n"
    "one a line, in text order. Each is a path that selects exactly that tag when given back\n"
    "to get, set, rm or rename: it takes name[N] wherever the tag is not the first of its\n"
    "name in its collection, and escapes '/', '[' and '\\' (and a name '*') with '\\'.\n"
    "FILE '-' reads standard input; PATH '/', or none, is the whole document.\n"
    "\n"
    "options:\n"
    "  -w, --where  put 'FILE:LINE:COLUMN' and a tab before each path\n"
    "  -h, --help   show this help\n"
    "\n"
    "exit status: 0 success, 1 PATH selects no tag, 2 FILE cannot be read, PATH is malformed\n"
    "or the command line is wrong.\n";

namespace {

const option kListOptions[] = {
    {"where", no_argument, nullptr, 'w'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

const char kListHelp[] = "marl ls --help";

// A name as a path writes it: the bytes that the syntax reads otherwise escaped, and a name
// that is only '*'s (a wildcard) with its first one escaped.
std::string Escaped(const std::string& name) {
    std::string step;
    for (const char c : name) {
        if (c == '/' || c == '[' || c == '\\') step += '\\';
        step += c;
    }
    if (name == "*" || name == "**") step.insert(0, 1, '\\');
    return step;
}

// Calls each(tag, path) for every tag below collection `from`, in text order, with its path:
// `prefix` (the path of from's container, empty for the top level), then the tag's own step.
template <typename Each>
void EachPath(const marl::Document& document, marl::collection from, const std::string& prefix,
              Each&& each) {
    struct Level {
        std::vector<marl::tag> tags;
        std::size_t next;
        std::string path;                               // its container's
        std::unordered_map<std::string, int32_t> seen;  // the names so far, with their counts
    };
    std::vector<Level> open;
    open.push_back({document.children(from), 0, prefix, {}});
    while (!open.empty()) {
        Level& level = open.back();
        if (level.next == level.tags.size()) {
            open.pop_back();
            continue;
        }
        const marl::tag tag = level.tags[level.next++];
        const std::string name = document.name(tag);
        const int32_t nth = ++level.seen[name];
        std::string path = level.path.empty() ? std::string() : level.path + "/";
        path += Escaped(name);
        if (nth > 1) path += "[" + std::to_string(nth) + "]";
        each(tag, path);
        if (!document.is_leaf(tag)) {
            open.push_back({document.children(tag), 0, std::move(path), {}});
        }
    }
}

void ShowPath(const marl::Source& source, marl::tag tag, const std::string& path, bool where) {
    if (where) {
        const marl::position at = *Where(source, tag);  // every tag of a loaded text has one
        std::printf("%s:%d:%d\t", source.name().c_str(), at.line, at.column);
    }
    std::printf("%s\n", path.c_str());
}

}  // namespace

int RunList(int argc, char** argv) {
    bool where = false;
    std::vector<std::string> operands;
    const int parsed = ParseOptions(argc, argv, {":hw", kListOptions, kListUsage}, operands,
                                    [&](int, const char*) { return where = true; });
    if (parsed >= 0) return parsed;
    if (operands.empty() || operands.size() > 2) {
        return WrongUsage("ls takes a FILE and at most one PATH", kListHelp);
    }
    const bool whole = operands.size() == 1 || operands[1] == "/";
    if (!whole && !marl::parse_path(operands[1])) {
        return WrongUsage("malformed path '" + operands[1] + "'", kListHelp);
    }
    const std::optional<marl::Source> source = Load(operands[0]);
    if (!source) return kTrouble;
    const marl::Document document = source->document();
    const auto show = [&](marl::tag tag, const std::string& path) {
        ShowPath(*source, tag, path, where);
    };
    if (whole) {
        EachPath(document, marl::Document::root, {}, show);
        NoteStandardOutput();
        return kSuccess;
    }
    const std::vector<marl::tag> selected = document.select(operands[1]);
    if (selected.empty()) {
        std::fprintf(stderr, "marl: no tag '%s' in %s\n", operands[1].c_str(),
                     Shown(operands[0]).c_str());
        return kFailed;
    }
    // The containers selected, with their paths (which depend on the tags before them), and
    // what stands below each, once: a container below another is listed with it.
    std::unordered_map<int32_t, bool> listed;  // by tag index: whether its tags were listed
    for (const marl::tag tag : selected) {
        if (!document.is_leaf(tag)) listed[tag.index()] = false;
    }
    std::vector<std::pair<marl::tag, std::string>> containers;
    EachPath(document, marl::Document::root, {}, [&](marl::tag tag, const std::string& path) {
        if (listed.count(tag.index()) != 0) containers.push_back({tag, path});
    });
    for (const auto& [container, path] : containers) {
        if (listed[container.index()]) continue;
        EachPath(document, document.collection_of(container), path,
                 [&](marl::tag tag, const std::string& below) {
                     show(tag, below);
                     const auto at = listed.find(tag.index());
                     if (at != listed.end()) at->second = true;
                 });
    }
    NoteStandardOutput();
    return kSuccess;
}

}  // namespace MarlTool
