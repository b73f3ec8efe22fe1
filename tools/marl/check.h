// `marl check`: reads Marl text step by step and reports its problems as a compiler would.
#ifndef MARL_TOOL_CHECK_H
#define MARL_TOOL_CHECK_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace MarlTool {

struct CheckResult {
    int32_t errors = 0;
    int32_t warnings = 0;
};

// Checks length bytes of text and writes one "NAME:LINE:COLUMN: error|warning|note: ..." line
// per problem to out, in the order found. Lines and columns count from 1; a line ends at LF,
// CR LF or a lone CR. After maxMessages lines (0: no limit) the rest are only counted, and one
// line "... and K more" ends the report. Errors and warnings are counted whether or not shown.
CheckResult Check(const std::string& name, const char* text, int32_t length, FILE* out,
                  int32_t maxMessages);

}  // namespace MarlTool

#endif  // MARL_TOOL_CHECK_H
