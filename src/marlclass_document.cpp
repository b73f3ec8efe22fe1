#include "marlclass_document.h"

#include <algorithm>
#include <memory>

#include "ds.h"

namespace MarlClass {

namespace {
DS::Collection<Marl::Tag*, int32_t> TagTable(Document& document) {
    return {&document.tagCount, &document.tags};
}
DS::Collection<Marl::Collection*, int32_t> CollectionTable(Document& document) {
    return {&document.collectionCount, &document.collections};
}
}  // namespace

Document::~Document() {
    for (int32_t i = 0; i < tagCount; ++i) delete static_cast<Tag*>(tags[i]);
    for (int32_t i = 0; i < collectionCount; ++i) delete static_cast<Collection*>(collections[i]);
    delete[] tags;
    delete[] collections;
}

Tag* Document::TagAt(int32_t tag) const {
    if (tag < 0 || tag >= tagCount) return nullptr;
    return static_cast<Tag*>(tags[tag]);
}

const Collection* Document::CollectionAt(int32_t collection) const {
    if (collection == kRoot) return &root;
    if (collection < 0 || collection >= collectionCount) return nullptr;
    return static_cast<const Collection*>(collections[collection]);
}

Collection* Document::MutableCollectionAt(int32_t collection) {
    return const_cast<Collection*>(CollectionAt(collection));
}

int32_t Document::CheckCollection(int32_t collection) const {
    if (collection >= collectionCount) return -1;
    if (collection < kRoot) return -2;
    return 0;
}

int32_t Document::AddTag(int32_t collection, const char* name, int32_t length, bool isLeaf) {
    if (const int32_t failure = CheckCollection(collection)) return failure;

    auto tables = CollectionTable(*this);
    std::unique_ptr<Collection> own;
    if (!isLeaf) own = std::make_unique<Collection>();

    std::unique_ptr<Tag> tag(Tag::Create(name, length, isLeaf, collectionCount));
    if (!tag) {
        // A container refused for its name still leaves its new collection behind, unreferenced.
        if (own) tables.append(own.release());
        return -3;
    }

    // Make room in every table first: after these, nothing below can fail, so an allocation
    // failure leaves the document exactly as it was.
    Collection* const target = MutableCollectionAt(collection);
    auto tagTable = TagTable(*this);
    if (own) tables.reserve();
    target->Reserve();
    tagTable.reserve();

    if (own) tables.appendReserved(own.release());
    target->AppendReserved(tagCount);
    tagTable.appendReserved(tag.release());
    return tagCount - 1;
}

int32_t Document::GetCollection(int32_t tag) const {
    const Tag* const found = TagAt(tag);
    if (found == nullptr) return -2;
    if (found->isLeaf) return -3;
    return found->collection;
}

bool Document::SetValue(int32_t tag, const char* value, int32_t length) {
    Tag* const found = TagAt(tag);
    return found != nullptr && found->SetValue(value, length);
}

int32_t Document::GetValue(int32_t tag, char* buffer, int32_t max) const {
    const Tag* const found = TagAt(tag);
    if (found == nullptr) return -1;
    if (!found->isLeaf) return -2;
    return found->GetValue(buffer, max);
}

bool Document::SetName(int32_t tag, const char* name, int32_t length) {
    Tag* const found = TagAt(tag);
    return found != nullptr && found->SetName(name, length);
}

int32_t Document::GetName(int32_t tag, char* buffer) const {
    const Tag* const found = TagAt(tag);
    if (found == nullptr) return -1;
    return found->GetName(buffer);
}

int32_t Document::GetTags(int32_t collection, int32_t* out, int32_t max) const {
    if (const int32_t failure = CheckCollection(collection)) return failure;
    const Collection* const list = CollectionAt(collection);
    if (out != nullptr && max > 0) {
        std::copy(list->items, list->items + std::min(max, list->count), out);
    }
    return list->count;
}

int32_t Document::GetTagsByName(int32_t collection, const char* name, int32_t length,
                                int32_t* out, int32_t max) const {
    if (out == nullptr || max <= 0 || CheckCollection(collection) != 0) return 0;
    const Collection* const list = CollectionAt(collection);
    int32_t written = 0;
    for (int32_t i = 0; i < list->count && written < max; ++i) {
        if (TagAt(list->items[i])->NameEquals(name, length)) out[written++] = list->items[i];
    }
    return written;
}

int32_t Document::GetTagByName(int32_t collection, const char* name, int32_t length) const {
    if (CheckCollection(collection) != 0) return -1;
    const Collection* const list = CollectionAt(collection);
    for (int32_t i = 0; i < list->count; ++i) {
        if (TagAt(list->items[i])->NameEquals(name, length)) return list->items[i];
    }
    return -1;
}

}  // namespace MarlClass
