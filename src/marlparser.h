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
        : handler(handler), data(data), end(data + length), cursor(data) {}
    BasicParser(const BasicParser&) = delete;
    BasicParser& operator=(const BasicParser&) = delete;

    // Reads the next construct and raises at most one event for it. True while input is
    // left to read; once it returns false the caller stops.
    bool Parse();

    // Read-only views of the last step, for diagnostics. They change nothing that is read.
    int32_t Position() const { return static_cast<int32_t>(cursor - data); }
    int32_t ConstructStart() const { return constructStart; }  // the '<' of the last construct
    Problem LastProblem() const { return problem; }           // None after a good construct
    int32_t RawNameStart() const { return nameStart; }        // the last name as written
    int32_t RawNameLength() const { return nameLength; }

private:
    bool RaiseInvalid(Problem why, bool more);
    bool ReadName(const char* name);
    bool ReadValue(const char* name, const char* equals, bool nameEscapes);
    bool More() const { return cursor < end; }
    int32_t Offset(const char* at) const { return static_cast<int32_t>(at - data); }

    // The reader walks the text with a pointer rather than an index: the hot loop then needs
    // no conversions between the two for every byte it looks at.
    BasicEntityHandler<Target> handler;  // decodes, and forwards to the caller's handler
    const char* data;
    const char* end;     // data + length
    const char* cursor;  // the next byte to read

    int32_t constructStart = 0;
    Problem problem = Problem::None;
    int32_t nameStart = 0;
    int32_t nameLength = 0;
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
    if (cursor >= end) return false;
    problem = Problem::None;

    // Everything up to the next '<' is skipped.
    const char* const open = Scan::FindOpen(cursor, end);
    if (open == nullptr) {
        cursor = end;
        return false;
    }
    constructStart = Offset(open);

    // No tag takes fewer bytes from its '<' on; this also makes the two reads below safe
    // without further tests.
    if (end - open < MarlFormat::kShortestTagText) {
        cursor = end;
        return RaiseInvalid(Problem::TagCutOff, false);
    }

    if (open[1] != '/') return ReadName(open + 1);
    cursor = open + 2;
    if (*cursor == '>') {
        ++cursor;
        handler.End();
        return More();
    }
    return RaiseInvalid(Problem::BadClose, true);
}

template <typename Target>
bool BasicParser<Target>::ReadName(const char* const name) {
    // The first name byte is taken whatever it is; the name runs to the first '>', '/' or '='.
    bool escapes = *name == MarlFormat::kEscape;
    const char* const at = Scan::ScanName(name + 1, end, escapes);
    cursor = at;
    nameStart = Offset(name);
    const auto length = static_cast<int32_t>(at - name);
    nameLength = length;
    if (at == end) {
        problem = Problem::UnclosedName;
        return false;
    }

    switch (*at) {
        case '>':
            ++cursor;
            handler.Tree(name, length, escapes);
            return More();
        case '/':
            ++cursor;
            if (More() && *cursor == '>') {
                // The cursor stays on the '>', which the next step skips as text.
                handler.Leaf(name, length, nullptr, 0, {escapes, false});
                return true;
            }
            return RaiseInvalid(Problem::BadLeafEnd, More());
        default:
            return ReadValue(name, at, escapes);
    }
}

template <typename Target>
bool BasicParser<Target>::ReadValue(const char* const name, const char* const equals,
                                    const bool nameEscapes) {
    // The shortest value text is three bytes: opening byte, closing quote, '>'.
    if (end - equals <= 3) {
        cursor = equals + 1;
        return RaiseInvalid(Problem::ShortValue, More());
    }
    // The byte after '=' opens the value and is not examined.
    const char* const value = equals + 2;
    cursor = value;
    bool doubled = false;
    for (;;) {
        const char* const quote = Scan::FindByte(cursor, end, MarlFormat::kQuote);
        if (quote == nullptr) {
            cursor = end;
            return RaiseInvalid(Problem::UnclosedValue, false);
        }
        cursor = quote + 1;
        if (cursor == end) return RaiseInvalid(Problem::UnclosedValue, false);
        if (*cursor != MarlFormat::kQuote) break;
        // A doubled quote byte stands for one quote byte inside the value.
        doubled = true;
        if (++cursor == end) return RaiseInvalid(Problem::UnclosedValue, false);
    }
    if (*cursor != '>') return RaiseInvalid(Problem::BadQuote, false);
    ++cursor;
    handler.Leaf(name, static_cast<int32_t>(equals - name), value,
                 static_cast<int32_t>(cursor - value - 2), {nameEscapes, doubled});
    return More();
}

using Parser = BasicParser<Handler>;
// Parser's code is compiled once, in marlparser.cpp.
extern template class BasicParser<Handler>;

}  // namespace MarlParser

#endif  // MARLLIB_MARLPARSER_H
