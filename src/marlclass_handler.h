// MarlClass::Handler: the document builder. It turns parse events into document operations:
// a container is added and descended into, a leaf is added with its value, and the end of a
// container goes back up one level.
#ifndef MARLLIB_MARLCLASS_HANDLER_H
#define MARLLIB_MARLCLASS_HANDLER_H

#include <cstdint>

#include "ds.h"
#include "marlclass_document.h"
#include "marllib_reader.hpp"

// Compiles everything a function calls into it, where the compiler can: the builder's events
// and the loader's reading loop take it, so that no call is left per tag read.
#if defined(__GNUC__)
#define MARLLIB_FLATTEN __attribute__((flatten))
#else
#define MARLLIB_FLATTEN
#endif

namespace MarlClass {

class Handler final : public MarlParser::Handler {
public:
    // Fills document, which stays the caller's.
    explicit Handler(Document* document)
        : document(document), target(document->MutableCollectionAt(Document::kRoot)) {}
    ~Handler() override;

    void Leaf(const char* name, int32_t nameLength, const char* value,
              int32_t valueLength) override;
    void Tree(const char* name, int32_t nameLength) override;
    void End() override;
    void Invalid() override {}

    // Makes room for depth open containers at once, so that the parent stack is not copied as
    // it grows, for a reader that knows how deep the text can nest (no deeper than it has
    // containers). Throws std::bad_alloc when the room cannot be had; nothing changes then.
    void ReserveDepth(int32_t depth) { ParentStack().reserve(depth); }

    // The collection that receives new tags, and the number of open containers.
    int32_t Current() const { return current; }
    int32_t Depth() const { return parentCount; }

private:
    DS::Collection<int32_t, int32_t> ParentStack();

    Document* document;
    int32_t parentCount = 0;       // the parent stack: the collection that holds each open
    int32_t* parentStack = nullptr;  // container, outermost first
    int32_t parentCapacity = 0;
    int32_t current = Document::kRoot;
    Collection* target;  // the collection at index current, held so that no tag looks it up
    // Containers opened inside one whose add failed, counting that one. Everything in such a
    // region is dropped; when it closes, building goes on in the collection that was current.
    int32_t droppedDepth = 0;
};

}  // namespace MarlClass

#endif  // MARLLIB_MARLCLASS_HANDLER_H
