#include "marlparser.h"

namespace MarlParser {

template class BasicParser<Handler>;

}  // namespace MarlParser
