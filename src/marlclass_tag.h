// MarlClass::Tag: one named tag of a document, either a container or a leaf with a value.
#ifndef MARLLIB_MARLCLASS_TAG_H
#define MARLLIB_MARLCLASS_TAG_H

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "ds_arena.h"
#include "ds_heap_blocks.h"
#include "marllib.h"

namespace MarlClass {

// The name behaves as a 64-byte field of which the first NameLength() bytes are the name:
// GetName hands out all 64 bytes, zero past the name on a new tag, and a rename to a shorter
// name leaves the tail of the earlier one in place. Only the bytes that were ever written are
// stored (nameRoom of them); the rest of the field reads as zeros. Most names are short, so a
// tag takes a fraction of the memory of a full field.
//
// A tag owns none of its bytes. Its name and the value it was created with live in the arena
// it was created in, right behind it, and so does the full name field that a longer rename
// takes; a value set later lives in the heap blocks that SetValue is given, until it is
// replaced. A tag therefore needs no destructor: it goes with its arena.
class Tag : public Marl::Tag {
public:
    static constexpr int32_t kNameMax = MARLLIB_NAME_MAX;

    // A new tag in arena, with its name bytes right behind it, or null when the name is null
    // or its length is outside 1..64. A leaf always gets collection -1, whatever is passed,
    // and keeps valueLength bytes of value (if value is not null and valueLength positive)
    // right behind its name; a container gets no value. The tag lives as long as the arena.
    // (Inline: a reader calls it once per tag it reads.)
    static Tag* Create(DS::Arena& arena, const char* name, int32_t length, bool isLeaf,
                       int32_t collection, const char* value = nullptr,
                       int32_t valueLength = 0) {
        if (!ValidName(name, length)) return nullptr;
        if (!isLeaf || value == nullptr || valueLength < 0) valueLength = 0;
        void* const place = arena.Allocate(Size(length, valueLength), alignof(Tag));
        return new (place) Tag(name, length, isLeaf, isLeaf ? -1 : collection, value, valueLength);
    }
    // A new container at place, which has room for Size(length, 0) bytes aligned for a Tag
    // (for a caller that takes one piece of an arena for the tag and more), with its name
    // bytes right behind it; the name must be valid. It lives as long as that memory.
    static Tag* CreateContainerAt(void* place, const char* name, int32_t length,
                                  int32_t collection) {
        assert(ValidName(name, length));
        return new (place) Tag(name, length, false, collection, nullptr, 0);
    }
    // The bytes that a tag with a valid name of length bytes and valueLength value bytes
    // takes, itself included.
    static constexpr size_t Size(int32_t length, int32_t valueLength) {
        return sizeof(Tag) + static_cast<size_t>(length) + static_cast<size_t>(valueLength);
    }

    Tag(const Tag&) = delete;
    Tag& operator=(const Tag&) = delete;

    // Replaces the value with a copy of the bytes taken from heap, which must be the same
    // blocks for every SetValue of this tag; false for a container. See marllib_SetValue for
    // the rules.
    bool SetValue(DS::HeapBlocks& heap, const char* value, int32_t length);
    // Copies min(max, stored bytes) bytes to buffer (if any) and returns ValueLength().
    int32_t GetValue(char* buffer, int32_t max) const;
    // Replaces the name; false (old name kept) for a null name or a length outside 1..64. A
    // name longer than any before takes a full name field from arena, the tag's own arena.
    bool SetName(DS::Arena& arena, const char* name, int32_t length);
    // Copies the whole 64-byte name field to buffer (if not null) and returns NameLength().
    int32_t GetName(char* buffer) const;

    // True when the name is exactly these length bytes.
    bool NameEquals(const char* query, int32_t length) const;

    static bool ValidName(const char* name, int32_t length) {
        return name != nullptr && length >= 1 && length <= kNameMax;
    }

    // The name's bytes (NameLength() of them count) and length, 1 to 64.
    const char* Name() const { return name; }
    int32_t NameLength() const { return nameLength; }
    bool IsLeaf() const { return isLeaf; }
    // ValueLength() bytes, or null when the tag holds no value bytes.
    const char* Value() const { return value; }
    // 0 without value; negative only if SetValue was given a negative length.
    int32_t ValueLength() const { return valueLength; }
    // A container's own collection index; -1 for a leaf.
    int32_t CollectionIndex() const { return collection; }

private:
    // A tag whose name and value bytes follow it in the same piece of memory.
    Tag(const char* name, int32_t length, bool isLeaf, int32_t collection, const char* value,
        int32_t valueLength)
        : name(reinterpret_cast<char*>(this + 1)),
          value(valueLength > 0 ? this->name + length : nullptr),
          valueLength(valueLength),
          collection(collection),
          nameLength(static_cast<int8_t>(length)),
          nameRoom(static_cast<int8_t>(length)),
          isLeaf(isLeaf) {
        CopyBytes(this->name, name, length);
        if (valueLength > 0) CopyBytes(this->value, value, valueLength);
    }

    // Copies length bytes; short runs, the usual names and values, without a library call,
    // which would cost more than the copy.
    static void CopyBytes(char* to, const char* from, int32_t length) {
        if (length > 64) {
            std::memcpy(to, from, static_cast<size_t>(length));
        } else if (length >= 8) {
            for (int32_t i = 0; i + 8 < length; i += 8) std::memcpy(to + i, from + i, 8);
            std::memcpy(to + length - 8, from + length - 8, 8);
        } else if (length >= 4) {
            std::memcpy(to, from, 4);
            std::memcpy(to + length - 4, from + length - 4, 4);
        } else {
            for (int32_t i = 0; i < length; ++i) to[i] = from[i];
        }
    }

    // Largest first, so that a tag takes 32 bytes on a 64-bit system (its name follows).
    char* name;           // nameRoom bytes, the name first
    char* value;          // valueLength bytes, or null when the tag holds no value bytes
    int32_t valueLength;  // 0 without value; negative only if SetValue was given a negative length
    int32_t collection;   // a container's own collection index; -1 for a leaf
    int8_t nameLength;    // 1 to 64
    int8_t nameRoom;      // bytes stored at name: the longest name the tag has had, or 64
    bool isLeaf;
    bool valueOnHeap = false;  // value is a block of SetValue's heap blocks, not arena bytes
};

static_assert(std::is_trivially_destructible<Tag>::value,
              "tags go with their arena, without a destructor call");

}  // namespace MarlClass

#endif  // MARLLIB_MARLCLASS_TAG_H
