#include "marlclass_handler.h"

namespace MarlClass {

int32_t Handler::Depth() const {
    int32_t depth = droppedDepth;
    for (int32_t at = Current(); at != Document::kRoot; ++depth) {
        at = document->CollectionAt(at)->Up();
    }
    return depth;
}

MARLLIB_FLATTEN void Handler::Leaf(const char* name, int32_t nameLength, const char* value,
                                   int32_t valueLength) {
    if (target == nullptr) return;  // dropped
    document->AddLeafTo(*target, name, nameLength, value, valueLength);
}

MARLLIB_FLATTEN void Handler::Tree(const char* name, int32_t nameLength) {
    if (target == nullptr) {
        ++droppedDepth;
        return;
    }
    Collection* own = nullptr;
    if (!Tag::ValidName(name, nameLength)) {
        // The document refuses it (and may move its collection table doing so): the place to
        // go on afterwards is kept as an index.
        resume = document->IndexOf(*target);
        document->AddContainerTo(*target, name, nameLength, own);
        target = nullptr;
        droppedDepth = 1;
        return;
    }
    document->AddContainerTo(*target, name, nameLength, own);
    target = own;
}

void Handler::End() {
    if (target == nullptr) {
        if (--droppedDepth == 0) target = &document->KnownCollection(resume);
        return;
    }
    // A closing tag with no open container is ignored.
    const int32_t up = target->Up();
    if (up == Collection::kNoUp) return;
    target = &document->KnownCollection(up);
}

}  // namespace MarlClass
