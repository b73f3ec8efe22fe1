#include "marlclass_collection.h"

#include "ds.h"

namespace MarlClass {

namespace {
DS::Collection<int32_t, int32_t> ViewOf(Collection& collection) {
    return {&collection.count, &collection.items};
}
}  // namespace

Collection::~Collection() { delete[] items; }

int32_t Collection::AppendTag(int32_t tag) {
    ViewOf(*this).append(tag);
    return count - 1;
}

void Collection::Reserve() { ViewOf(*this).reserve(); }

void Collection::AppendReserved(int32_t tag) noexcept { ViewOf(*this).appendReserved(tag); }

}  // namespace MarlClass
