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
 * Results: counts and indices are >= 0; failures are small negative codes, each with a name
 * below. An invalid handle gives MARLLIB_INVALID_HANDLE (false from the two setters); the
 * document operations use -1, -2, -3, named MARLLIB_<FUNCTION>_<REASON> and documented per
 * function. One number can mean different things for different functions, so compare a
 * result only with its own function's names. Allocation failure is not caught: it leaves the
 * call as the C++ runtime's std::bad_alloc and changes nothing. (The searches by name are the
 * exception: where their index cannot be made they walk the collection, and throw nothing.)
 *
 * Threads: none. Make every call from one thread, or serialise all calls yourself.
 */
#ifndef MARLLIB_H
#define MARLLIB_H

#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

/* MARLLIB_VERSION_MAJOR, _MINOR, _PATCH and MARLLIB_VERSION_STRING ("MAJOR.MINOR.PATCH"),
 * made by the build from the project's version. */
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

/* The failure codes of each function. Each comes with a call that returns it, where doc is a
 * document from marllib_Create holding no more than the comment says. */
/* marllib_Load("no/such/file.marl", 0): the path's bytes cannot be had (see marllib_Load). */
#define MARLLIB_LOAD_UNREADABLE (-1)

/* marllib_AddTag(doc, 0, "a", 1, true) while doc has no collection 0. */
#define MARLLIB_ADDTAG_NO_COLLECTION (-1)
/* marllib_AddTag(doc, -2, "a", 1, true): a collection below MARLLIB_ROOT. */
#define MARLLIB_ADDTAG_BELOW_ROOT (-2)
/* marllib_AddTag(doc, MARLLIB_ROOT, "", 0, true): a name must be 1 to 64 bytes. */
#define MARLLIB_ADDTAG_BAD_NAME (-3)

/* marllib_GetTags(doc, 0, NULL, 0) while doc has no collection 0. */
#define MARLLIB_GETTAGS_NO_COLLECTION (-1)
/* marllib_GetTags(doc, -2, NULL, 0): a collection below MARLLIB_ROOT. */
#define MARLLIB_GETTAGS_BELOW_ROOT (-2)

/* marllib_GetCollection(doc, 0) while doc has no tag 0. */
#define MARLLIB_GETCOLLECTION_NO_TAG (-2)
/* marllib_GetCollection(doc, leaf) for a leaf tag `leaf`: a leaf has no collection. */
#define MARLLIB_GETCOLLECTION_LEAF (-3)

/* marllib_GetValue(doc, 0, NULL, 0) while doc has no tag 0. */
#define MARLLIB_GETVALUE_NO_TAG (-1)
/* marllib_GetValue(doc, box, NULL, 0) for a container tag `box`: a container has no value. */
#define MARLLIB_GETVALUE_CONTAINER (-2)

/* marllib_GetName(doc, 0, buffer) while doc has no tag 0. */
#define MARLLIB_GETNAME_NO_TAG (-1)

/* marllib_GetTagByName(doc, MARLLIB_ROOT, "a", 1) while the top level holds no tag "a". */
#define MARLLIB_GETTAGBYNAME_NOT_FOUND (-1)

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
 * Returns MARLLIB_LOAD_UNREADABLE when the path's bytes cannot be had; nothing is registered
 * then, and errno tells why: EINVAL for a null path, the open's own error (ENOENT, EACCES,
 * ...), EISDIR for a directory, the read's own error or EIO, and EFBIG for more than
 * 2^31 - 1 bytes. (After a load that succeeds, errno means nothing.)
 * On Windows the DLL's errno belongs to msvcrt.dll, which a host sees only if it uses
 * msvcrt.dll too (MinGW's default, not MSVC's). Any host can call GetLastError() instead: the
 * failed load sets it to the Windows error that matches errno, ERROR_FILE_NOT_FOUND (ENOENT),
 * ERROR_ACCESS_DENIED (EACCES), ERROR_TOO_MANY_OPEN_FILES (EMFILE), ERROR_NOT_ENOUGH_MEMORY
 * (ENOMEM), ERROR_INVALID_PARAMETER (EINVAL), ERROR_DIRECTORY_NOT_SUPPORTED (EISDIR),
 * ERROR_FILE_TOO_LARGE (EFBIG), or ERROR_READ_FAULT for EIO and any other read error.
 * Malformed, empty or short text still gives a document: malformed tags are skipped and
 * whatever was read stays read. */
MARLLIB_API int32_t MARLLIB_CALL marllib_Load(const char* source, int32_t length);

/* The collection index of container tag `tag`: MARLLIB_GETCOLLECTION_NO_TAG if tag is out of
 * range, MARLLIB_GETCOLLECTION_LEAF if it is a leaf. */
MARLLIB_API int32_t MARLLIB_CALL marllib_GetCollection(int32_t handle, int32_t tag);

/* Replaces the value of leaf `tag` with a copy of `length` bytes. A null value counts as
 * length 0; length <= 0 leaves the leaf without value bytes (a negative length is recorded
 * and reported back by marllib_GetValue). False if tag is out of range or a container. */
MARLLIB_API bool MARLLIB_CALL marllib_SetValue(int32_t handle, int32_t tag, const char* value,
                                               int32_t length);

/* Copies min(max, value length) bytes of leaf `tag`'s value into buffer (nothing when buffer
 * is null or max <= 0) and returns the stored value length. Call with a null buffer to learn
 * the length. MARLLIB_GETVALUE_NO_TAG if tag is out of range, MARLLIB_GETVALUE_CONTAINER if
 * it is a container. */
MARLLIB_API int32_t MARLLIB_CALL marllib_GetValue(int32_t handle, int32_t tag, char* buffer,
                                                  int32_t max);

/* Renames tag `tag` to a copy of `length` bytes (1 to 64). False, with the old name kept,
 * if tag is out of range, name is null or length is outside 1..64. */
MARLLIB_API bool MARLLIB_CALL marllib_SetName(int32_t handle, int32_t tag, const char* name,
                                              int32_t length);

/* Copies all 64 bytes of tag `tag`'s name field into buffer (which must hold 64 bytes;
 * null copies nothing) and returns the name's length, 1 to 64. MARLLIB_GETNAME_NO_TAG if tag
 * is out of range. */
MARLLIB_API int32_t MARLLIB_CALL marllib_GetName(int32_t handle, int32_t tag, char* buffer);

/* Adds a tag named by `length` bytes at the end of collection `collection` (MARLLIB_ROOT for
 * the top level) and returns its tag index. isLeaf false makes a container with a new empty
 * collection of its own. MARLLIB_ADDTAG_NO_COLLECTION if the collection does not exist yet,
 * MARLLIB_ADDTAG_BELOW_ROOT if collection < MARLLIB_ROOT, MARLLIB_ADDTAG_BAD_NAME if the name
 * is null or its length is outside 1..64 (a container refused for its name still leaves its
 * new, unreferenced collection behind). */
MARLLIB_API int32_t MARLLIB_CALL marllib_AddTag(int32_t handle, int32_t collection,
                                                const char* name, int32_t length, bool isLeaf);

/* Copies the first min(max, count) tag indices of collection `collection` into out (nothing
 * when out is null or max <= 0) and returns the collection's count.
 * MARLLIB_GETTAGS_NO_COLLECTION if the collection does not exist yet, MARLLIB_GETTAGS_BELOW_ROOT
 * if collection < MARLLIB_ROOT. */
MARLLIB_API int32_t MARLLIB_CALL marllib_GetTags(int32_t handle, int32_t collection,
                                                 int32_t* out, int32_t max);

/* The two searches by name cost O(1 + matches) on average, whatever the collection's size:
 * the first search of a collection of 8 or more entries indexes its names (about 8 bytes an
 * entry, 8 more for an entry that shares its name), and later ones index the entries added
 * since; a rename has its collection indexed anew on the next search. A document that is
 * never searched holds no index.
 *
 * Writes to out, in collection order, the indices of at most `max` direct entries of
 * collection `collection` whose name equals the `length` bytes at name, and returns how many
 * it wrote. 0 for a null out, max <= 0, an invalid or empty collection, or no match. */
MARLLIB_API int32_t MARLLIB_CALL marllib_GetTagsByName(int32_t handle, int32_t collection,
                                                       const char* name, int32_t length,
                                                       int32_t* out, int32_t max);

/* The index of the first direct entry of collection `collection` whose name equals the
 * `length` bytes at name; MARLLIB_GETTAGBYNAME_NOT_FOUND for an invalid or empty collection or
 * when nothing matches. */
MARLLIB_API int32_t MARLLIB_CALL marllib_GetTagByName(int32_t handle, int32_t collection,
                                                      const char* name, int32_t length);

#ifdef __cplusplus
}  /* extern "C" */
#endif

/* Only the declarations above need these. */
#undef MARLLIB_API
#undef MARLLIB_CALL

#endif /* MARLLIB_H */
