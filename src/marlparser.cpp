#include "marlparser.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace MarlParser {

namespace {

constexpr char kQuote = '"';

// What each byte means to the name scan: nothing, the end of the name ('>', '/', '='), or
// an escape that the entity handler will have to decode.
enum NameByte : unsigned char { kPlain, kEnd, kEscapeByte };

struct NameBytes {
    NameByte kind[256];
    constexpr NameBytes() : kind() {
        kind[static_cast<unsigned char>('>')] = kEnd;
        kind[static_cast<unsigned char>('/')] = kEnd;
        kind[static_cast<unsigned char>('=')] = kEnd;
        kind[0x80] = kEscapeByte;
    }
    NameByte operator[](char c) const { return kind[static_cast<unsigned char>(c)]; }
};
constexpr NameBytes kNameBytes{};

// The first '<' in [from, to), or null. Tags mostly follow a line end and a little
// indentation, so a few bytes are looked at before the search goes to memchr.
const char* FindOpen(const char* from, const char* to) {
    const char* const near = from + std::min<ptrdiff_t>(16, to - from);
    for (; from < near; ++from) {
        if (*from == '<') return from;
    }
    if (from == to) return nullptr;
    return static_cast<const char*>(std::memchr(from, '<', static_cast<size_t>(to - from)));
}

}  // namespace

Parser* Parser::Create(Handler* handler, const char* data, int32_t length) {
    if (handler == nullptr || data == nullptr || length < 4) return nullptr;
    return new Parser(handler, data, length);
}

Parser::Parser(Handler* handler, const char* data, int32_t length)
    : handler(new EntityHandler(handler)), data(data), length(length) {}

Parser::~Parser() { delete handler; }

bool Parser::RaiseInvalid(Problem why, bool more) {
    problem = why;
    handler->Invalid();
    return more;
}

bool Parser::Parse() {
    if (position >= length) return false;
    problem = Problem::None;

    // Everything up to the next '<' is skipped.
    const char* const open = FindOpen(data + position, data + length);
    if (open == nullptr) {
        position = length;
        return false;
    }
    constructStart = static_cast<int32_t>(open - data);
    position = constructStart + 1;

    // Every tag needs at least three bytes after its '<'; this also makes the two reads
    // below safe without further tests.
    if (length - position < 3) {
        position = length;
        return RaiseInvalid(Problem::TagCutOff, false);
    }

    const int32_t start = position++;
    if (data[start] != '/') return ReadName(start);
    if (data[position] == '>') {
        ++position;
        handler->End();
        return More();
    }
    return RaiseInvalid(Problem::BadClose, true);
}

bool Parser::ReadName(int32_t start) {
    // The first name byte is taken whatever it is; the name runs to the first '>', '/' or '='.
    // (Locals, not members, in the loop: the compiler cannot keep a member in a register
    // across reads through a char pointer.)
    const char* const end = data + length;
    const char* at = data + position;
    bool escapes = data[start] == EntityHandler::kEscape;
    for (;;) {
        const NameByte kind = kNameBytes[*at];
        if (kind == kEnd) break;
        if (kind == kEscapeByte) escapes = true;
        if (++at == end) {
            position = length;
            problem = Problem::UnclosedName;
            nameStart = start;
            nameLength = position - start;
            return false;
        }
    }
    position = static_cast<int32_t>(at - data);
    nameEscapes = escapes;
    nameStart = start;
    nameLength = position - start;
    const char* const name = data + start;

    switch (data[position]) {
        case '>':
            ++position;
            handler->Tree(name, nameLength, nameEscapes);
            return More();
        case '/':
            ++position;
            if (More() && data[position] == '>') {
                // The position stays on the '>', which the next step skips as text.
                handler->Leaf(name, nameLength, nullptr, 0, {nameEscapes, false});
                return true;
            }
            return RaiseInvalid(Problem::BadLeafEnd, More());
        default:
            return ReadValue(start, position);
    }
}

bool Parser::ReadValue(int32_t start, int32_t equals) {
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
        const void* const quote =
            std::memchr(data + position, kQuote, static_cast<size_t>(length - position));
        if (quote == nullptr) {
            position = length;
            return RaiseInvalid(Problem::UnclosedValue, false);
        }
        position = static_cast<int32_t>(static_cast<const char*>(quote) - data) + 1;
        if (position == length) return RaiseInvalid(Problem::UnclosedValue, false);
        if (data[position] != kQuote) break;
        // A doubled quote byte stands for one quote byte inside the value.
        doubled = true;
        if (++position == length) return RaiseInvalid(Problem::UnclosedValue, false);
    }
    if (data[position] != '>') return RaiseInvalid(Problem::BadQuote, false);
    ++position;
    handler->Leaf(data + start, nameLength, data + value, position - value - 2,
                  {nameEscapes, doubled});
    return More();
}

}  // namespace MarlParser
