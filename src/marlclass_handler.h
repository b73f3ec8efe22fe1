// MarlClass::Handler: the document builder. It turns parse events into document operations:
// a container is added and descended into, a leaf is added with its value, and the end of a
// container goes back up one level.
#ifndef MARLLIB_MARLCLASS_HANDLER_H
#define MARLLIB_MARLCLASS_HANDLER_H

#include <cstdint>

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

    void Leaf(const char* name, int32_t nameLength, const char* value,
              int32_t valueLength) override;
    void Tree(const char* name, int32_t nameLength) override;
    void End() override;
    void Invalid() override {}

    // The collection that receives new tags, and the number of open containers.
    int32_t Current() const {
        return target != nullptr ? document->IndexOf(*target) : resume;
    }
    int32_t Depth() const;

private:
    Document* document;
    // The collection that receives new tags, held so that no tag looks it up; looked up again
    // whenever a container may have moved the collection table. Null inside a dropped region.
    Collection* target;
    // Containers opened inside one whose add failed, counting that one. Everything in such a
    // region is dropped; when it closes, building goes on in collection resume.
    int32_t droppedDepth = 0;
    int32_t resume = Document::kRoot;
};

}  // namespace MarlClass

#endif  // MARLLIB_MARLCLASS_HANDLER_H
