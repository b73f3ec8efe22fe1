#include "cli.h"

#include <cstdio>
#include <cstring>

namespace MarlTool {

namespace {

void Hint(const char* help = "marl --help") { std::fprintf(stderr, "Try '%s'.\n", help); }

}  // namespace

int WrongOption(char** argv, const option* longOptions, int result) {
    // getopt_long tells a short option by optopt; a long one only by the argument it came in,
    // which may carry "=VALUE" and may be abbreviated.
    const std::string given = argv[optind - 1];
    const std::string name = given.substr(0, given.find('='));
    bool isLong = optopt == 0;  // an unknown or ambiguous long option
    for (const option* known = longOptions; !isLong && known->name != nullptr; ++known) {
        isLong = known->val == optopt && name.size() > 2 && name.compare(0, 2, "--") == 0 &&
                 std::strncmp(known->name, name.c_str() + 2, name.size() - 2) == 0;
    }
    const std::string shown = isLong ? name : std::string("-") + static_cast<char>(optopt);
    const char* const complaint = result == ':'         ? "needs an argument"
                                  : isLong && optopt != 0 ? "takes no argument"
                                                          : nullptr;
    if (complaint != nullptr) {
        std::fprintf(stderr, "marl: option '%s' %s\n", shown.c_str(), complaint);
    } else {
        std::fprintf(stderr, "marl: unknown option '%s'\n", shown.c_str());
    }
    Hint();
    return kTrouble;
}

int WrongUsage(const std::string& complaint, const char* help) {
    std::fprintf(stderr, "marl: %s\n", complaint.c_str());
    Hint(help);
    return kTrouble;
}

int Help(const char* usage) {
    std::fputs(usage, stdout);
    return kSuccess;
}

int32_t ParseCount(const char* text) {
    int64_t count = 0;
    if (*text == '\0') return -1;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return -1;
        count = count * 10 + (*text - '0');
        if (count > INT32_MAX) return -1;
    }
    return static_cast<int32_t>(count);
}

}  // namespace MarlTool
