// Loading Marl text into a new document, from memory or from a file.
#ifndef MARLLIB_MARLLIB_LOAD_H
#define MARLLIB_MARLLIB_LOAD_H

#include <cstdint>
#include <memory>

#include "marlclass_document.h"

namespace MarlLib {

// A new document holding what length bytes at text describe. Text shorter than 4 bytes, or
// null, gives an empty document; malformed tags are skipped.
std::unique_ptr<MarlClass::Document> LoadText(const char* text, int32_t length);

// A file's bytes, read whole.
struct FileBytes {
    std::unique_ptr<char[]> data;
    int32_t size = 0;
};

// Reads a whole file in binary mode into bytes. False when its bytes cannot be had: a null
// path, a file that cannot be opened or read (a directory, say), a size that cannot be found
// or one above 2^31 - 1 bytes. A short read keeps the bytes actually read.
bool ReadFile(const char* path, FileBytes& bytes);

}  // namespace MarlLib

#endif  // MARLLIB_MARLLIB_LOAD_H
