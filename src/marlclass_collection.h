// MarlClass::Collection: an ordered list of tag indices, owned by a document.
#ifndef MARLLIB_MARLCLASS_COLLECTION_H
#define MARLLIB_MARLCLASS_COLLECTION_H

#include <cstdint>

#include "marllib.h"

namespace MarlClass {

class Collection : public Marl::Collection {
public:
    Collection() = default;
    ~Collection();
    Collection(const Collection&) = delete;
    Collection& operator=(const Collection&) = delete;

    // Appends a tag index and returns its position in the list.
    int32_t AppendTag(int32_t tag);

    // Makes room for one more index, so that AppendReserved cannot fail.
    void Reserve();
    void AppendReserved(int32_t tag) noexcept;

    int32_t count = 0;
    int32_t* items = nullptr;  // count tag indices, in the order the tags were added
};

}  // namespace MarlClass

#endif  // MARLLIB_MARLCLASS_COLLECTION_H
