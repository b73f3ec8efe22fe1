// Reading a FILE operand whole: a path, or standard input for "-".
#ifndef MARL_TOOL_INPUT_H
#define MARL_TOOL_INPUT_H

#include <string>

#include "marllib_load.h"

namespace MarlTool {

struct Input {
    std::string name;  // as given on the command line, "-" for standard input
    MarlLib::FileBytes bytes;
};

// Reads FILE ("-": standard input) into input. When it cannot, says why on standard error
// ("marl: cannot read FILE: REASON") and returns false.
bool Read(const std::string& name, Input& input);

// How a FILE operand is named in messages: "standard input" for "-".
std::string Shown(const std::string& name);

}  // namespace MarlTool

#endif  // MARL_TOOL_INPUT_H
