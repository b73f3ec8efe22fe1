// Compiled, not run: CASE 0 uses tags and collections rightly; every other CASE mixes them up
// and must be refused by the compiler.
#include "marllib.hpp"

void use(marl::Document& doc, marl::tag t, marl::collection c) {
#if CASE == 0
    doc.value(t);
    doc.children(c);
    doc.add_leaf(c, "n");
    const marl::collection own = doc.collection_of(t);
    static_cast<void>(own);
#elif CASE == 1
    doc.value(c);  // a collection where a tag is wanted
#elif CASE == 2
    doc.collection_of(c);  // a collection where a tag is wanted
#elif CASE == 3
    doc.add_leaf(0, "n");  // a bare index where a collection is wanted
#elif CASE == 4
    const marl::collection own = doc.add_container(c, "n");  // a tag taken as a collection
    static_cast<void>(own);
#endif
}
