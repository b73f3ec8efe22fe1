// MarlClass::NameIndexes: the name indexes of one document, one for each collection searched.
//
// A document that is never searched has none of this; the first search of a collection large
// enough to gain from an index makes the document's NameIndexes, with the key that every one
// of its indexes hashes names under, and the collection's index. The indexes are found by
// collection in a small table of their own, open addressing by the collection's index.
#ifndef MARLLIB_MARLCLASS_NAME_INDEXES_H
#define MARLLIB_MARLCLASS_NAME_INDEXES_H

#include <cstdint>
#include <memory>

#include "ds_keyed_hash.h"
#include "marlclass_collection.h"
#include "marlclass_name_index.h"
#include "marlclass_tag.h"

namespace MarlClass {

class NameIndexes {
public:
    // The index of collection (its index in the document, or -1 for the root), whose tags
    // list holds, made if there is none and brought up to date (NameIndex::CatchUp). Throws
    // std::bad_alloc when no room can be had; every index is then still consistent.
    const NameIndex& UpToDate(int32_t collection, const Collection& list, Tag* tags) {
        if (recent != nullptr && recentCollection == collection && recent->UpToDate(list)) {
            return *recent;
        }
        return Refresh(collection, list, tags);
    }
    // After tag was renamed: holder's index, if it holds the tag, lets go of its tags, to be
    // indexed again on the next search. holder is the collection that holds the tag, or
    // Tag::kNoHolder for a leaf that no index has noted, which no index holds.
    void Renamed(int32_t tag, int32_t holder) noexcept;

private:
    struct Entry {
        int32_t collection = 0;
        std::unique_ptr<NameIndex> index;  // null: a free entry
    };

    // UpToDate where the index is not the one searched last, or not up to date (out of line).
    const NameIndex& Refresh(int32_t collection, const Collection& list, Tag* tags);
    // The entry of collection, or the free one where it would go.
    Entry& Place(int32_t collection) const;
    // A larger table with the same indexes (slow path, out of line).
    void Grow();

    DS::KeyedHash hash;
    std::unique_ptr<Entry[]> entries;
    uint32_t entryCount = 0;  // a power of two, or 0
    uint32_t used = 0;
    // The index searched last, up to date then, and its collection: searches tend to come
    // one after another in one collection.
    NameIndex* recent = nullptr;
    int32_t recentCollection = 0;
};

}  // namespace MarlClass

#endif  // MARLLIB_MARLCLASS_NAME_INDEXES_H
