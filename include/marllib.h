/*
 * marllib: tag documents held in memory, built and queried by handle, read from Marl text.
 *
 * Usable from C99 and C++. Every integer that crosses this interface is a 32-bit signed
 * integer, so the exported ABI is the same on every platform. Names and values are
 * counted byte strings (a pointer and a length); none of them is ever terminated and any
 * byte value is allowed. The library never keeps a pointer to a caller's buffer after a
 * call returns.
 *
 * Handles: documents live in one process-wide registry. A document handle is the position
 * of a document in that registry, given out as 0, 1, 2, ... in creation order; it is valid
 * while 0 <= handle < number of documents. marllib_Close destroys every document at once,
 * after which handles start again at 0.
 *
 * Results: counts and indices are >= 0; failures are small negative codes. An invalid
 * handle gives -4 (false from the two setters); the document operations use -1, -2, -3 as
 * documented per function. Allocation failure is not caught: it leaves the call as the C++
 * runtime's std::bad_alloc and changes nothing.
 *
 * Threads: none. Make every call from one thread, or serialise all calls yourself.
 */
#ifndef MARLLIB_H
#define MARLLIB_H

#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

/* MARLLIB_VERSION_MAJOR, _MINOR, _PATCH and MARLLIB_VERSION_STRING ("1.0.0"). */
#include "marllib_version.h"

#if defined(_WIN32) || defined(__CYGWIN__)
#  if defined(MARLLIB_BUILDING)
#    define MARLLIB_API __declspec(dllexport)
#  elif defined(MARLLIB_STATIC)
#    define MARLLIB_API
#  else
#    define MARLLIB_API __declspec(dllimport)
#  endif
#  define MARLLIB_CALL __cdecl
#else
#  define MARLLIB_API __attribute__((visibility("default")))
#  define MARLLIB_CALL
#endif

/* The collection index that names a document's top level (its root collection). */
#define MARLLIB_ROOT (-1)
/* Every tag name is 1 to MARLLIB_NAME_MAX bytes; marllib_GetName needs a buffer this large. */
#define MARLLIB_NAME_MAX 64
/* The result of every forwarding function for a handle that names no document. */
#define MARLLIB_INVALID_HANDLE (-4)

#ifdef __cplusplus
/* The public faces of the library's own classes. Hosts never get pointers to them.
 * Marl (capital M) is the library's inside; the C++ layer for hosts is namespace marl
 * (lower case) in marllib.hpp. */
namespace Marl {
class Document {};
class Collection {};
class Tag {};
}  // namespace Marl

extern "C" {
#endif

/* Destroys every document in the registry and empties it; the next document gets handle 0.
 * Safe on an empty registry and when called twice. */
MARLLIB_API void MARLLIB_CALL marllib_Close(void);

/* Registers a new empty document and returns its handle (0 for the first one). */
MARLLIB_API int32_t MARLLIB_CALL marllib_Create(void);

/* Reads Marl text into a new registered document and returns its handle.
 * length > 0: source points to length bytes of text, read in place (no terminator needed).
 * length <= 0: source is a zero-terminated path, read in binary mode to its end whatever size
 * it reports: a regular file, a pipe or FIFO, a device or a file of /proc alike.
 * Returns -1 when the path's bytes cannot be had (null path, cannot open, a directory, a read
 * error, more than 2^31 - 1 bytes); nothing is registered then. Malformed, empty or short text
 * still gives a document: malformed tags are skipped and whatever was read stays read. */
MARLLIB_API int32_t MARLLIB_CALL marllib_Load(const char* source, int32_t length);

/* The collection index of container tag `tag`: -2 if tag is out of range, -3 if it is a leaf. */
MARLLIB_API int32_t MARLLIB_CALL marllib_GetCollection(int32_t handle, int32_t tag);

/* Replaces the value of leaf `tag` with a copy of `length` bytes. A null value counts as
 * length 0; length <= 0 leaves the leaf without value bytes (a negative length is recorded
 * and reported back by marllib_GetValue). False if tag is out of range or a container. */
MARLLIB_API bool MARLLIB_CALL marllib_SetValue(int32_t handle, int32_t tag, const char* value,
                                               int32_t length);

/* Copies min(max, value length) bytes of leaf `tag`'s value into buffer (nothing when buffer
 * is null or max <= 0) and returns the stored value length. Call with a null buffer to learn
 * the length. -1 if tag is out of range, -2 if it is a container. */
MARLLIB_API int32_t MARLLIB_CALL marllib_GetValue(int32_t handle, int32_t tag, char* buffer,
                                                  int32_t max);

/* Renames tag `tag` to a copy of `length` bytes (1 to 64). False, with the old name kept,
 * if tag is out of range, name is null or length is outside 1..64. */
MARLLIB_API bool MARLLIB_CALL marllib_SetName(int32_t handle, int32_t tag, const char* name,
                                              int32_t length);

/* Copies all 64 bytes of tag `tag`'s name field into buffer (which must hold 64 bytes;
 * null copies nothing) and returns the name's length, 1 to 64. -1 if tag is out of range. */
MARLLIB_API int32_t MARLLIB_CALL marllib_GetName(int32_t handle, int32_t tag, char* buffer);

/* Adds a tag named by `length` bytes at the end of collection `collection` (MARLLIB_ROOT for
 * the top level) and returns its tag index. isLeaf false makes a container with a new empty
 * collection of its own. -1 if the collection does not exist yet, -2 if collection < -1,
 * -3 if the name is null or its length is outside 1..64 (a container refused for its name
 * still leaves its new, unreferenced collection behind). */
MARLLIB_API int32_t MARLLIB_CALL marllib_AddTag(int32_t handle, int32_t collection,
                                                const char* name, int32_t length, bool isLeaf);

/* Copies the first min(max, count) tag indices of collection `collection` into out (nothing
 * when out is null or max <= 0) and returns the collection's count. -1 if the collection
 * does not exist yet, -2 if collection < -1. */
MARLLIB_API int32_t MARLLIB_CALL marllib_GetTags(int32_t handle, int32_t collection,
                                                 int32_t* out, int32_t max);

/* Writes to out, in collection order, the indices of at most `max` direct entries of
 * collection `collection` whose name equals the `length` bytes at name, and returns how many
 * it wrote. 0 for a null out, max <= 0, an invalid or empty collection, or no match. */
MARLLIB_API int32_t MARLLIB_CALL marllib_GetTagsByName(int32_t handle, int32_t collection,
                                                       const char* name, int32_t length,
                                                       int32_t* out, int32_t max);

/* The index of the first direct entry of collection `collection` whose name equals the
 * `length` bytes at name; -1 for an invalid or empty collection or when nothing matches. */
MARLLIB_API int32_t MARLLIB_CALL marllib_GetTagByName(int32_t handle, int32_t collection,
                                                      const char* name, int32_t length);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* MARLLIB_H */
