#include "marlclass_tag.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace MarlClass {

Tag* Tag::Create(const char* name, int32_t length, bool isLeaf, int32_t collection,
                 DS::Arena* arena) {
    if (!ValidName(name, length)) return nullptr;
    if (isLeaf) collection = -1;
    if (arena == nullptr) return new Tag(name, length, isLeaf, collection);
    return new (arena->Allocate(sizeof(Tag), alignof(Tag))) Tag(name, length, isLeaf, collection);
}

Tag::Tag(const char* name, int32_t length, bool isLeaf, int32_t collection)
    : nameLength(static_cast<int8_t>(length)),
      isLeaf(isLeaf),
      valueLength(0),
      value(nullptr),
      collection(collection) {
    // Zeroed past the name, so that GetName's 64-byte copy never hands out stale memory.
    std::memset(this->name, 0, sizeof this->name);
    std::memcpy(this->name, name, static_cast<size_t>(length));
}

Tag::~Tag() {
    if (ownsValue) delete[] value;
}

// Both setters take the new bytes before letting go of the old ones, so that a failed
// allocation changes nothing.
bool Tag::SetValue(const char* bytes, int32_t length) {
    if (!isLeaf) return false;
    if (bytes == nullptr) length = 0;
    char* fresh = nullptr;
    if (length > 0) {
        fresh = new char[static_cast<size_t>(length)];
        std::memcpy(fresh, bytes, static_cast<size_t>(length));
    }
    Adopt(fresh, length, true);
    return true;
}

bool Tag::SetValueIn(DS::Arena& arena, const char* bytes, int32_t length) {
    if (!isLeaf) return false;
    if (bytes == nullptr) length = 0;
    char* fresh = nullptr;
    if (length > 0) {
        fresh = arena.AllocateArray<char>(static_cast<size_t>(length));
        std::memcpy(fresh, bytes, static_cast<size_t>(length));
    }
    Adopt(fresh, length, false);
    return true;
}

void Tag::Adopt(char* fresh, int32_t length, bool owned) {
    if (ownsValue) delete[] value;
    value = fresh;
    valueLength = length;
    ownsValue = owned && fresh != nullptr;
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
