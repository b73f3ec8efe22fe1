// MarlParser::Parser: reads Marl text in a caller's buffer one tag at a time and reports each
// tag as an event to a handler, through its own EntityHandler, so the handler receives
// decoded names and values.
#ifndef MARLLIB_MARLPARSER_H
#define MARLLIB_MARLPARSER_H

#include <cstdint>
#include <memory>

#include "marlparser_entity.h"

namespace MarlParser {

// Why the last Invalid event was raised, or why reading stopped without one.
enum class Problem {
    None,
    TagCutOff,       // fewer than 3 bytes follow a '<'
    BadClose,        // "</" followed by a byte other than '>'
    BadLeafEnd,      // '/' after a name followed by something other than '>', or by nothing
    ShortValue,      // fewer than 3 bytes follow the '=' after a name
    BadQuote,        // a quote byte in a value followed by a byte other than '"' or '>'
    UnclosedValue,   // the input ends inside a value (or right after its closing quote)
    UnclosedName,    // the input ends inside a name; no event is raised for this
};

class Parser {
public:
    // A parser over length bytes at data, or null when handler or data is null or length is
    // below MarlFormat::kShortestTagText (such input holds no tag). Neither the handler nor
    // the bytes are owned; both must outlive the parser, and the bytes stay unchanged while it
    // is used.
    static std::unique_ptr<Parser> Create(Handler* handler, const char* data, int32_t length);

    // Makes none of Create's checks: handler is not null, and data holds length bytes.
    Parser(Handler* handler, const char* data, int32_t length)
        : handler(handler), data(data), length(length) {}
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    // Reads the next construct and raises at most one event for it. True while input is
    // left to read; once it returns false the caller stops.
    bool Parse();

    // Read-only views of the last step, for diagnostics. They change nothing that is read.
    int32_t Position() const { return position; }
    int32_t ConstructStart() const { return constructStart; }  // the '<' of the last construct
    Problem LastProblem() const { return problem; }           // None after a good construct
    int32_t RawNameStart() const { return nameStart; }        // the last name as written
    int32_t RawNameLength() const { return nameLength; }

private:
    bool RaiseInvalid(Problem why, bool more);
    bool ReadName(int32_t start);
    bool ReadValue(int32_t start, int32_t nameEnd);
    bool More() const { return position < length; }

    EntityHandler handler;  // decodes, and forwards to the caller's handler
    const char* data;
    int32_t length;
    int32_t position = 0;

    int32_t constructStart = 0;
    Problem problem = Problem::None;
    int32_t nameStart = 0;
    int32_t nameLength = 0;
    bool nameEscapes = false;  // the last name holds an escape byte
};

}  // namespace MarlParser

#endif  // MARLLIB_MARLPARSER_H
