#include "marlparser_entity.h"

#include <cstring>
#include <memory>

namespace MarlParser {

namespace {
// What an escape byte followed by x stands for.
char Unescape(char x) {
    switch (x) {
        case '1': return '=';
        case '2': return '/';
        case '3': return '>';
        default: return x;  // includes the escape byte itself
    }
}
}  // namespace

int32_t EntityHandler::TranslateName(char* out, const char* in, int32_t length) const {
    int32_t i = 0;
    int32_t o = 0;
    while (i < length && o < kNameMax) {
        if (in[i] != kEscape) {
            out[o++] = in[i++];
        } else if (i + 1 < length) {
            out[o++] = Unescape(in[i + 1]);
            i += 2;
        } else {
            out[o++] = kEscape;  // a lone escape byte at the end stands for itself
            break;
        }
    }
    return o;
}

int32_t EntityHandler::CollapseValue(char* out, const char* in, int32_t length) {
    int32_t o = 0;
    for (int32_t i = 0; i < length; ++i) {
        if (in[i] == kQuote && i + 1 < length) ++i;  // the first of a pair stands for nothing
        out[o++] = in[i];
    }
    return o;
}

void EntityHandler::Leaf(const char* name, int32_t nameLength, const char* value,
                         int32_t valueLength) {
    char decoded[kNameMax];
    const int32_t decodedLength = TranslateName(decoded, name, nameLength);
    static const char kEmpty[1] = {0};
    if (value == nullptr || valueLength <= 0) {
        target->Leaf(decoded, decodedLength, kEmpty, 0);
        return;
    }
    // Most values hold no quote byte and reach the target straight from the input.
    if (std::memchr(value, kQuote, static_cast<size_t>(valueLength)) == nullptr) {
        target->Leaf(decoded, decodedLength, value, valueLength);
        return;
    }
    const std::unique_ptr<char[]> collapsed(new char[static_cast<size_t>(valueLength)]);
    const int32_t collapsedLength = CollapseValue(collapsed.get(), value, valueLength);
    target->Leaf(decoded, decodedLength, collapsed.get(), collapsedLength);
}

void EntityHandler::Tree(const char* name, int32_t nameLength) {
    char decoded[kNameMax];
    target->Tree(decoded, TranslateName(decoded, name, nameLength));
}

void EntityHandler::End() { target->End(); }

void EntityHandler::Invalid() { target->Invalid(); }

}  // namespace MarlParser
