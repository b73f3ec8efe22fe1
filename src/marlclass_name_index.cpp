#include "marlclass_name_index.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "ds_arena.h"

namespace MarlClass {

namespace {

// The fewest nodes a ring table starts with.
constexpr uint32_t kFirstNodes = 16;
constexpr std::size_t kCacheLine = 64;

// Asks for the cache line at address to be read in, without waiting for it.
void Prefetch(const void* address) {
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

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
        for (uint32_t i = 0; i < bucketCount; ++i) {
            std::memset(buckets[i].marks, 0, kSlotsPerBucket);
        }
        nodeCount = 0;
    }
    // A few tags at a time: their names are hashed and their buckets fetched from memory
    // together, before any is filled, as in a table larger than the caches each is a miss.
    constexpr int32_t kBatch = 8;
    int32_t batch[kBatch];
    uint64_t hashes[kBatch];
    for (int32_t tag = held == 0 ? list.First() : tags[last].Next(); tag != Tag::kNoNext;) {
        int32_t count = 0;
        for (; count < kBatch && tag != Tag::kNoNext; ++count, tag = tags[tag].Next()) {
            batch[count] = tag;
            hashes[count] = hash(tags[tag].Name(), tags[tag].NameLength());
            Prefetch(FirstBucket(hashes[count]));
        }
        for (int32_t i = 0; i < count; ++i) {
            Insert(tags, batch[i], hashes[i]);
            tags[batch[i]].NoteHolder(holder);
            last = batch[i];
            ++held;
        }
    }
}

void NameIndex::ReserveSlots(int32_t count) {
    // At most 7 slots in 8 taken, so that a search finds a free slot soon. A new table has 3
    // slots for every 2 tags and at least twice those it replaces, so that tags added one at
    // a time between searches cost O(1) each; the collection is then indexed anew.
    const uint64_t slots = uint64_t{bucketCount} * kSlotsPerBucket;
    if (8 * static_cast<uint64_t>(count) <= 7 * slots) return;
    const uint64_t wanted = std::max(3 * static_cast<uint64_t>(count) / 2, 2 * slots);
    const uint64_t room = std::min<uint64_t>((wanted + kSlotsPerBucket - 1) / kSlotsPerBucket,
                                             UINT32_MAX);
    // A line more than the buckets, for them to start on a line of their own.
    std::unique_ptr<char[]> bytes = NewArray<char>((room + 1) * sizeof(Bucket));
    const auto start = reinterpret_cast<std::uintptr_t>(bytes.get());
    char* const aligned = bytes.get() + ((kCacheLine - start % kCacheLine) % kCacheLine);
    DS::PreferHugePages(aligned, static_cast<size_t>(room) * sizeof(Bucket));
    table = std::move(bytes);
    buckets = reinterpret_cast<Bucket*>(aligned);
    for (uint64_t i = 0; i < room; ++i) new (&buckets[i]) Bucket;  // trivial: no code
    bucketCount = static_cast<uint32_t>(room);
    Forget();
}

NameIndex::Place NameIndex::Find(const Tag* tags, const char* name, int32_t length,
                                 uint64_t hashed) const {
    const auto low = static_cast<uint8_t>(hashed);
    const uint8_t mark = low != 0 ? low : 1;
    for (Bucket* bucket = FirstBucket(hashed);;) {
        for (uint32_t slot = 0; slot < kSlotsPerBucket; ++slot) {
            const uint8_t seen = bucket->marks[slot];
            if (seen == 0 || (seen == mark &&
                              tags[NamedBy(bucket->slots[slot])].NameEquals(name, length))) {
                return {bucket, slot, mark};
            }
        }
        if (++bucket == buckets + bucketCount) bucket = buckets;
    }
}

void NameIndex::Insert(const Tag* tags, int32_t tag, uint64_t hashed) {
    const Tag& named = tags[tag];
    const Place place = Find(tags, named.Name(), named.NameLength(), hashed);
    uint32_t& slot = place.bucket->slots[place.slot];
    if (place.Free()) {
        slot = static_cast<uint32_t>(tag);
        place.bucket->marks[place.slot] = place.mark;
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
    slot = kRing | added;
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
    const Place place = Find(tags, name, length, hash(name, length));
    if (place.Free()) return Tag::kNoNext;
    const uint32_t slot = place.Held();
    if ((slot & kRing) == 0) return static_cast<int32_t>(slot);
    return nodes[nodes[slot & ~kRing].next].tag;  // the last node leads to the first
}

int32_t NameIndex::All(const Tag* tags, const char* name, int32_t length, int32_t* out,
                       int32_t max) const {
    const Place place = Find(tags, name, length, hash(name, length));
    if (place.Free()) return 0;
    const uint32_t slot = place.Held();
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
