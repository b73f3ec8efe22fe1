#include "marlclass_tag.h"

#include <algorithm>
#include <cstring>

namespace MarlClass {

Tag* Tag::Create(const char* name, int32_t length, bool isLeaf, int32_t collection) {
    if (!ValidName(name, length)) return nullptr;
    return new Tag(name, length, isLeaf, isLeaf ? -1 : collection);
}

Tag::Tag(const char* name, int32_t length, bool isLeaf, int32_t collection)
    : nameLength(static_cast<int8_t>(length)),
      name(),  // zeroed so that GetName's 64-byte copy never hands out stale memory
      isLeaf(isLeaf),
      valueLength(0),
      value(nullptr),
      collection(collection) {
    std::memcpy(this->name, name, static_cast<size_t>(length));
}

Tag::~Tag() { delete[] value; }

bool Tag::SetValue(const char* bytes, int32_t length) {
    if (!isLeaf) return false;
    if (bytes == nullptr) length = 0;
    // Allocate before letting go of the old value, so a failed allocation changes nothing.
    char* fresh = nullptr;
    if (length > 0) {
        fresh = new char[static_cast<size_t>(length)];
        std::memcpy(fresh, bytes, static_cast<size_t>(length));
    }
    delete[] value;
    value = fresh;
    valueLength = length;
    return true;
}

int32_t Tag::GetValue(char* buffer, int32_t max) const {
    if (buffer != nullptr && value != nullptr && max > 0) {
        std::memcpy(buffer, value, static_cast<size_t>(std::min(max, valueLength)));
    }
    return valueLength;
}

bool Tag::SetName(const char* bytes, int32_t length) {
    if (!ValidName(bytes, length)) return false;
    nameLength = static_cast<int8_t>(length);
    std::memmove(name, bytes, static_cast<size_t>(length));
    return true;
}

int32_t Tag::GetName(char* buffer) const {
    if (buffer != nullptr) std::memcpy(buffer, name, sizeof name);
    return nameLength;
}

bool Tag::NameEquals(const char* query, int32_t length) const {
    return query != nullptr && length == nameLength &&
           std::memcmp(name, query, static_cast<size_t>(length)) == 0;
}

}  // namespace MarlClass
