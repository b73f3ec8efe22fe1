// MarlClass::Tag: one named tag of a document, either a container or a leaf with a value.
#ifndef MARLLIB_MARLCLASS_TAG_H
#define MARLLIB_MARLCLASS_TAG_H

#include <cstdint>

#include "ds_arena.h"
#include "marllib.h"

namespace MarlClass {

// The name behaves as a 64-byte field of which the first nameLength bytes are the name:
// GetName hands out all 64 bytes, zero past the name on a new tag, and a rename to a shorter
// name leaves the tail of the earlier one in place. Only the bytes that were ever written are
// stored (nameRoom of them); the rest of the field reads as zeros. Most names are short, so a
// tag takes a fraction of the memory of a full field.
class Tag : public Marl::Tag {
public:
    static constexpr int32_t kNameMax = MARLLIB_NAME_MAX;

    // A new tag in arena, with its name bytes right behind it, or null when the name is null
    // or its length is outside 1..64. A leaf always gets collection -1, whatever is passed.
    // The tag lives as long as the arena; its destructor needs running only while it owns
    // heap bytes (OwnsHeapBytes()).
    static Tag* Create(DS::Arena& arena, const char* name, int32_t length, bool isLeaf,
                       int32_t collection);

    ~Tag();
    Tag(const Tag&) = delete;
    Tag& operator=(const Tag&) = delete;

    // Replaces the value; false for a container. See marllib_SetValue for the rules. The
    // bytes are copied to the heap, or into arena when one is given (it must outlive the tag).
    bool SetValue(const char* value, int32_t length, DS::Arena* arena = nullptr);
    // Copies min(max, stored bytes) bytes to buffer (if any) and returns valueLength.
    int32_t GetValue(char* buffer, int32_t max) const;
    // Replaces the name; false (old name kept) for a null name or a length outside 1..64.
    bool SetName(const char* name, int32_t length);
    // Copies the whole 64-byte name field to buffer (if not null) and returns nameLength.
    int32_t GetName(char* buffer) const;

    // True when the name is exactly these length bytes.
    bool NameEquals(const char* query, int32_t length) const;
    // True while the tag holds value or name bytes taken from the heap.
    bool OwnsHeapBytes() const { return ownsValue || ownsName; }

    static bool ValidName(const char* name, int32_t length) {
        return name != nullptr && length >= 1 && length <= kNameMax;
    }

    int8_t nameLength;    // 1 to 64
    int8_t nameRoom;      // bytes stored at name: the longest name the tag has had, or 64
    bool isLeaf;

private:
    bool ownsValue = false;  // value came from the heap, not from an arena
    bool ownsName = false;   // name came from the heap (a rename outgrew the first room)

public:
    int32_t valueLength;  // 0 without value; negative only if SetValue was given a negative length
    int32_t collection;   // a container's own collection index; -1 for a leaf
    char* name;           // nameRoom bytes, the name first
    char* value;          // valueLength bytes, or null when the tag holds no value bytes

private:
    Tag(char* room, const char* name, int32_t length, bool isLeaf, int32_t collection);
};

}  // namespace MarlClass

#endif  // MARLLIB_MARLCLASS_TAG_H
