// MarlClass::Document: a tree of tags held in two flat tables.
//
// All tags sit in one table of records in creation order and all collections in another; a
// container tag names its own collection by index, and collection index -1 names the root,
// which the document holds itself. A collection chains its tags through the tag records.
// Nothing is ever removed, so every index keeps its meaning for the document's whole life.
// A search by name goes through the searched collection's name index (NameIndexes), which the
// document makes on the collection's first search and which follows it from then on.
#ifndef MARLLIB_MARLCLASS_DOCUMENT_H
#define MARLLIB_MARLCLASS_DOCUMENT_H

#include <cassert>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "ds.h"
#include "ds_arena.h"
#include "ds_heap_blocks.h"
#include "marlclass_collection.h"
#include "marlclass_tag.h"
#include "marllib.h"

namespace MarlClass {

class NameIndex;
class NameIndexes;

class Document : public Marl::Document {
    // Longer names, loaded values and grown name fields live here until the document goes;
    // declared first so that it outlives everything that points into it.
    DS::Arena arena;
    // Values set after a tag was made, each freed when it is replaced (see Tag).
    DS::HeapBlocks heap;

public:
    static constexpr int32_t kRoot = MARLLIB_ROOT;
    // Searches by name of a collection with at least this many tags go through its name
    // index, made on the first (see NameIndex); smaller ones are walked, which is as quick as
    // hashing a name and takes no memory.
    static constexpr int32_t kIndexedFrom = 8;

    // Both out of line, where the name indexes are a complete type.
    Document();
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Result codes and check order are those documented for the marllib_* functions of the
    // same names in marllib.h, which names each code (MARLLIB_ADDTAG_BAD_NAME and so on).
    int32_t AddTag(int32_t collection, const char* name, int32_t length, bool isLeaf);
    // AddTag for a leaf and SetValue in one step, as a reader adds what it reads: the tag,
    // its name and its value bytes take one piece of the document's arena, which is quick to
    // fill and to release. Values set later by SetValue replace the bytes as usual.
    int32_t AddLeaf(int32_t collection, const char* name, int32_t length, const char* value,
                    int32_t valueLength);
    int32_t GetCollection(int32_t tag) const;
    bool SetValue(int32_t tag, const char* value, int32_t length);
    int32_t GetValue(int32_t tag, char* buffer, int32_t max) const;
    bool SetName(int32_t tag, const char* name, int32_t length);
    int32_t GetName(int32_t tag, char* buffer) const;
    int32_t GetTags(int32_t collection, int32_t* out, int32_t max) const;
    // The searches by name never throw: where no room can be had for the collection's index,
    // they walk the collection instead.
    int32_t GetTagsByName(int32_t collection, const char* name, int32_t length, int32_t* out,
                          int32_t max) const;
    int32_t GetTagByName(int32_t collection, const char* name, int32_t length) const;

    // For a builder that fills the document in text order and keeps the collection it fills
    // (MarlClass::Handler): AddLeaf and AddTag of a container into target, a collection of this
    // document, without looking it up; otherwise the same checks and results. own receives a
    // new container's collection. A container may move the collection table, and target
    // with it: a builder then goes on with own, or looks its collection up again.
    int32_t AddLeafTo(Collection& target, const char* name, int32_t length, const char* value,
                      int32_t valueLength);
    int32_t AddContainerTo(Collection& target, const char* name, int32_t length,
                           Collection*& own);
    // The collection at an index (the root for kRoot), to be filled; null out of range. Valid
    // until the next container is added.
    Collection* MutableCollectionAt(int32_t collection) {
        if (collection == kRoot) return &root;
        return HasCollection(collection) ? &collections[collection] : nullptr;
    }
    // MutableCollectionAt without the range check, for an index that this document gave out
    // (kRoot or one below CollectionCount()), as a collection's Up() is.
    Collection& KnownCollection(int32_t collection) {
        assert((collection == kRoot || HasCollection(collection)) && "a collection never given out");
        return collection == kRoot ? root : collections[collection];
    }
    // The index of a collection of this document (kRoot for the root).
    int32_t IndexOf(const Collection& collection) const {
        return &collection == &root ? kRoot : static_cast<int32_t>(&collection - collections);
    }
    // Makes room in the tables for moreTags tags and moreContainers containers beyond those
    // held, so that a reader that knows what comes does not copy the tables as they grow.
    // Throws std::bad_alloc when the room cannot be had; nothing that can be seen changes.
    void ReserveTables(int32_t moreTags, int32_t moreContainers);
    // Tells the document's memory that about bytes of names and values will come, as a
    // reader knows from the length of its text.
    void ExpectBytes(std::size_t bytes) { arena.Expect(bytes); }

    // Writes the tree under the root to stream as Marl text, one tag per line, indented by two
    // spaces per level. Names and values are written in full and escaped the way the reader
    // decodes them, so the text loads back into the same tree. An empty document writes
    // nothing; the stream is neither flushed nor closed, and write errors are not reported.
    // (The printer has a file of its own, marlclass_printer.cpp.)
    void Print(FILE* stream) const;
    // Writes one tag the same way, at no indentation: a leaf's line, or a container's opening
    // line, its contents one level deeper and its closing line. Nothing for a tag out of range.
    void PrintTag(FILE* stream, int32_t tag) const;

    // The tables, read-only: the number of tags and of collections (the root not counted), the
    // tag at an index and the collection at an index (the root for kRoot), or null for an
    // index out of range. A tag pointer is valid until the next tag is added, a collection
    // pointer until the next container is.
    int32_t TagCount() const { return tagCount; }
    int32_t CollectionCount() const { return collectionCount; }
    const Tag* TagAt(int32_t tag) const {
        return HasTag(tag) ? &tags[tag] : nullptr;
    }
    const Collection* CollectionAt(int32_t collection) const {
        if (collection == kRoot) return &root;
        return HasCollection(collection) ? &collections[collection] : nullptr;
    }

private:
    bool HasTag(int32_t tag) const { return tag >= 0 && tag < tagCount; }
    bool HasCollection(int32_t collection) const {
        return collection >= 0 && collection < collectionCount;
    }
    Tag* MutableTagAt(int32_t tag) { return HasTag(tag) ? &tags[tag] : nullptr; }
    // The views through which the tables grow.
    DS::Collection<Tag, int32_t> TagTable() { return {&tagCount, &tagCapacity, &tags}; }
    DS::Collection<Collection, int32_t> CollectionTable() {
        return {&collectionCount, &collectionCapacity, &collections};
    }

    // Counts the tag just made in the next slot of the tag table, appends it to target and
    // returns its index.
    int32_t Link(Collection& target) noexcept;
    // Makes room for one more collection; target, a collection of this document, is where it
    // is afterwards.
    Collection& ReserveCollectionKeeping(Collection& target);
    // Grows the collection table by one (slow path, out of line), as ReserveCollectionKeeping.
    Collection& GrowCollectionsKeeping(const Collection& target);
    // 0 when the collection exists, otherwise MARLLIB_ADDTAG_NO_COLLECTION or
    // MARLLIB_ADDTAG_BELOW_ROOT, which AddTag, AddLeaf and GetTags all return as they are.
    int32_t CheckCollection(int32_t collection) const;
    // The name index of collection, an existing one, up to date; null for a collection of
    // fewer than kIndexedFrom tags, or where no room can be had for the index.
    const NameIndex* SearchIndex(int32_t collection) const noexcept;
    // The collection that holds tag, or Tag::kNoHolder for a leaf that no index has noted.
    int32_t HolderOf(const Tag& tag) const;

    Collection root = Collection::Empty(Collection::kNoUp);  // collection index kRoot
    int32_t tagCount = 0;
    int32_t tagCapacity = 0;              // the tags that tags has room for
    Tag* tags = nullptr;                  // tagCount tags, in creation order
    int32_t collectionCount = 0;
    int32_t collectionCapacity = 0;       // the collections that collections has room for
    Collection* collections = nullptr;    // collectionCount collections, in creation order
    // The indexes of the collections searched by name; none until a search makes the first.
    // A search changes nothing that can be seen, so a const one may make or update them.
    mutable std::unique_ptr<NameIndexes> names;
};

}  // namespace MarlClass

#endif  // MARLLIB_MARLCLASS_DOCUMENT_H
