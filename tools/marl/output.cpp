#include "output.h"

#include <cerrno>
#include <cstring>

#include "marllib_file.hpp"

namespace MarlTool {

namespace {

int standardOutputError = 0;  // the first write failure's errno, 0 while all went well

void Complain(const std::string& what, const std::string& reason) {
    std::fprintf(stderr, "marl: cannot write to %s: %s\n", what.c_str(), reason.c_str());
}

}  // namespace

void NoteStandardOutput() {
    if (standardOutputError == 0 && std::ferror(stdout)) {
        standardOutputError = errno != 0 ? errno : EIO;
    }
}

bool CloseStandardOutput() {
    NoteStandardOutput();
    if (std::fflush(stdout) != 0 && standardOutputError == 0) standardOutputError = errno;
    // A standard output that was closed before marl started and never written to is no
    // failure (EBADF), as for other tools.
    if (std::fclose(stdout) != 0 && standardOutputError == 0 && errno != EBADF) {
        standardOutputError = errno;
    }
    if (standardOutputError == 0) return true;
    Complain("standard output", std::strerror(standardOutputError));
    return false;
}

bool WriteFile(const std::string& target, marl::fill_function fill) {
    if (target == "-") {
        fill(stdout);
        NoteStandardOutput();
        return true;
    }
    // The library's own writer and its wording, as marl::replace_file has them.
    marl::write_failure failure;
    const int reason = marl::write_file(target.c_str(), fill, &failure);
    if (reason == 0) return true;
    Complain(target, marl::write_reason(reason, failure));
    return false;
}

}  // namespace MarlTool
