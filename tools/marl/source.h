// A FILE operand loaded as a document with its text, and the calls of marl::Source that read
// that text again. They are most of the tool's code, so they are compiled once, here, rather
// than in each command that makes them.
#ifndef MARL_TOOL_SOURCE_H
#define MARL_TOOL_SOURCE_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "marllib_source.hpp"

namespace MarlTool {

// FILE read as Read reads it and loaded, named as marl check names it (standard input is
// "<stdin>"), keeping the first mostProblems of its problems (all are counted); nothing when
// it cannot be read.
std::optional<marl::Source> Load(const std::string& name, std::size_t mostProblems = 0);

// Where a tag stands, the text's problems and their counts, and the text with the document's
// edits made in it (throws marl::error, errc::lost_edit, where it cannot take them).
std::optional<marl::position> Where(const marl::Source& source, marl::tag tag);
const std::vector<marl::diagnostic>& Problems(const marl::Source& source);
const marl::problem_counts& Counted(const marl::Source& source);
std::string Edited(const marl::Source& source);

}  // namespace MarlTool

#endif  // MARL_TOOL_SOURCE_H
