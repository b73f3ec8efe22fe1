#include "marlclass_document.h"

#include <algorithm>
#include <new>

#include "marlclass_name_indexes.h"

namespace MarlClass {

Document::Document() = default;

Document::~Document() {
    // Tags and collections are records of the tables and need no destructor call; their
    // bytes live in the arena, values set later in the heap blocks. Both go with their members,
    // and so do the name indexes.
    delete[] tags;
    delete[] collections;
}

// GetTags returns CheckCollection's codes as AddTag does, so the two functions must give the
// same numbers for the same reasons.
static_assert(MARLLIB_ADDTAG_NO_COLLECTION == MARLLIB_GETTAGS_NO_COLLECTION &&
                  MARLLIB_ADDTAG_BELOW_ROOT == MARLLIB_GETTAGS_BELOW_ROOT,
              "AddTag and GetTags share CheckCollection's codes");

int32_t Document::CheckCollection(int32_t collection) const {
    if (collection >= collectionCount) return MARLLIB_ADDTAG_NO_COLLECTION;
    if (collection < kRoot) return MARLLIB_ADDTAG_BELOW_ROOT;
    return 0;
}

void Document::ReserveTables(int32_t moreTags, int32_t moreContainers) {
    TagTable().reserve(moreTags);
    CollectionTable().reserve(moreContainers);
}

int32_t Document::AddTag(int32_t collection, const char* name, int32_t length, bool isLeaf) {
    if (isLeaf) return AddLeaf(collection, name, length, nullptr, 0);
    if (const int32_t failure = CheckCollection(collection)) return failure;
    Collection* own = nullptr;
    return AddContainerTo(*MutableCollectionAt(collection), name, length, own);
}

int32_t Document::AddLeaf(int32_t collection, const char* name, int32_t length,
                          const char* value, int32_t valueLength) {
    if (const int32_t failure = CheckCollection(collection)) return failure;
    return AddLeafTo(*MutableCollectionAt(collection), name, length, value, valueLength);
}

Collection& Document::GrowCollectionsKeeping(const Collection& target) {
    const int32_t index = IndexOf(target);
    CollectionTable().reserve();
    return KnownCollection(index);
}

inline Collection& Document::ReserveCollectionKeeping(Collection& target) {
    if (collectionCount < collectionCapacity) return target;
    return GrowCollectionsKeeping(target);
}

int32_t Document::AddContainerTo(Collection& target, const char* name, int32_t length,
                                 Collection*& own) {
    Collection& into = ReserveCollectionKeeping(target);
    if (!Tag::ValidName(name, length)) {
        // A container refused for its name still leaves its new collection behind, unreferenced.
        collections[collectionCount++] = Collection::Empty(IndexOf(into));
        return MARLLIB_ADDTAG_BAD_NAME;
    }
    // Everything that can fail comes first and changes nothing that can be seen: room in the
    // tables, then the tag and its bytes. Only then is it counted and linked in.
    TagTable().reserve();
    Tag::CreateAt(&tags[tagCount], arena, name, length, false, collectionCount);
    own = &collections[collectionCount];
    *own = Collection::Empty(IndexOf(into));
    ++collectionCount;
    return Link(into);
}

int32_t Document::AddLeafTo(Collection& target, const char* name, int32_t length,
                            const char* value, int32_t valueLength) {
    if (!Tag::ValidName(name, length)) return MARLLIB_ADDTAG_BAD_NAME;
    // As for a container: room first, then the tag, then the links.
    TagTable().reserve();
    Tag::CreateAt(&tags[tagCount], arena, name, length, true, -1, value, valueLength);
    return Link(target);
}

int32_t Document::Link(Collection& target) noexcept {
    target.Append(tags, tagCount);
    return tagCount++;
}

int32_t Document::GetCollection(int32_t tag) const {
    const Tag* const found = TagAt(tag);
    if (found == nullptr) return MARLLIB_GETCOLLECTION_NO_TAG;
    if (found->IsLeaf()) return MARLLIB_GETCOLLECTION_LEAF;
    return found->CollectionIndex();
}

bool Document::SetValue(int32_t tag, const char* value, int32_t length) {
    Tag* const found = MutableTagAt(tag);
    return found != nullptr && found->SetValue(heap, value, length);
}

int32_t Document::GetValue(int32_t tag, char* buffer, int32_t max) const {
    const Tag* const found = TagAt(tag);
    if (found == nullptr) return MARLLIB_GETVALUE_NO_TAG;
    if (!found->IsLeaf()) return MARLLIB_GETVALUE_CONTAINER;
    return found->GetValue(buffer, max);
}

bool Document::SetName(int32_t tag, const char* name, int32_t length) {
    Tag* const found = MutableTagAt(tag);
    if (found == nullptr || !found->SetName(arena, name, length)) return false;
    if (names != nullptr) names->Renamed(tag, HolderOf(*found));
    return true;
}

int32_t Document::HolderOf(const Tag& tag) const {
    return tag.IsLeaf() ? tag.NotedHolder() : collections[tag.CollectionIndex()].Up();
}

int32_t Document::GetName(int32_t tag, char* buffer) const {
    const Tag* const found = TagAt(tag);
    if (found == nullptr) return MARLLIB_GETNAME_NO_TAG;
    return found->GetName(buffer);
}

int32_t Document::GetTags(int32_t collection, int32_t* out, int32_t max) const {
    if (const int32_t failure = CheckCollection(collection)) return failure;
    const Collection* const list = CollectionAt(collection);
    if (out != nullptr && max > 0) {
        const int32_t wanted = std::min(max, list->Count());
        int32_t tag = list->First();
        for (int32_t i = 0; i < wanted; ++i, tag = tags[tag].Next()) out[i] = tag;
    }
    return list->Count();
}

const NameIndex* Document::SearchIndex(int32_t collection) const noexcept {
    const Collection& list = *CollectionAt(collection);
    if (list.Count() < kIndexedFrom) return nullptr;
    try {
        if (names == nullptr) names = std::make_unique<NameIndexes>();
        return &names->UpToDate(collection, list, tags);
    } catch (const std::bad_alloc&) {
        return nullptr;  // what was made stays, consistent; the caller walks the collection
    }
}

int32_t Document::GetTagsByName(int32_t collection, const char* name, int32_t length,
                                int32_t* out, int32_t max) const {
    if (out == nullptr || max <= 0 || CheckCollection(collection) != 0) return 0;
    if (!Tag::ValidName(name, length)) return 0;  // no tag has such a name
    if (const NameIndex* index = SearchIndex(collection)) {
        return index->All(tags, name, length, out, max);
    }
    int32_t written = 0;
    for (int32_t tag = CollectionAt(collection)->First(); tag != Tag::kNoNext && written < max;
         tag = tags[tag].Next()) {
        if (tags[tag].NameEquals(name, length)) out[written++] = tag;
    }
    return written;
}

static_assert(Tag::kNoNext == MARLLIB_GETTAGBYNAME_NOT_FOUND,
              "a name index's answer for no match is GetTagByName's");

int32_t Document::GetTagByName(int32_t collection, const char* name, int32_t length) const {
    if (CheckCollection(collection) != 0) return MARLLIB_GETTAGBYNAME_NOT_FOUND;
    if (!Tag::ValidName(name, length)) return MARLLIB_GETTAGBYNAME_NOT_FOUND;
    if (const NameIndex* index = SearchIndex(collection)) return index->First(tags, name, length);
    for (int32_t tag = CollectionAt(collection)->First(); tag != Tag::kNoNext;
         tag = tags[tag].Next()) {
        if (tags[tag].NameEquals(name, length)) return tag;
    }
    return MARLLIB_GETTAGBYNAME_NOT_FOUND;
}

}  // namespace MarlClass
