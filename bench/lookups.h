// Name lookups: every key of a collection of N distinct names looked up once, by marllib and by
// pugixml, each pass in a child process of its own (see measure.h).
#ifndef MARLLIB_BENCH_LOOKUPS_H
#define MARLLIB_BENCH_LOOKUPS_H

#include <cstdint>
#include <string>
#include <vector>

#include "measure.h"

namespace bench {

// N distinct names, key0 to key(N-1), each followed by a zero byte (pugixml takes names so),
// as the root collection of a Marl text and as the children of one XML element.
struct Keys {
    std::string bytes;
    std::vector<uint32_t> at;      // where each name starts in bytes
    std::vector<int32_t> lengths;  // and its length
    std::string marl;
    std::string xml;
};
Keys MakeKeys(uint64_t count);

// Each pass loads the text anew (not timed) and then looks up every key once, in the
// collection's order, each answer checked against the key's place. In the Outcome: loadNs,
// the median processor time of a pass; firstNs, that of its first lookup alone; runs, the
// passes (at least one, more while the budget lasts); and for marllib, peakBytes, the heap
// bytes that the first pass left allocated: the collection's name index.
Outcome MeasureMarllibLookups(const Keys& keys, const Settings& settings);
// The same with pugixml: xml_node::child(name) of the one element, which walks its children.
Outcome MeasurePugixmlLookups(const Keys& keys, const Settings& settings);

}  // namespace bench

#endif  // MARLLIB_BENCH_LOOKUPS_H
