// Loading Marl text into a new document, from memory or from a file.
#ifndef MARLLIB_MARLLIB_LOAD_H
#define MARLLIB_MARLLIB_LOAD_H

#include <cstdint>
#include <cstdio>
#include <memory>

#include "marlclass_document.h"

namespace MarlLib {

// A new document holding what length bytes at text describe. Text shorter than 4 bytes, or
// null, gives an empty document; malformed tags are skipped.
std::unique_ptr<MarlClass::Document> LoadText(const char* text, int32_t length);

// A file's bytes, read whole. The array has room for at least one byte beyond size.
struct FileBytes {
    std::unique_ptr<char[]> data;
    int32_t size = 0;
};

// Reads stream in binary mode from its position to its end, whatever size it claims: a
// regular file, a pipe, a device or a file of /proc. The size the stream reports only sizes
// the first buffer; without one the buffer grows geometrically. False, with bytes unchanged,
// for a null stream, a read error (reading a directory, say), or more than 2^31 - 1 bytes
// (errno is then EFBIG). The stream is left open, at its end.
bool ReadStream(FILE* stream, FileBytes& bytes);

// ReadStream on the file at path, opened in binary mode and closed again. False also for a
// null path and a file that cannot be opened.
bool ReadFile(const char* path, FileBytes& bytes);

}  // namespace MarlLib

#endif  // MARLLIB_MARLLIB_LOAD_H
