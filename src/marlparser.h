// MarlParser::Parser: reads Marl text in a caller's buffer one tag at a time and reports each
// tag as an event to a handler, through its own EntityHandler, so the handler receives
// decoded names and values.
//
// Parser reports to any Handler. BasicParser<Target> is the same reader for a handler whose
// final class is known where it is used: the events then reach it by direct calls, which the
// compiler can fold into the reading loop (the library's own loader reads this way; where the
// parser is a local of that loop, the compiler also drops the stores of the diagnostic views
// that nothing reads).
#ifndef MARLLIB_MARLPARSER_H
#define MARLLIB_MARLPARSER_H

#include <cstdint>
#include <memory>

#include "marlparser_entity.h"
#include "marlparser_scan.h"

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

template <typename Target>
class BasicParser {
public:
    // A parser over length bytes at data, or null when handler or data is null or length is
    // below MarlFormat::kShortestTagText (such input holds no tag). Neither the handler nor
    // the bytes are owned; both must outlive the parser, and the bytes stay unchanged while it
    // is used.
    static std::unique_ptr<BasicParser> Create(Target* handler, const char* data, int32_t length);

    // Makes none of Create's checks: handler is not null, and data holds length bytes.
    BasicParser(Target* handler, const char* data, int32_t length)
        : handler(handler), data(data), length(length) {}
    BasicParser(const BasicParser&) = delete;
    BasicParser& operator=(const BasicParser&) = delete;

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

    BasicEntityHandler<Target> handler;  // decodes, and forwards to the caller's handler
    const char* data;
    int32_t length;
    int32_t position = 0;

    int32_t constructStart = 0;
    Problem problem = Problem::None;
    int32_t nameStart = 0;
    int32_t nameLength = 0;
    bool nameEscapes = false;  // the last name holds an escape byte
};

// ---- The steps, inline so that each handler type gets a reader of its own ----

template <typename Target>
std::unique_ptr<BasicParser<Target>> BasicParser<Target>::Create(Target* handler,
                                                               const char* data,
                                                               int32_t length) {
    if (handler == nullptr || data == nullptr || length < MarlFormat::kShortestTagText) {
        return nullptr;
    }
    return std::make_unique<BasicParser>(handler, data, length);
}

template <typename Target>
bool BasicParser<Target>::RaiseInvalid(Problem why, bool more) {
    problem = why;
    handler.Invalid();
    return more;
}

template <typename Target>
bool BasicParser<Target>::Parse() {
    if (position >= length) return false;
    problem = Problem::None;

    // Everything up to the next '<' is skipped.
    const char* const open = Scan::FindOpen(data + position, data + length);
    if (open == nullptr) {
        position = length;
        return false;
    }
    constructStart = static_cast<int32_t>(open - data);
    position = constructStart + 1;

    // No tag takes fewer bytes from its '<' on; this also makes the two reads below safe
    // without further tests.
    if (length - constructStart < MarlFormat::kShortestTagText) {
        position = length;
        return RaiseInvalid(Problem::TagCutOff, false);
    }

    const int32_t start = position++;
    if (data[start] != '/') return ReadName(start);
    if (data[position] == '>') {
        ++position;
        handler.End();
        return More();
    }
    return RaiseInvalid(Problem::BadClose, true);
}

template <typename Target>
bool BasicParser<Target>::ReadName(int32_t start) {
    // The first name byte is taken whatever it is; the name runs to the first '>', '/' or '='.
    const char* const end = data + length;
    bool escapes = data[start] == MarlFormat::kEscape;
    const char* const at = Scan::ScanName(data + position, end, escapes);
    position = static_cast<int32_t>(at - data);
    nameStart = start;
    nameLength = position - start;
    if (at == end) {
        problem = Problem::UnclosedName;
        return false;
    }
    nameEscapes = escapes;
    const char* const name = data + start;

    switch (data[position]) {
        case '>':
            ++position;
            handler.Tree(name, nameLength, nameEscapes);
            return More();
        case '/':
            ++position;
            if (More() && data[position] == '>') {
                // The position stays on the '>', which the next step skips as text.
                handler.Leaf(name, nameLength, nullptr, 0, {nameEscapes, false});
                return true;
            }
            return RaiseInvalid(Problem::BadLeafEnd, More());
        default:
            return ReadValue(start, position);
    }
}

template <typename Target>
bool BasicParser<Target>::ReadValue(int32_t start, int32_t equals) {
    // The shortest value text is three bytes: opening byte, closing quote, '>'.
    if (length - equals <= 3) {
        position = equals + 1;
        return RaiseInvalid(Problem::ShortValue, More());
    }
    // The byte after '=' opens the value and is not examined.
    const int32_t value = equals + 2;
    position = value;
    bool doubled = false;
    for (;;) {
        const char* const quote =
            Scan::FindByte(data + position, data + length, MarlFormat::kQuote);
        if (quote == nullptr) {
            position = length;
            return RaiseInvalid(Problem::UnclosedValue, false);
        }
        position = static_cast<int32_t>(quote - data) + 1;
        if (position == length) return RaiseInvalid(Problem::UnclosedValue, false);
        if (data[position] != MarlFormat::kQuote) break;
        // A doubled quote byte stands for one quote byte inside the value.
        doubled = true;
        if (++position == length) return RaiseInvalid(Problem::UnclosedValue, false);
    }
    if (data[position] != '>') return RaiseInvalid(Problem::BadQuote, false);
    ++position;
    handler.Leaf(data + start, nameLength, data + value, position - value - 2,
                  {nameEscapes, doubled});
    return More();
}

using Parser = BasicParser<Handler>;
// Parser's code is compiled once, in marlparser.cpp.
extern template class BasicParser<Handler>;

}  // namespace MarlParser

#endif  // MARLLIB_MARLPARSER_H
