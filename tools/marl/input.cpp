#include "input.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace MarlTool {

namespace {

constexpr uintmax_t kLargestDocument = std::numeric_limits<int32_t>::max();
const char kTooLarge[] = "larger than the 2 GiB that a document can hold";

// Standard input through the library's own reader, as bytes: on Windows it would otherwise
// turn CR LF into LF and stop at a Ctrl-Z.
bool ReadStandardInput(MarlLib::FileBytes& bytes) {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    return MarlLib::ReadStream(stdin, bytes);
}

// Why FILE could not be read, given the errno its reader left. The reader says only that it
// failed, so the file system is asked about the two cases whose errno misleads or is absent.
std::string Reason(const std::string& name, int error) {
    if (name != "-") {
        namespace fs = std::filesystem;
        std::error_code failed;
        const fs::file_status status = fs::status(name, failed);
        if (!failed && fs::is_directory(status)) return std::strerror(EISDIR);
        if (!failed && fs::is_regular_file(status)) {
            const uintmax_t size = fs::file_size(name, failed);
            if (!failed && size > kLargestDocument) return kTooLarge;
        }
    }
    if (error == EFBIG) return kTooLarge;
    if (error != 0) return std::strerror(error);
    return "the read failed";
}

}  // namespace

std::string Shown(const std::string& name) { return name == "-" ? "standard input" : name; }

bool Read(const std::string& name, Input& input) {
    input.name = name;
    errno = 0;
    const bool read = name == "-" ? ReadStandardInput(input.bytes)
                                  : MarlLib::ReadFile(name.c_str(), input.bytes);
    if (!read) {
        const int error = errno;
        std::fprintf(stderr, "marl: cannot read %s: %s\n", Shown(name).c_str(),
                     Reason(name, error).c_str());
    }
    return read;
}

}  // namespace MarlTool
