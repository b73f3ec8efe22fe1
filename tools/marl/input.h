// Reading a FILE operand whole: a path, or standard input for "-".
#ifndef MARL_TOOL_INPUT_H
#define MARL_TOOL_INPUT_H

#include <string>

namespace MarlTool {

// Reads FILE ("-": standard input) into bytes, as marllib_Load reads a path. When it cannot,
// says why on standard error ("marl: cannot read FILE: REASON") and returns false.
bool Read(const std::string& name, std::string& bytes);

// How a FILE operand is named in messages: "standard input" for "-".
std::string Shown(const std::string& name);

}  // namespace MarlTool

#endif  // MARL_TOOL_INPUT_H
