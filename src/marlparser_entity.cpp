// The entity handler's decoding path, compiled once for the library (see marllib_reader.hpp).
#include "marllib_reader.hpp"

namespace MarlParser {

template void LeafDecoded<Handler>(Handler&, const char*, int32_t, const char*, int32_t, bool,
                                   bool);
template void TreeDecoded<Handler>(Handler&, const char*, int32_t);

}  // namespace MarlParser
