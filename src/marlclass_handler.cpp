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
    // The document refuses a bad name, and may move its collection table doing so: the place
    // to go on after the dropped region is then taken as an index first.
    const bool refused = !Tag::ValidName(name, nameLength);
    if (refused) resume = document->IndexOf(*target);
    Collection* own = nullptr;
    document->AddContainerTo(*target, name, nameLength, own);
    if (refused) {
        target = nullptr;
        droppedDepth = 1;
        return;
    }
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
