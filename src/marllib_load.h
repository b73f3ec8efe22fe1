// Loading Marl text into a new document. (A file is read whole first, by marllib_file.hpp.)
#ifndef MARLLIB_MARLLIB_LOAD_H
#define MARLLIB_MARLLIB_LOAD_H

#include <cstdint>
#include <memory>

#include "marlclass_document.h"

namespace MarlLib {

// A new document holding what length bytes at text describe. Text shorter than 4 bytes, or
// null, gives an empty document; malformed tags are skipped.
std::unique_ptr<MarlClass::Document> LoadText(const char* text, int32_t length);

}  // namespace MarlLib

#endif  // MARLLIB_MARLLIB_LOAD_H
