#include "marlparser_entity.h"

#include <cstring>
#include <memory>

namespace MarlParser {

int32_t EntityHandler::DecodeName(const char*& name, int32_t length, bool escapes,
                                  char* buffer) {
    if (!escapes) return length < MarlFormat::kNameMax ? length : MarlFormat::kNameMax;
    const int32_t decoded = MarlFormat::DecodeName(buffer, name, length);
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
         Scanned{Holds(name, nameLength, MarlFormat::kEscape),
                 Holds(value, valueLength, MarlFormat::kQuote)});
}

void EntityHandler::LeafDecoded(const char* name, int32_t nameLength, const char* value,
                                int32_t valueLength, Scanned scanned) {
    char buffer[MarlFormat::kNameMax];
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
    const int32_t collapsedLength = MarlFormat::DecodeValue(collapsed.get(), value, valueLength);
    target->Leaf(name, decodedLength, collapsed.get(), collapsedLength);
}

void EntityHandler::Tree(const char* name, int32_t nameLength) {
    Tree(name, nameLength, Holds(name, nameLength, MarlFormat::kEscape));
}

void EntityHandler::TreeDecoded(const char* name, int32_t nameLength) {
    char buffer[MarlFormat::kNameMax];
    const int32_t decodedLength = DecodeName(name, nameLength, true, buffer);
    target->Tree(name, decodedLength);
}

}  // namespace MarlParser
