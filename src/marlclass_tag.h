// MarlClass::Tag: one named tag of a document, either a container or a leaf with a value.
#ifndef MARLLIB_MARLCLASS_TAG_H
#define MARLLIB_MARLCLASS_TAG_H

#include <cstdint>

#include "ds_arena.h"
#include "marllib.h"

namespace MarlClass {

class Tag : public Marl::Tag {
public:
    static constexpr int32_t kNameMax = MARLLIB_NAME_MAX;

    // A new tag, or null when the name is null or its length is outside 1..64.
    // A leaf always gets collection -1, whatever is passed. With an arena the tag lives in it
    // and is never deleted (see ~Tag); otherwise it comes from the heap.
    static Tag* Create(const char* name, int32_t length, bool isLeaf, int32_t collection,
                       DS::Arena* arena = nullptr);

    // Takes a name already known to be valid.
    Tag(const char* name, int32_t length, bool isLeaf, int32_t collection);
    // Frees value bytes that the tag owns. A tag in an arena needs this run only when it may
    // own such bytes (OwnsValue()).
    ~Tag();
    Tag(const Tag&) = delete;
    Tag& operator=(const Tag&) = delete;

    // Replaces the value; false for a container. See marllib_SetValue for the rules.
    bool SetValue(const char* value, int32_t length);
    // Like SetValue, but the bytes are kept in arena, which must outlive the tag.
    bool SetValueIn(DS::Arena& arena, const char* value, int32_t length);
    bool OwnsValue() const { return ownsValue; }
    // Copies min(max, stored bytes) bytes to buffer (if any) and returns valueLength.
    int32_t GetValue(char* buffer, int32_t max) const;
    // Replaces the name; false (old name kept) for a null name or a length outside 1..64.
    bool SetName(const char* name, int32_t length);
    // Copies the whole 64-byte name field to buffer (if not null) and returns nameLength.
    int32_t GetName(char* buffer) const;

    // True when the name is exactly these length bytes.
    bool NameEquals(const char* query, int32_t length) const;

    static bool ValidName(const char* name, int32_t length) {
        return name != nullptr && length >= 1 && length <= kNameMax;
    }

    int8_t nameLength;
    char name[kNameMax];  // bytes past nameLength carry no meaning
    bool isLeaf;
    int32_t valueLength;  // 0 without value; negative only if SetValue was given a negative length
    char* value;          // valueLength bytes, or null when the tag holds no value bytes
    int32_t collection;   // a container's own collection index; -1 for a leaf

private:
    // Replaces the value with length bytes already copied to fresh (null for none).
    void Adopt(char* fresh, int32_t length, bool owned);

    bool ownsValue = false;  // value came from the heap, not from an arena
};

}  // namespace MarlClass

#endif  // MARLLIB_MARLCLASS_TAG_H
