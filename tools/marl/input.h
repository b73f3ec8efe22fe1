// Reading a FILE operand whole: a path, or standard input for "-".
#ifndef MARL_TOOL_INPUT_H
#define MARL_TOOL_INPUT_H

#include <cstdint>
#include <optional>
#include <string>

#include "marllib.hpp"
#include "marllib_file.hpp"

namespace MarlTool {

struct Input {
    std::string name;  // as given on the command line, "-" for standard input
    MarlFile::Bytes bytes;

    const char* text() const { return bytes.data(); }
    // At most 2^31 - 1: a longer input is not read.
    int32_t length() const { return static_cast<int32_t>(bytes.size()); }
};

// Reads FILE ("-": standard input) into input, as marllib_Load reads a path. When it cannot,
// says why on standard error ("marl: cannot read FILE: REASON") and returns false.
bool Read(const std::string& name, Input& input);

// FILE read with Read and loaded as a document; nothing when it cannot be read. The bytes
// are released once the document is made.
std::optional<marl::Document> Load(const std::string& name);

// How a FILE operand is named in messages: "standard input" for "-".
std::string Shown(const std::string& name);

}  // namespace MarlTool

#endif  // MARL_TOOL_INPUT_H
