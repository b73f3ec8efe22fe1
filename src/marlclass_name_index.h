// MarlClass::NameIndex: the tags of one collection by name, so that a search by name costs
// O(1 + matches) on average, however many tags the collection holds.
//
// A table of slots holds one slot per distinct name, placed by the name's keyed hash
// (DS::KeyedHash) and found again by probing the slots that follow. The slots come in
// buckets of a cache line each: 12 slots of 4 bytes and, for each, a byte of its name's hash,
// so that a search reads one line and compares a name only where that byte matches (one time
// in 255 for another name). A slot holds the name's only tag or, where tags share a name,
// the last node of a ring that lists them in collection order: the ring's last node leads to
// its first, so the first match and the place for the next one are each one step away.
//
// A table is made with half again as many slots as the collection has tags, 8 bytes a tag,
// and grows, doubled, once 7 in 8 are taken; a tag that shares its name takes a ring node of 8
// bytes more.
//
// The index follows its collection lazily. A collection only ever grows at its end, so the
// index need only remember how many of its tags it holds and the last of them: CatchUp, the
// next time the collection is searched, indexes the tags appended since. Adding a tag, which
// the loader does millions of times, costs nothing here. A renamed tag is not moved: the
// index is told to Forget and indexes its collection anew on the next search.
#ifndef MARLLIB_MARLCLASS_NAME_INDEX_H
#define MARLLIB_MARLCLASS_NAME_INDEX_H

#include <cstdint>
#include <memory>

#include "ds_keyed_hash.h"
#include "marlclass_collection.h"
#include "marlclass_tag.h"

namespace MarlClass {

class NameIndex {
public:
    explicit NameIndex(const DS::KeyedHash& hash) : hash(hash) {}

    // Indexes the tags appended to list since the last call: all of them the first time and
    // after Forget. tags is the document's tag table; every leaf indexed notes holder, list's
    // own index, as the collection that holds it (Tag::NoteHolder). Throws std::bad_alloc
    // when no room can be had; the tags indexed by then stay indexed, consistent, and the
    // next call goes on from there.
    void CatchUp(Tag* tags, const Collection& list, int32_t holder);
    // True when the index holds every tag of list, its collection.
    bool UpToDate(const Collection& list) const { return held == list.Count(); }

    // The first tag of the collection whose name is the length bytes at name, or
    // Tag::kNoNext. The index must be up to date and the name valid (Tag::ValidName).
    int32_t First(const Tag* tags, const char* name, int32_t length) const;
    // Writes the first max (at least 1) such tags to out, in collection order, and returns
    // how many it wrote.
    int32_t All(const Tag* tags, const char* name, int32_t length, int32_t* out,
                int32_t max) const;

    // True when tag, a tag of this index's collection, is indexed: the collection's tags come
    // in rising order.
    bool Holds(int32_t tag) const { return held > 0 && tag <= last; }
    // Lets go of every tag, keeping the memory: the next CatchUp indexes them all again.
    void Forget() noexcept {
        held = 0;
        last = Tag::kNoNext;
    }

private:
    // A tag in a ring of tags that share a name; next is the node of the next one.
    struct Node {
        int32_t tag;
        uint32_t next;
    };
    static constexpr uint32_t kSlotsPerBucket = 12;
    // A cache line of slots. A slot holds a tag's index, or kRing and a node's; its mark, a
    // byte of its name's hash that is never 0, or 0 for a free slot.
    struct Bucket {
        uint32_t slots[kSlotsPerBucket];
        uint8_t marks[kSlotsPerBucket];
        uint32_t unused;
    };
    static_assert(sizeof(Bucket) == 64, "a bucket is a cache line");
    static constexpr uint32_t kRing = 0x80000000u;

    // Where a name is: a bucket and a slot in it.
    struct Place {
        Bucket* bucket;
        uint32_t slot;
        uint8_t mark;  // the name's
        bool Free() const { return bucket->marks[slot] == 0; }
        uint32_t Held() const { return bucket->slots[slot]; }
    };
    // The slot that holds the name, whose hash is hashed, or the free one where it would go.
    Place Find(const Tag* tags, const char* name, int32_t length, uint64_t hashed) const;
    // The bucket where the search for a name of that hash starts: the hash's high half,
    // scaled to the table (for any count of buckets).
    Bucket* FirstBucket(uint64_t hashed) const {
        return buckets + ((hashed >> 32) * bucketCount >> 32);
    }
    // A tag that has the name of a slot's tags.
    int32_t NamedBy(uint32_t held) const {
        return (held & kRing) != 0 ? nodes[held & ~kRing].tag : static_cast<int32_t>(held);
    }
    // Adds tag, the collection's next tag, whose name's hash is hashed, to its name's slot.
    // Throws std::bad_alloc, with nothing changed, when a ring needs room that cannot be had.
    void Insert(const Tag* tags, int32_t tag, uint64_t hashed);
    // Room for more nodes (slow path, out of line).
    void ReserveNodes(uint32_t more);
    // Room for count tags: a larger table, empty, when the one held is too full.
    void ReserveSlots(int32_t count);

    DS::KeyedHash hash;
    std::unique_ptr<char[]> table;  // the buckets, from the first cache line boundary on
    Bucket* buckets = nullptr;
    uint32_t bucketCount = 0;
    std::unique_ptr<Node[]> nodes;
    uint32_t nodeCount = 0;
    uint32_t nodeCapacity = 0;
    int32_t held = 0;              // the collection's first `held` tags are indexed
    int32_t last = Tag::kNoNext;   // the last of them
};

}  // namespace MarlClass

#endif  // MARLLIB_MARLCLASS_NAME_INDEX_H
