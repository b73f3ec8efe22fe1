// marl: print, check and query Marl documents from the command line.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "check.h"
#include "marlclass_document.h"
#include "marllib.h"
#include "marllib_load.h"

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUnreadable = 2;
constexpr int kWrongUsage = -1;  // answered with the usage text and status 2

const char kUsageText[] =
    "usage: marl <command> [arguments]\n"
    "\n"
    "commands:\n"
    "  print [FILE]       load a document and print it as Marl text\n"
    "  check [FILE...]    report every malformed tag, unclosed container and cut name\n"
    "  get FILE PATH      print the value or the container at PATH (names joined by '/')\n"
    "\n"
    "FILE '-' or no FILE reads standard input.\n"
    "options: --help, --version\n";

struct Input {
    std::string name;  // as given on the command line, "-" for standard input
    MarlLib::FileBytes bytes;
};

bool ReadStandardInput(MarlLib::FileBytes& bytes) {
    std::string text;
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) text.append(chunk, got);
    if (std::ferror(stdin) || text.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
        return false;
    }
    bytes.size = static_cast<int32_t>(text.size());
    bytes.data.reset(new char[text.size() + 1]);
    std::memcpy(bytes.data.get(), text.data(), text.size());
    return true;
}

// Reads FILE (or standard input); reports the reason on standard error when it cannot.
bool Read(const std::string& name, Input& input) {
    input.name = name;
    errno = 0;
    const bool ok = name == "-" ? ReadStandardInput(input.bytes)
                                : MarlLib::ReadFile(name.c_str(), input.bytes);
    if (!ok) {
        const char* const reason = errno != 0 ? std::strerror(errno) : "cannot determine its size";
        std::fprintf(stderr, "marl: cannot read %s: %s\n",
                     name == "-" ? "standard input" : name.c_str(), reason);
    }
    return ok;
}

std::unique_ptr<MarlClass::Document> Load(const Input& input) {
    return MarlLib::LoadText(input.bytes.data.get(), input.bytes.size);
}

int Print(const std::vector<std::string>& args) {
    if (args.size() > 1) return kWrongUsage;
    Input input;
    if (!Read(args.empty() ? "-" : args[0], input)) return kUnreadable;
    Load(input)->Print(stdout);
    return kOk;
}

int CheckAll(std::vector<std::string> args) {
    if (args.empty()) args.emplace_back("-");
    int status = kOk;
    for (const std::string& name : args) {
        Input input;
        if (!Read(name, input)) {
            status = kUnreadable;
            continue;
        }
        const auto result = MarlTool::Check(name == "-" ? "<stdin>" : name,
                                            input.bytes.data.get(), input.bytes.size, stdout);
        if (result.errors > 0 && status == kOk) status = kFailed;
    }
    return status;
}

// Follows PATH from the root, taking the first tag of each name; -1 when a step finds none.
int32_t Find(const MarlClass::Document& document, const std::string& path) {
    int32_t collection = MarlClass::Document::kRoot;
    int32_t tag = -1;
    size_t start = 0;
    for (;;) {
        if (collection < 0 && tag >= 0) return -1;  // a leaf has nothing below it
        const size_t slash = path.find('/', start);
        const std::string step = path.substr(start, slash == std::string::npos ? slash : slash - start);
        tag = document.GetTagByName(collection, step.data(), static_cast<int32_t>(step.size()));
        if (tag < 0 || slash == std::string::npos) return tag;
        collection = document.GetCollection(tag);
        start = slash + 1;
    }
}

int Get(const std::vector<std::string>& args) {
    if (args.size() != 2) return kWrongUsage;
    Input input;
    if (!Read(args[0], input)) return kUnreadable;
    const auto document = Load(input);
    const int32_t tag = Find(*document, args[1]);
    if (tag < 0) {
        std::fprintf(stderr, "marl: no tag '%s' in %s\n", args[1].c_str(), args[0].c_str());
        return kFailed;
    }
    const MarlClass::Tag& found = *document->TagAt(tag);
    if (!found.isLeaf) {
        document->PrintTag(stdout, tag);
    } else if (found.value != nullptr) {
        std::fwrite(found.value, 1, static_cast<size_t>(found.valueLength), stdout);
    }
    return kOk;
}

int Usage(FILE* to, int status) {
    std::fputs(kUsageText, to);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const std::string command = args.empty() ? "" : args[0];
    if (!args.empty()) args.erase(args.begin());
    if (command == "--help" || command == "-h") return Usage(stdout, kOk);
    if (command == "--version") {
        std::printf("marl %s\n", MARLLIB_VERSION_STRING);
        return kOk;
    }
    int status = kWrongUsage;
    if (command == "print") {
        status = Print(args);
    } else if (command == "check") {
        status = CheckAll(args);
    } else if (command == "get") {
        status = Get(args);
    } else if (!command.empty()) {
        std::fprintf(stderr, "marl: unknown command '%s'\n", command.c_str());
    }
    return status == kWrongUsage ? Usage(stderr, 2) : status;
}
