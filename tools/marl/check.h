// `marl check`: reads Marl text step by step and reports its problems as a compiler would.
#ifndef MARL_TOOL_CHECK_H
#define MARL_TOOL_CHECK_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace MarlTool {

struct CheckResult {
    int errors = 0;
    int warnings = 0;
};

// Checks length bytes of text and writes one "NAME:LINE:COLUMN: error|warning: ..." line per
// problem to out. Lines and columns count from 1.
CheckResult Check(const std::string& name, const char* text, int32_t length, FILE* out);

}  // namespace MarlTool

#endif  // MARL_TOOL_CHECK_H
