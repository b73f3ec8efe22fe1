#include "marlclass_name_index.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>

namespace MarlClass {

namespace {

// The fewest nodes a ring table starts with.
constexpr uint32_t kFirstNodes = 16;

// An array of count elements, not initialised; std::bad_alloc where its size would not fit
// in a size_t (a 32-bit system asked for billions of slots).
template <typename T>
std::unique_ptr<T[]> NewArray(uint64_t count) {
    if (count > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    return std::unique_ptr<T[]>(new T[static_cast<size_t>(count)]);
}

}  // namespace

void NameIndex::CatchUp(Tag* tags, const Collection& list, int32_t holder) {
    if (UpToDate(list)) return;
    ReserveSlots(list.Count());
    if (held == 0) {
        std::fill(slots.get(), slots.get() + slotCount, kEmpty);
        nodeCount = 0;
    }
    for (int32_t tag = held == 0 ? list.First() : tags[last].Next(); tag != Tag::kNoNext;
         tag = tags[tag].Next()) {
        Insert(tags, tag);
        tags[tag].NoteHolder(holder);
        last = tag;
        ++held;
    }
}

void NameIndex::ReserveSlots(int32_t count) {
    // Twice the tags, so that at least half the slots stay empty. A table that grows takes
    // at least twice the slots it had, so that tags added one at a time between searches
    // cost O(1) each, and indexes the collection anew.
    const uint64_t wanted = 2 * static_cast<uint64_t>(count);
    if (slotCount >= wanted) return;
    const uint64_t room = std::min<uint64_t>(std::max(wanted, 2 * uint64_t{slotCount}),
                                             kEmpty - 1);
    slots = NewArray<uint32_t>(room);
    slotCount = static_cast<uint32_t>(room);
    Forget();
}

uint32_t NameIndex::Probe(const Tag* tags, const char* name, int32_t length) const {
    // The hash's high half, scaled to the table: a slot for any table size.
    uint32_t at = static_cast<uint32_t>((hash(name, length) >> 32) * slotCount >> 32);
    for (;;) {
        const uint32_t slot = slots[at];
        if (slot == kEmpty || tags[NamedBy(slot)].NameEquals(name, length)) return at;
        if (++at == slotCount) at = 0;
    }
}

void NameIndex::Insert(const Tag* tags, int32_t tag) {
    const Tag& named = tags[tag];
    const uint32_t at = Probe(tags, named.Name(), named.NameLength());
    const uint32_t slot = slots[at];
    if (slot == kEmpty) {
        slots[at] = static_cast<uint32_t>(tag);
        return;
    }
    // The name has tags already: the new one goes last in its ring, made here for the second.
    const bool ring = (slot & kRing) != 0;
    ReserveNodes(ring ? 1 : 2);
    uint32_t tail = slot & ~kRing;
    if (!ring) {
        tail = nodeCount++;
        nodes[tail] = {static_cast<int32_t>(slot), tail};
    }
    const uint32_t added = nodeCount++;
    nodes[added] = {tag, nodes[tail].next};
    nodes[tail].next = added;
    slots[at] = kRing | added;
}

void NameIndex::ReserveNodes(uint32_t more) {
    if (nodeCapacity - nodeCount >= more) return;
    // Doubled, but never past what a slot can name: a tag takes one node at most, and a
    // document holds fewer than 2^31 tags.
    const uint64_t room =
        std::min<uint64_t>(std::max<uint64_t>(2 * uint64_t{nodeCapacity}, kFirstNodes), kRing);
    std::unique_ptr<Node[]> grown = NewArray<Node>(room);
    std::copy(nodes.get(), nodes.get() + nodeCount, grown.get());
    nodes = std::move(grown);
    nodeCapacity = static_cast<uint32_t>(room);
}

int32_t NameIndex::First(const Tag* tags, const char* name, int32_t length) const {
    const uint32_t slot = slots[Probe(tags, name, length)];
    if (slot == kEmpty) return Tag::kNoNext;
    if ((slot & kRing) == 0) return static_cast<int32_t>(slot);
    return nodes[nodes[slot & ~kRing].next].tag;  // the last node leads to the first
}

int32_t NameIndex::All(const Tag* tags, const char* name, int32_t length, int32_t* out,
                       int32_t max) const {
    const uint32_t slot = slots[Probe(tags, name, length)];
    if (slot == kEmpty) return 0;
    if ((slot & kRing) == 0) {
        out[0] = static_cast<int32_t>(slot);
        return 1;
    }
    const uint32_t tail = slot & ~kRing;
    int32_t written = 0;
    uint32_t node = tail;
    do {
        node = nodes[node].next;
        out[written++] = nodes[node].tag;
    } while (node != tail && written < max);
    return written;
}

}  // namespace MarlClass
