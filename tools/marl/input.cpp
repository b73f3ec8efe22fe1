#include "input.h"

#include <cstdio>
#include <utility>

#include "marllib_file.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace MarlTool {

namespace {

// Standard input through the library's own reader, as bytes: on Windows it would otherwise
// turn CR LF into LF and stop at a Ctrl-Z.
int ReadStandardInput(std::string& bytes) {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    return marl::read_stream(stdin, bytes);
}

}  // namespace

std::string Shown(const std::string& name) { return name == "-" ? "standard input" : name; }

bool Read(const std::string& name, std::string& bytes) {
    const int error =
        name == "-" ? ReadStandardInput(bytes) : marl::read_file(name.c_str(), bytes);
    if (error != 0) {
        std::fprintf(stderr, "marl: cannot read %s: %s\n", Shown(name).c_str(),
                     marl::read_reason(error).c_str());
    }
    return error == 0;
}

}  // namespace MarlTool
