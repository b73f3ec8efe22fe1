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

int32_t EntityHandler::DecodeName(const char*& name, int32_t length, bool escapes,
                                  char* buffer) const {
    if (!escapes) return length < kNameMax ? length : kNameMax;
    const int32_t decoded = TranslateName(buffer, name, length);
    name = buffer;
    return decoded;
}

namespace {
bool Holds(const char* bytes, int32_t length, char byte) {
    return bytes != nullptr && length > 0 &&
           std::memchr(bytes, static_cast<unsigned char>(byte), static_cast<size_t>(length)) !=
               nullptr;
}
}  // namespace

void EntityHandler::Leaf(const char* name, int32_t nameLength, const char* value,
                         int32_t valueLength) {
    Leaf(name, nameLength, value, valueLength,
         Scanned{Holds(name, nameLength, kEscape), Holds(value, valueLength, kQuote)});
}

void EntityHandler::LeafDecoded(const char* name, int32_t nameLength, const char* value,
                                int32_t valueLength, Scanned scanned) {
    char buffer[kNameMax];
    const int32_t decodedLength = DecodeName(name, nameLength, scanned.nameEscapes, buffer);
    if (value == nullptr || valueLength <= 0) {
        target->Leaf(name, decodedLength, kNoValue, 0);
        return;
    }
    // Most values hold no quote byte and reach the target straight from the input.
    if (!scanned.valueQuotes) {
        target->Leaf(name, decodedLength, value, valueLength);
        return;
    }
    const std::unique_ptr<char[]> collapsed(new char[static_cast<size_t>(valueLength)]);
    const int32_t collapsedLength = CollapseValue(collapsed.get(), value, valueLength);
    target->Leaf(name, decodedLength, collapsed.get(), collapsedLength);
}

void EntityHandler::Tree(const char* name, int32_t nameLength) {
    Tree(name, nameLength, Holds(name, nameLength, kEscape));
}

void EntityHandler::TreeDecoded(const char* name, int32_t nameLength) {
    char buffer[kNameMax];
    const int32_t decodedLength = DecodeName(name, nameLength, true, buffer);
    target->Tree(name, decodedLength);
}

}  // namespace MarlParser
