#include "marlclass_collection.h"

namespace MarlClass {

Collection::~Collection() {
    if (arena == nullptr) delete[] items;
}

int32_t Collection::AppendTag(int32_t tag) {
    View().append(tag);
    return count - 1;
}

}  // namespace MarlClass
