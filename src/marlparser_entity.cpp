#include "marlparser_entity.h"

#include <cstring>
#include <memory>

namespace MarlParser {

bool Holds(const char* bytes, int32_t length, char byte) {
    return bytes != nullptr && length > 0 &&
           std::memchr(bytes, static_cast<unsigned char>(byte), static_cast<size_t>(length)) !=
               nullptr;
}

namespace {

// Points name at the decoded form of the raw name: the raw bytes themselves when they hold no
// escape byte, otherwise buffer (MarlFormat::kNameMax bytes). Returns the decoded length.
int32_t DecodeName(const char*& name, int32_t length, bool escapes, char* buffer) {
    if (!escapes) return MarlFormat::CutNameLength(length);
    const int32_t decoded = MarlFormat::DecodeName(buffer, name, length);
    name = buffer;
    return decoded;
}

}  // namespace

void LeafDecoded(Handler& target, const char* name, int32_t nameLength, const char* value,
                 int32_t valueLength, bool nameEscapes, bool valueQuotes) {
    char buffer[MarlFormat::kNameMax];
    const int32_t decodedLength = DecodeName(name, nameLength, nameEscapes, buffer);
    if (value == nullptr || valueLength <= 0) {
        target.Leaf(name, decodedLength, EntityHandler::kNoValue, 0);
        return;
    }
    // Most values hold no quote byte and reach the target straight from the input.
    if (!valueQuotes) {
        target.Leaf(name, decodedLength, value, valueLength);
        return;
    }
    const std::unique_ptr<char[]> collapsed(new char[static_cast<size_t>(valueLength)]);
    const int32_t collapsedLength = MarlFormat::DecodeValue(collapsed.get(), value, valueLength);
    target.Leaf(name, decodedLength, collapsed.get(), collapsedLength);
}

void TreeDecoded(Handler& target, const char* name, int32_t nameLength) {
    char buffer[MarlFormat::kNameMax];
    const int32_t decodedLength = DecodeName(name, nameLength, true, buffer);
    target.Tree(name, decodedLength);
}

}  // namespace MarlParser
