// MarlClass::Collection: an ordered list of tag indices, owned by a document.
// Its index array comes from the document's arena and goes with it.
#ifndef MARLLIB_MARLCLASS_COLLECTION_H
#define MARLLIB_MARLCLASS_COLLECTION_H

#include <cstdint>

#include "ds.h"
#include "ds_arena.h"
#include "marllib.h"

namespace MarlClass {

class Collection : public Marl::Collection {
public:
    explicit Collection(DS::Arena& arena) : arena(&arena) {}
    Collection(const Collection&) = delete;
    Collection& operator=(const Collection&) = delete;

    // Makes room for one more index, so that AppendReserved cannot fail.
    void Reserve() { View().reserve(); }
    void AppendReserved(int32_t tag) noexcept { View().appendReserved(tag); }

    // Count() tag indices at Items(), in the order the tags were added.
    int32_t Count() const { return count; }
    const int32_t* Items() const { return items; }

private:
    DS::Collection<int32_t, int32_t> View() { return {&count, &capacity, &items, arena}; }

    int32_t count = 0;
    int32_t capacity = 0;  // the indices that items has room for
    int32_t* items = nullptr;
    DS::Arena* arena;
};

}  // namespace MarlClass

#endif  // MARLLIB_MARLCLASS_COLLECTION_H
