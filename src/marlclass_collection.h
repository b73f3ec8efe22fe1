// MarlClass::Collection: an ordered list of tags, owned by a document.
//
// The list is a chain through the tags themselves (Tag::Next), from the first to the last, so
// a collection is four numbers and appending to it is a store or two: no array to grow, and
// no copy of the entries as the list gets long. A collection also knows the collection that
// holds its container, so that a builder climbs out of it without a stack of its own.
#ifndef MARLLIB_MARLCLASS_COLLECTION_H
#define MARLLIB_MARLCLASS_COLLECTION_H

#include <cassert>
#include <cstdint>
#include <type_traits>

#include "marlclass_tag.h"
#include "marllib.h"

namespace MarlClass {

class Collection : public Marl::Collection {
public:
    // What Up() gives for the root, which no container holds.
    static constexpr int32_t kNoUp = -2;

    // Leaves every field unset, so that a table can make room for records it has not filled
    // without touching that memory; Empty() gives one to use.
    // cppcheck-suppress uninitMemberVar
    Collection() = default;
    // An empty collection whose container is held by collection up (-1 for the root).
    static Collection Empty(int32_t up) {
        Collection empty;
        empty.first = Tag::kNoNext;
        empty.last = Tag::kNoNext;
        empty.count = 0;
        empty.up = up;
        return empty;
    }

    // Appends tag, the index of a new tag of tags (the document's tag table) that no
    // collection holds yet. Never fails.
    void Append(Tag* tags, int32_t tag) noexcept {
        assert(tags[tag].Next() == Tag::kNoNext && "a tag already in a collection");
        if (count == 0) {
            first = tag;
        } else {
            tags[last].SetNext(tag);
        }
        last = tag;
        ++count;
    }

    // Count() tags, in the order they were added: the first, and then each one's Next().
    int32_t Count() const { return count; }
    int32_t First() const { return first; }
    // The index of the collection that holds this one's container (-1 for the root), or kNoUp.
    int32_t Up() const { return up; }

private:
    int32_t first;  // Tag::kNoNext when empty
    int32_t last;   // Tag::kNoNext when empty
    int32_t count;
    int32_t up;
};

static_assert(std::is_trivially_copyable<Collection>::value &&
                  std::is_trivially_default_constructible<Collection>::value,
              "the collection table copies its records as it grows and reserves them untouched");

}  // namespace MarlClass

#endif  // MARLLIB_MARLCLASS_COLLECTION_H
