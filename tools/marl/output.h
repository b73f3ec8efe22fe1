// Output that is checked: standard output, whose write errors turn into exit status 2, and a
// file that print -o replaces only once its new contents are written in full.
#ifndef MARL_TOOL_OUTPUT_H
#define MARL_TOOL_OUTPUT_H

#include <cstdio>
#include <string>

namespace MarlTool {

// Notes whether a write to standard output has failed so far, keeping the first reason.
// Called after each batch of writes, while errno still holds that reason.
void NoteStandardOutput();

// Flushes and closes standard output. When any write to it failed, reports
// "marl: cannot write to standard output: REASON" on standard error and returns false.
bool CloseStandardOutput();

// A file named on the command line, written whole or not at all. A regular file (or a new
// one) is written as a new file beside it, which Commit renames over it, so that a failed or
// interrupted write leaves the old file as it was; unless committed, the new file is removed
// when this object goes (and, on POSIX systems, when SIGINT, SIGTERM or SIGHUP ends the
// process). A symbolic link is followed, so the link stays, and the new file takes the old
// one's permissions. Anything else that exists, such as a device or a pipe, is written
// directly, as a shell's '>' would.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens the stream to write to; false, with the reason on standard error, when it cannot.
    bool Open(const std::string& target);
    FILE* Stream() const { return stream; }
    // Writes everything out (to the disk, for a new file) and puts the new file in the
    // target's place; false, with the reason on standard error and a regular target
    // unchanged, when anything fails.
    bool Commit();

private:
    bool OpenBeside();
    bool Fail(int error);
    bool Fail(const std::string& reason);
    void Discard();

    std::string target;     // as named on the command line, for messages
    std::string finalPath;  // the file that is replaced (the target, links followed)
    std::string temporary;  // the new file; empty when writing directly
    FILE* stream = nullptr;
};

}  // namespace MarlTool

#endif  // MARL_TOOL_OUTPUT_H
