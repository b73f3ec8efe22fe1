// MarlClass::Document: a tree of tags held in two flat tables.
//
// All tags sit in one table in creation order and all collections in another; a container
// tag names its own collection by index, and collection index -1 names the root, which the
// document holds itself. Nothing is ever removed, so every index keeps its meaning for the
// document's whole life.
#ifndef MARLLIB_MARLCLASS_DOCUMENT_H
#define MARLLIB_MARLCLASS_DOCUMENT_H

#include <cstdint>
#include <cstdio>

#include "marlclass_collection.h"
#include "marlclass_tag.h"
#include "marllib.h"

namespace MarlClass {

class TextOutput;  // the printer's buffer in front of a stream

// One level of the printer's walk: a collection and the position of its next entry.
struct StackNode {
    const Collection* collection;
    int32_t position;
};

class Document : public Marl::Document {
    // Tags, collections, collections' index arrays and loaded values live here until the
    // document goes; declared first so that it outlives everything that points into it.
    DS::Arena arena;

public:
    static constexpr int32_t kRoot = MARLLIB_ROOT;

    Document() = default;
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Result codes and check order are those documented for the marllib_* functions of the
    // same names in marllib.h.
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
    int32_t GetTagsByName(int32_t collection, const char* name, int32_t length, int32_t* out,
                          int32_t max) const;
    int32_t GetTagByName(int32_t collection, const char* name, int32_t length) const;

    // Writes the tree under the root to stream as Marl text, one tag per line, indented by two
    // spaces per level. Names and values are written in full and escaped the way the reader
    // decodes them, so the text loads back into the same tree. An empty document writes
    // nothing; the stream is neither flushed nor closed, and write errors are not reported.
    void Print(FILE* stream) const;
    // Writes one tag the same way, at no indentation: a leaf's line, or a container's opening
    // line, its contents one level deeper and its closing line. Nothing for a tag out of range.
    void PrintTag(FILE* stream, int32_t tag) const;

    // The tag at index, or null when it is out of range.
    Tag* TagAt(int32_t tag) const;
    // The collection at index (the root for -1), or null when it is out of range.
    const Collection* CollectionAt(int32_t collection) const;

    Collection root{arena};                  // collection index -1
    int32_t tagCount = 0;
    Marl::Tag** tags = nullptr;               // tagCount tags, in creation order
    int32_t collectionCount = 0;
    Marl::Collection** collections = nullptr; // collectionCount collections, in creation order

private:
    int32_t tagCapacity = 0;         // the tags that tags has room for
    int32_t collectionCapacity = 0;  // the collections that collections has room for
    bool heapBytes = false;  // some tag may own name or value bytes on the heap

    // Writes the entries of collection, and everything under them, depth levels deep.
    void PrintCollection(TextOutput& out, const Collection& collection, int depth) const;
    Collection* MutableCollectionAt(int32_t collection);
    DS::Collection<Marl::Tag*, int32_t> TagTable();
    DS::Collection<Marl::Collection*, int32_t> CollectionTable();
    // Appends a new tag to target and to the tag table, both of which have room for it, and
    // returns its index.
    int32_t Link(Collection* target, Tag* tag) noexcept;
    // A new, empty collection in the arena, not yet in the collection table.
    Collection* NewCollection();
    // -1 when the collection does not exist yet, -2 below -1, 0 when it is valid.
    int32_t CheckCollection(int32_t collection) const;
};

}  // namespace MarlClass

#endif  // MARLLIB_MARLCLASS_DOCUMENT_H
