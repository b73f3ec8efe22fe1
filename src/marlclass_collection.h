// MarlClass::Collection: an ordered list of tag indices, owned by a document.
// Its index array comes from the document's arena and goes with it.
#ifndef MARLLIB_MARLCLASS_COLLECTION_H
#define MARLLIB_MARLCLASS_COLLECTION_H

#include <cassert>
#include <cstdint>

#include "ds.h"
#include "ds_arena.h"
#include "marllib.h"

namespace MarlClass {

// A collection with one entry, as every container of a chain of nested ones has, keeps it in
// the object itself; an array is taken from the arena from the second entry on. An empty
// collection takes nothing but the object.
class Collection : public Marl::Collection {
public:
    Collection() = default;
    Collection(const Collection&) = delete;
    Collection& operator=(const Collection&) = delete;

    // Makes room for one more index, so that AppendReserved cannot fail. arena is the
    // document's, the same for every call.
    void Reserve(DS::Arena& arena) {
        if (count < capacity) return;
        if (capacity == 1) {
            int32_t* const array = arena.AllocateArray<int32_t>(2);
            array[0] = place.single;
            place.items = array;
            capacity = 2;
            return;
        }
        DS::Collection<int32_t, int32_t>(&count, &capacity, &place.items, &arena).reserve();
    }
    void AppendReserved(int32_t tag) noexcept {
        assert(count < capacity && "AppendReserved without a Reserve");
        // Only the first entry goes into the object: an array is taken for the second.
        assert((count > 0 || capacity == 1) && "an empty collection with an array");
        if (count == 0) {
            place.single = tag;
        } else {
            place.items[count] = tag;
        }
        ++count;
    }

    // Count() tag indices at Items(), in the order the tags were added.
    int32_t Count() const { return count; }
    const int32_t* Items() const { return capacity == 1 ? &place.single : place.items; }

private:
    int32_t count = 0;
    // The indices there is room for: 1 in place.single from the start, so that the first entry
    // needs no growth step (most containers hold one or a few).
    int32_t capacity = 1;
    union Place {
        int32_t single;  // with capacity 1
        int32_t* items;  // with a larger capacity: an array from the arena
    } place{0};
};

}  // namespace MarlClass

#endif  // MARLLIB_MARLCLASS_COLLECTION_H
