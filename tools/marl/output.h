// Output that is checked: standard output, whose write errors turn into exit status 2, and a
// file named on the command line, replaced only once its new contents are written in full.
#ifndef MARL_TOOL_OUTPUT_H
#define MARL_TOOL_OUTPUT_H

#include <cstdio>
#include <string>

#include "marllib_file.hpp"

namespace MarlTool {

// Notes whether a write to standard output has failed so far, keeping the first reason.
// Called after each batch of writes, while errno still holds that reason.
void NoteStandardOutput();

// Flushes and closes standard output. When any write to it failed, reports
// "marl: cannot write to standard output: REASON" on standard error and returns false.
bool CloseStandardOutput();

// Writes the file FILE whole through fill(stream), which returns false when a write failed,
// as marl::write_file does: a failed write leaves FILE as it was, and a replaced FILE keeps
// its mode, owner and links. "-" is standard output. Returns false, having reported
// "marl: cannot write to FILE: REASON" on standard error, when it cannot; REASON is
// marl::write_reason's, "cannot make a new file in FOLDER: ..." where the folder refused.
bool WriteFile(const std::string& target, marl::fill_function fill);

}  // namespace MarlTool

#endif  // MARL_TOOL_OUTPUT_H
