// Reading a FILE operand whole: a path, or standard input for "-".
#ifndef MARL_TOOL_INPUT_H
#define MARL_TOOL_INPUT_H

#include <cstddef>
#include <optional>
#include <string>

#include "marllib_source.hpp"

namespace MarlTool {

// Reads FILE ("-": standard input) into bytes, as marllib_Load reads a path. When it cannot,
// says why on standard error ("marl: cannot read FILE: REASON") and returns false.
bool Read(const std::string& name, std::string& bytes);

// FILE read with Read and loaded as a document with its text, named as marl check names it
// (standard input is "<stdin>"), keeping the first mostProblems of its problems (all are
// counted); nothing when it cannot be read.
std::optional<marl::Source> Load(const std::string& name, std::size_t mostProblems = 0);

// How a FILE operand is named in messages: "standard input" for "-".
std::string Shown(const std::string& name);

}  // namespace MarlTool

#endif  // MARL_TOOL_INPUT_H
