#include "marlclass_tag.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace MarlClass {

namespace {

// Copies a name (at most 64 bytes) without a library call: names are mostly a few bytes
// long, and the call would cost more than the copy.
void CopyName(char* to, const char* from, int32_t length) {
    if (length >= 8) {
        for (int32_t i = 0; i + 8 < length; i += 8) std::memcpy(to + i, from + i, 8);
        std::memcpy(to + length - 8, from + length - 8, 8);
    } else if (length >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + length - 4, from + length - 4, 4);
    } else {
        for (int32_t i = 0; i < length; ++i) to[i] = from[i];
    }
}

}  // namespace

Tag* Tag::Create(DS::Arena& arena, const char* name, int32_t length, bool isLeaf,
                 int32_t collection) {
    if (!ValidName(name, length)) return nullptr;
    void* const place = arena.Allocate(sizeof(Tag) + static_cast<size_t>(length), alignof(Tag));
    char* const room = static_cast<char*>(place) + sizeof(Tag);
    return new (place) Tag(room, name, length, isLeaf, isLeaf ? -1 : collection);
}

Tag::Tag(char* room, const char* name, int32_t length, bool isLeaf, int32_t collection)
    : nameLength(static_cast<int8_t>(length)),
      nameRoom(static_cast<int8_t>(length)),
      isLeaf(isLeaf),
      valueLength(0),
      collection(collection),
      name(room),
      value(nullptr) {
    CopyName(room, name, length);
}

Tag::~Tag() {
    if (ownsValue) delete[] value;
    if (ownsName) delete[] name;
}

bool Tag::SetValue(const char* bytes, int32_t length, DS::Arena* arena) {
    if (!isLeaf) return false;
    if (bytes == nullptr) length = 0;
    // The new bytes are taken before the old ones are let go, so that a failed allocation
    // changes nothing.
    char* fresh = nullptr;
    if (length > 0) {
        const auto size = static_cast<size_t>(length);
        fresh = arena != nullptr ? arena->AllocateArray<char>(size) : new char[size];
        std::memcpy(fresh, bytes, size);
    }
    if (ownsValue) delete[] value;
    value = fresh;
    valueLength = length;
    ownsValue = fresh != nullptr && arena == nullptr;
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
    if (length > nameRoom) {
        // The new name covers every byte stored so far; a full field, zero past the name,
        // leaves room for any later name.
        char* const field = new char[kNameMax]();
        std::memcpy(field, bytes, static_cast<size_t>(length));
        if (ownsName) delete[] name;
        name = field;
        nameRoom = kNameMax;
        ownsName = true;
    } else {
        std::memmove(name, bytes, static_cast<size_t>(length));
    }
    nameLength = static_cast<int8_t>(length);
    return true;
}

int32_t Tag::GetName(char* buffer) const {
    if (buffer != nullptr) {
        std::memcpy(buffer, name, static_cast<size_t>(nameRoom));
        std::memset(buffer + nameRoom, 0, static_cast<size_t>(kNameMax - nameRoom));
    }
    return nameLength;
}

bool Tag::NameEquals(const char* query, int32_t length) const {
    return query != nullptr && length == nameLength &&
           std::memcmp(name, query, static_cast<size_t>(length)) == 0;
}

}  // namespace MarlClass
