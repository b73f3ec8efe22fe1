// The benchmark's inputs: one generated tree written three ways (Marl text, XML and JSON),
// together with what a reader must find in it.
//
// The three forms carry the same tags in the same order and lay them out alike: one tag per
// line, two spaces of indentation per level up to 64 levels (none for the deep shape; its
// twin deep-indented has them), every line ended by "\n".
//   Marl: <name> ... </>   <name/>              <name="value">
//   XML:  <name> ... </name>   <name/>          <name>value</name>   inside one <doc> element
//   JSON: "name": { ... }   "name": null        "name": "value"      inside one object
// The XML <doc> element and the outer JSON object stand for the document's root collection and
// are not tags. Names never hold '=', '/', '>' or byte 0x80, and values hold no byte that any of
// the three forms would have to escape, so each form is the other two's exact equivalent and the
// Marl form is exactly what the library's printer writes for the loaded document.
#ifndef MARLLIB_BENCH_FORMS_H
#define MARLLIB_BENCH_FORMS_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace bench {

// An order-sensitive fingerprint of a tree: FNV-1a over each tag, in document order, of its
// depth (0 for the root collection's tags), its name and its value bytes. Containers and
// leaves without a value both count as an empty value.
class Digest {
public:
    void Add(uint32_t depth, const char* name, size_t nameLength, const char* value,
             size_t valueLength);
    uint64_t Value() const { return hash_; }
    uint64_t Tags() const { return tags_; }

private:
    void Mix(const void* bytes, size_t length);

    uint64_t hash_ = 14695981039346656037ull;
    uint64_t tags_ = 0;
};

// What a reader of any form must find.
struct Expected {
    uint64_t tags = 0;        // containers and leaves
    uint64_t containers = 0;
    uint64_t valueBytes = 0;  // summed over all leaves
    int32_t rootCount = 0;    // tags in the root collection
    uint64_t digest = 0;      // Digest::Value() of the whole tree
};

struct Forms {
    std::string marl;
    std::string xml;
    std::string json;
    Expected expected;
};

// Config files: containers of 10 to 50 entries nested so that leaves sit 3 or 4 levels deep,
// short names and short values; generated until the tree holds at least `tags` tags.
Forms MakeConfig(uint64_t tags, uint64_t seed);
// `leaves` leaves without value, all in the root collection.
Forms MakeFlat(uint64_t leaves, uint64_t seed);
// `leaves` leaves in the root collection, each with a value of `valueBytes` bytes.
Forms MakeBigValues(uint64_t leaves, size_t valueBytes, uint64_t seed);
// `depth` containers, each the only entry of the one before; the innermost is empty. Not
// indented unless `indented`; indented, its Marl form is what marllib's printer writes.
Forms MakeDeep(uint64_t depth, bool indented = false);
// `depth` containers nested as in MakeDeep, the innermost holding `siblings` empty containers:
// every sibling is opened and closed at depth `depth`. Indented, as every indented shape is,
// by two spaces per level up to 64 levels, the most that marllib's printer writes.
Forms MakeSiblingsAtDepth(uint64_t depth, uint64_t siblings);

}  // namespace bench

#endif  // MARLLIB_BENCH_FORMS_H
