#include "marlclass_name_indexes.h"

#include <cstdint>
#include <new>
#include <utility>

namespace MarlClass {

namespace {

// The table starts with this many entries and grows before it is half full.
constexpr uint32_t kFirstEntries = 8;

// A place for a collection index in a table of count entries (a power of two): the index
// times 2^32 over the golden ratio spreads consecutive indices evenly.
uint32_t Home(int32_t collection, uint32_t count) {
    return (static_cast<uint32_t>(collection) * 0x9e3779b9u) & (count - 1);
}

}  // namespace

NameIndexes::Entry& NameIndexes::Place(int32_t collection) const {
    uint32_t at = Home(collection, entryCount);
    while (entries[at].index != nullptr && entries[at].collection != collection) {
        at = (at + 1) & (entryCount - 1);
    }
    return entries[at];
}

void NameIndexes::Grow() {
    const uint32_t count = entryCount == 0 ? kFirstEntries : 2 * entryCount;
    if (count == 0) throw std::bad_alloc();  // past 2^31 indexes: never on a real machine
    std::unique_ptr<Entry[]> old(new Entry[count]);
    std::swap(entries, old);
    const uint32_t oldCount = entryCount;
    entryCount = count;
    for (uint32_t i = 0; i < oldCount; ++i) {
        if (old[i].index != nullptr) Place(old[i].collection) = std::move(old[i]);
    }
}

const NameIndex& NameIndexes::Refresh(int32_t collection, const Collection& list, Tag* tags) {
    Entry* entry = entryCount == 0 ? nullptr : &Place(collection);
    if (entry == nullptr || entry->index == nullptr) {
        // A new index: made, and room for it in the table, before anything changes.
        auto index = std::make_unique<NameIndex>(hash);
        if (2 * (used + 1) > entryCount) Grow();
        entry = &Place(collection);
        entry->collection = collection;
        entry->index = std::move(index);
        ++used;
    }
    recent = nullptr;  // until it is up to date
    entry->index->CatchUp(tags, list, collection);
    recent = entry->index.get();
    recentCollection = collection;
    return *recent;
}

void NameIndexes::Renamed(int32_t tag, int32_t holder) noexcept {
    if (holder == Tag::kNoHolder || entryCount == 0) return;
    Entry& entry = Place(holder);
    if (entry.index != nullptr && entry.index->Holds(tag)) entry.index->Forget();
}

}  // namespace MarlClass
