#include "input.h"

#include <cstdio>
#include <string_view>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace MarlTool {

namespace {

// Standard input through the library's own reader, as bytes: on Windows it would otherwise
// turn CR LF into LF and stop at a Ctrl-Z.
int ReadStandardInput(MarlFile::Bytes& bytes) {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    return MarlFile::ReadStream(stdin, bytes);
}

}  // namespace

std::string Shown(const std::string& name) { return name == "-" ? "standard input" : name; }

bool Read(const std::string& name, Input& input) {
    input.name = name;
    const int error = name == "-" ? ReadStandardInput(input.bytes)
                                  : MarlFile::ReadFile(name.c_str(), input.bytes);
    if (error != 0) {
        std::fprintf(stderr, "marl: cannot read %s: %s\n", Shown(name).c_str(),
                     MarlFile::Reason(error).c_str());
    }
    return error == 0;
}

std::optional<marl::Document> Load(const std::string& name) {
    Input input;
    if (!Read(name, input)) return std::nullopt;
    return marl::Document::load_text(std::string_view(input.text(), input.bytes.size()));
}

}  // namespace MarlTool
