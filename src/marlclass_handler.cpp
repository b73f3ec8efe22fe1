#include "marlclass_handler.h"

#include "ds.h"

namespace MarlClass {

Handler::~Handler() { delete[] parentStack; }

DS::Collection<int32_t, int32_t> Handler::ParentStack() {
    return {&parentCount, &parentCapacity, &parentStack};
}

MARLLIB_FLATTEN void Handler::Leaf(const char* name, int32_t nameLength, const char* value,
                                   int32_t valueLength) {
    if (droppedDepth > 0) return;
    document->AddLeafTo(*target, name, nameLength, value, valueLength);
}

MARLLIB_FLATTEN void Handler::Tree(const char* name, int32_t nameLength) {
    if (droppedDepth > 0) {
        ++droppedDepth;
        return;
    }
    // Room on the stack first, so that a failed allocation leaves the builder in step.
    auto stack = ParentStack();
    stack.reserve();
    Collection* own = nullptr;
    if (document->AddContainerTo(*target, name, nameLength, own) < 0) {
        droppedDepth = 1;
        return;
    }
    // Every collection on the stack is distinct (each container has its own), so the
    // duplicate scan of push is not needed.
    stack.appendReserved(current);
    current = document->CollectionCount() - 1;  // own is the newest collection
    target = own;
}

void Handler::End() {
    if (droppedDepth > 0) {
        --droppedDepth;
        return;
    }
    // A closing tag with no open container is ignored.
    if (parentCount == 0) return;
    // A plain pop: the slot left behind needs no clearing.
    current = parentStack[--parentCount];
    target = &document->KnownCollection(current);
}

}  // namespace MarlClass
