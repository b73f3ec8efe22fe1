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
// stored (nameRoom of them); the rest of the field reads as zeros. Most names are short: up to
// kInlineName bytes are stored in the tag itself, longer ones in its arena.
//
// A tag is a record of its document's tag table, which copies it as the table grows; it owns
// none of its bytes. Its longer name and the value it was created with live in the arena it
// was created with, and so does the full name field that a longer rename takes; a value set
// later lives in the heap blocks that SetValue is given, until it is replaced. A tag therefore
// needs no destructor: its bytes go with their arena.
//
// The tags of one collection are chained in their order by Next(), so that appending to a
// collection is a store or two and a collection needs no array of its own.
class Tag : public Marl::Tag {
public:
    static constexpr int32_t kNameMax = MARLLIB_NAME_MAX;
    // The longest name kept in the tag itself.
    static constexpr int32_t kInlineName = 8;
    // What Next() gives for the last tag of its collection.
    static constexpr int32_t kNoNext = -1;
    // What NotedHolder() gives for a leaf whose collection nothing has noted.
    static constexpr int32_t kNoHolder = INT32_MIN;

    // Leaves every field unset, so that a table can make room for records it has not filled
    // without touching that memory.
    Tag() = default;

    // A new tag at place (room for a Tag, aligned for one), or null when the name is null or
    // its length is outside 1..64. A leaf always gets collection -1, whatever is passed, and
    // keeps valueLength bytes of value (if value is not null and valueLength positive); a
    // container gets no value. A longer name and the value take one piece of arena; if that
    // throws, place is untouched. (Inline: a reader calls it once per tag it reads.)
    static Tag* CreateAt(void* place, DS::Arena& arena, const char* name, int32_t length,
                         bool isLeaf, int32_t collection, const char* value = nullptr,
                         int32_t valueLength = 0) {
        if (!ValidName(name, length)) return nullptr;
        if (!isLeaf || value == nullptr || valueLength < 0) valueLength = 0;
        const int32_t outside = length > kInlineName ? length : 0;
        const size_t size = static_cast<size_t>(outside) + static_cast<size_t>(valueLength);
        char* const bytes = size > 0 ? arena.AllocateArray<char>(size) : nullptr;
        Tag* const tag = new (place) Tag;  // left unset: Fill sets every field
        tag->Fill(name, length, isLeaf, isLeaf ? kNoHolder : collection, bytes, value,
                  valueLength);
        return tag;
    }
    // CreateAt for a tag of its own in arena.
    static Tag* Create(DS::Arena& arena, const char* name, int32_t length, bool isLeaf,
                       int32_t collection, const char* value = nullptr,
                       int32_t valueLength = 0) {
        if (!ValidName(name, length)) return nullptr;
        return CreateAt(arena.Allocate(sizeof(Tag), alignof(Tag)), arena, name, length, isLeaf,
                        collection, value, valueLength);
    }

    // Replaces the value with a copy of the bytes taken from heap, which must be the same
    // blocks for every SetValue of this tag; false for a container. See marllib_SetValue for
    // the rules.
    bool SetValue(DS::HeapBlocks& heap, const char* value, int32_t length);
    // Copies min(max, stored bytes) bytes to buffer (if any) and returns ValueLength().
    int32_t GetValue(char* buffer, int32_t max) const;
    // Replaces the name; false (old name kept) for a null name or a length outside 1..64. A
    // name longer than any before and than kInlineName takes a full name field from arena,
    // the arena the tag was created with.
    bool SetName(DS::Arena& arena, const char* name, int32_t length);
    // Copies the whole 64-byte name field to buffer (if not null) and returns NameLength().
    int32_t GetName(char* buffer) const;

    // True when the name is exactly these length bytes. (Inline: every search by name calls
    // it, once per match when it goes through a name index.)
    bool NameEquals(const char* query, int32_t length) const {
        return query != nullptr && length == nameLength && SameBytes(Name(), query, length);
    }

    static bool ValidName(const char* name, int32_t length) {
        return name != nullptr && length >= 1 && length <= kNameMax;
    }

    // The name's bytes (NameLength() of them count) and length, 1 to 64. The bytes of a short
    // name are inside the tag: the pointer is valid until the tag table is next changed.
    const char* Name() const { return IsInline() ? nameBytes.inside : nameBytes.outside; }
    int32_t NameLength() const { return nameLength; }
    bool IsLeaf() const { return isLeaf; }
    // ValueLength() bytes, or null when the tag holds no value bytes.
    const char* Value() const { return value; }
    // 0 without value; negative only if SetValue was given a negative length.
    int32_t ValueLength() const { return valueLength; }
    // A container's own collection index; -1 for a leaf.
    int32_t CollectionIndex() const { return isLeaf ? -1 : collection; }
    // For a leaf, the collection that holds it, where NoteHolder noted it; kNoHolder otherwise
    // and for a container, whose holder its own collection knows (Collection::Up). A tag does
    // not learn its holder when it is made, which would cost the loader a step per tag; a
    // name index notes it for every leaf it indexes, so that a rename finds that index.
    int32_t NotedHolder() const { return isLeaf ? collection : kNoHolder; }
    void NoteHolder(int32_t holder) {
        if (isLeaf) collection = holder;
    }
    // The index of the tag after this one in its collection, or kNoNext.
    int32_t Next() const { return next; }
    void SetNext(int32_t tag) { next = tag; }

private:
    // Sets every field: a tag of the next collection entry's kind, last in its collection. own
    // is a container's collection, or kNoHolder for a leaf.
    // bytes has room for the name if it is longer than kInlineName, followed by the value.
    void Fill(const char* name, int32_t length, bool leaf, int32_t own, char* bytes,
              const char* valueBytes, int32_t valueBytesLength) {
        if (length > kInlineName) {
            nameBytes.outside = bytes;
            CopyBytes(bytes, name, length);
            bytes += length;
        } else {
            CopyShort(nameBytes.inside, name, length);
        }
        value = valueBytesLength > 0 ? bytes : nullptr;
        if (valueBytesLength > 0) CopyBytes(bytes, valueBytes, valueBytesLength);
        valueLength = valueBytesLength;
        collection = own;
        next = kNoNext;
        nameLength = static_cast<int8_t>(length);
        nameRoom = static_cast<int8_t>(length);
        isLeaf = leaf;
        valueOnHeap = false;
    }

    bool IsInline() const { return nameRoom <= kInlineName; }
    char* MutableName() { return IsInline() ? nameBytes.inside : nameBytes.outside; }

    // Copies length bytes; short runs, the usual names and values, without a library call,
    // which would cost more than the copy.
    static void CopyBytes(char* to, const char* from, int32_t length) {
        if (length > 64) {
            std::memcpy(to, from, static_cast<size_t>(length));
        } else if (length > 8) {
            for (int32_t i = 0; i + 8 < length; i += 8) std::memcpy(to + i, from + i, 8);
            std::memcpy(to + length - 8, from + length - 8, 8);
        } else {
            CopyShort(to, from, length);
        }
    }
    // The same for up to 8 bytes: two overlapping 4-byte copies cover 4 to 8.
    static void CopyShort(char* to, const char* from, int32_t length) {
        assert(length <= 8);
        if (length >= 4) {
            std::memcpy(to, from, 4);
            std::memcpy(to + length - 4, from + length - 4, 4);
        } else if (length > 0) {
            // One to three bytes: the first, the middle and the last cover them all.
            to[0] = from[0];
            to[length / 2] = from[length / 2];
            to[length - 1] = from[length - 1];
        }
    }

    // True when the length bytes at a and b are the same; compared as CopyBytes copies, in
    // words that may overlap, without a library call.
    static bool SameBytes(const char* a, const char* b, int32_t length) {
        if (length > 8) {
            for (int32_t i = 0; i + 8 < length; i += 8) {
                if (Bytes<uint64_t>(a + i) != Bytes<uint64_t>(b + i)) return false;
            }
            return Bytes<uint64_t>(a + length - 8) == Bytes<uint64_t>(b + length - 8);
        }
        if (length >= 4) {
            return Bytes<uint32_t>(a) == Bytes<uint32_t>(b) &&
                   Bytes<uint32_t>(a + length - 4) == Bytes<uint32_t>(b + length - 4);
        }
        return length <= 0 || (a[0] == b[0] && a[length / 2] == b[length / 2] &&
                               a[length - 1] == b[length - 1]);
    }
    // sizeof(Word) bytes at bytes, as one word.
    template <typename Word>
    static Word Bytes(const char* bytes) {
        Word word;
        std::memcpy(&word, bytes, sizeof word);
        return word;
    }

    // Largest first, so that a tag takes 32 bytes on a 64-bit system.
    union NameBytes {
        char inside[kInlineName];  // with nameRoom up to kInlineName
        char* outside;             // nameRoom bytes in the arena otherwise
    } nameBytes;
    char* value;          // valueLength bytes, or null when the tag holds no value bytes
    int32_t valueLength;  // 0 without value; negative only if SetValue was given a negative length
    int32_t collection;   // a container's own collection index; a leaf's noted holder
    int32_t next;         // the next tag of the same collection, or kNoNext
    int8_t nameLength;    // 1 to 64
    int8_t nameRoom;      // name bytes stored: the longest name the tag has had, or 64
    bool isLeaf;
    bool valueOnHeap;     // value is a block of SetValue's heap blocks, not arena bytes
};

static_assert(std::is_trivially_copyable<Tag>::value &&
                  std::is_trivially_default_constructible<Tag>::value,
              "the tag table copies its records as it grows and reserves them untouched");
static_assert(std::is_trivially_destructible<Tag>::value,
              "tags go with their table and their bytes with the arena, without destructor calls");

}  // namespace MarlClass

#endif  // MARLLIB_MARLCLASS_TAG_H
