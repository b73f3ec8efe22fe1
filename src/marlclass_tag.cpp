#include "marlclass_tag.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace MarlClass {

bool Tag::SetValue(DS::HeapBlocks& heap, const char* bytes, int32_t length) {
    if (!isLeaf) return false;
    if (bytes == nullptr) length = 0;
    // The new bytes are taken before the old ones are let go, so that a failed allocation
    // changes nothing.
    char* fresh = nullptr;
    if (length > 0) {
        const auto size = static_cast<size_t>(length);
        fresh = heap.Take(size);
        std::memcpy(fresh, bytes, size);
    }
    if (valueOnHeap) heap.Give(value);
    value = fresh;
    valueLength = length;
    valueOnHeap = fresh != nullptr;
    return true;
}

int32_t Tag::GetValue(char* buffer, int32_t max) const {
    if (buffer != nullptr && value != nullptr && max > 0) {
        std::memcpy(buffer, value, static_cast<size_t>(std::min(max, valueLength)));
    }
    return valueLength;
}

bool Tag::SetName(DS::Arena& arena, const char* bytes, int32_t length) {
    if (!ValidName(bytes, length)) return false;
    if (length > nameRoom && length > kInlineName) {
        // The new name covers every byte stored so far; a full field, zero past the name,
        // leaves room for any later name, so a tag takes at most one.
        char* const field = arena.AllocateArray<char>(kNameMax);
        std::memcpy(field, bytes, static_cast<size_t>(length));
        std::memset(field + length, 0, static_cast<size_t>(kNameMax - length));
        nameBytes.outside = field;
        nameRoom = kNameMax;
    } else {
        // In place, or a short name that grows inside the tag (covering what was stored).
        std::memmove(MutableName(), bytes, static_cast<size_t>(length));
        if (length > nameRoom) nameRoom = static_cast<int8_t>(length);
    }
    nameLength = static_cast<int8_t>(length);
    return true;
}

int32_t Tag::GetName(char* buffer) const {
    if (buffer != nullptr) {
        std::memcpy(buffer, Name(), static_cast<size_t>(nameRoom));
        std::memset(buffer + nameRoom, 0, static_cast<size_t>(kNameMax - nameRoom));
    }
    return nameLength;
}

}  // namespace MarlClass
