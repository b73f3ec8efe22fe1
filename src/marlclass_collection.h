// MarlClass::Collection: an ordered list of tag indices, owned by a document.
// Its index array comes from the document's arena, or from the heap for a collection made
// without one.
#ifndef MARLLIB_MARLCLASS_COLLECTION_H
#define MARLLIB_MARLCLASS_COLLECTION_H

#include <cstdint>

#include "ds.h"
#include "ds_arena.h"
#include "marllib.h"

namespace MarlClass {

class Collection : public Marl::Collection {
public:
    explicit Collection(DS::Arena* arena = nullptr) : arena(arena) {}
    ~Collection();
    Collection(const Collection&) = delete;
    Collection& operator=(const Collection&) = delete;

    // Appends a tag index and returns its position in the list.
    int32_t AppendTag(int32_t tag);

    // Makes room for one more index, so that AppendReserved cannot fail.
    void Reserve() { View().reserve(); }
    void AppendReserved(int32_t tag) noexcept { View().appendReserved(tag); }

    int32_t count = 0;
    int32_t* items = nullptr;  // count tag indices, in the order the tags were added

private:
    DS::Collection<int32_t, int32_t> View() { return {&count, &items, arena}; }
    DS::Arena* arena;
};

}  // namespace MarlClass

#endif  // MARLLIB_MARLCLASS_COLLECTION_H
