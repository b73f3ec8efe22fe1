/* marllib.dll as a Windows host sees it, 32-bit or 64-bit.
 *
 * The exports are declared here by hand, with the C types such a host writes for them:
 * long and int for the 32-bit integers (both 32 bits on 64-bit Windows too), a one-byte bool
 * for the flags. The program links
 * through the import library, then checks that handles, result codes, names and values
 * cross the boundary intact, that every function is found by its plain name, and that the
 * DLL carries its version resource. */
#include <errno.h>
#include <stdbool.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

/* The Windows ABI that the exports are written for. */
typedef char long_is_32_bits[sizeof(long) == 4 ? 1 : -1];
typedef char int_is_32_bits[sizeof(int) == 4 ? 1 : -1];
typedef char bool_is_one_byte[sizeof(bool) == 1 ? 1 : -1];

#define IMPORT __declspec(dllimport)
IMPORT void __cdecl marllib_Close(void);
IMPORT long __cdecl marllib_Create(void);
IMPORT long __cdecl marllib_Load(const char* source, long length);
IMPORT long __cdecl marllib_GetCollection(long handle, long tag);
IMPORT bool __cdecl marllib_SetValue(long handle, long tag, const char* value, long length);
IMPORT long __cdecl marllib_GetValue(long handle, long tag, char* buffer, long max);
IMPORT bool __cdecl marllib_SetName(long handle, long tag, const char* name, int length);
IMPORT int __cdecl marllib_GetName(long handle, long tag, char* buffer);
IMPORT long __cdecl marllib_AddTag(long handle, long collection, const char* name, int length,
                                   bool isLeaf);
IMPORT long __cdecl marllib_GetTags(long handle, long collection, long* out, long max);
IMPORT long __cdecl marllib_GetTagsByName(long handle, long collection, const char* name,
                                          int length, long* out, long max);
IMPORT long __cdecl marllib_GetTagByName(long handle, long collection, const char* name,
                                         int length);

/* The numbers of marllib.h that this host passes and compares with, under the header's names.
 * The header's own declarations would clash with the ones above, so the numbers are written
 * out, as a host that declares the exports itself has them: a change to one of them in the
 * header, which would break such hosts, fails this test too. */
#define MARLLIB_ROOT (-1)
#define MARLLIB_INVALID_HANDLE (-4)
#define MARLLIB_LOAD_UNREADABLE (-1)
#define MARLLIB_ADDTAG_NO_COLLECTION (-1)
#define MARLLIB_ADDTAG_BELOW_ROOT (-2)
#define MARLLIB_ADDTAG_BAD_NAME (-3)
#define MARLLIB_GETCOLLECTION_LEAF (-3)
#define MARLLIB_GETVALUE_CONTAINER (-2)
#define MARLLIB_GETTAGBYNAME_NOT_FOUND (-1)

/* Newer than MinGW-w64's headers. */
#ifndef ERROR_DIRECTORY_NOT_SUPPORTED
#define ERROR_DIRECTORY_NOT_SUPPORTED 336L
#endif

static int passed;
static int failed;

static void check(bool ok, const char* what, int line) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        printf("line %d: failed: %s\n", line, what);
    }
}
#define CHECK(condition) check((condition), #condition, __LINE__)

/* True when tag's name is exactly the given text. */
static bool name_is(long doc, long tag, const char* expected) {
    char name[64];
    const int length = marllib_GetName(doc, tag, name);
    return length == (int)strlen(expected) && memcmp(name, expected, (size_t)length) == 0;
}

/* True when leaf tag's value is exactly length bytes equal to expected. */
static bool value_is(long doc, long tag, const char* expected, long length) {
    char value[64];
    memset(value, '#', sizeof value);
    return marllib_GetValue(doc, tag, value, (long)sizeof value) == length &&
           memcmp(value, expected, (size_t)length) == 0 && value[length] == '#';
}

static void invalid_handles_give_minus_four(void) {
    char buffer[64];
    long out[4] = {7, 7, 7, 7};
    const long handles[] = {0, 1, -1, 2147483647L, -2147483647L - 1};
    size_t i;
    for (i = 0; i < sizeof handles / sizeof handles[0]; ++i) {
        const long h = handles[i];
        CHECK(marllib_GetCollection(h, 0) == MARLLIB_INVALID_HANDLE);
        CHECK(marllib_SetValue(h, 0, "v", 1) == false);
        CHECK(marllib_GetValue(h, 0, buffer, 1) == MARLLIB_INVALID_HANDLE);
        CHECK(marllib_SetName(h, 0, "n", 1) == false);
        CHECK(marllib_GetName(h, 0, buffer) == MARLLIB_INVALID_HANDLE);
        CHECK(marllib_AddTag(h, MARLLIB_ROOT, "n", 1, true) == MARLLIB_INVALID_HANDLE);
        CHECK(marllib_GetTags(h, MARLLIB_ROOT, out, 4) == MARLLIB_INVALID_HANDLE);
        CHECK(marllib_GetTagsByName(h, MARLLIB_ROOT, "n", 1, out, 4) == MARLLIB_INVALID_HANDLE);
        CHECK(marllib_GetTagByName(h, MARLLIB_ROOT, "n", 1) == MARLLIB_INVALID_HANDLE);
    }
    CHECK(out[0] == 7);
}

static void build_and_read_back(void) {
    long doc, other, server, items, port, user1, user2;
    long out[4] = {-9, -9, -9, -9};

    doc = marllib_Create();
    other = marllib_Create();
    CHECK(doc == 0);
    CHECK(other == 1);

    server = marllib_AddTag(doc, -1, "server", 6, false);
    items = marllib_GetCollection(doc, server);
    port = marllib_AddTag(doc, items, "port", 4, true);
    user1 = marllib_AddTag(doc, items, "user", 4, true);
    user2 = marllib_AddTag(doc, items, "user", 4, true);
    CHECK(server == 0);
    CHECK(items == 0);
    CHECK(port == 1);
    CHECK(user2 == 3);
    CHECK(marllib_GetCollection(doc, port) == MARLLIB_GETCOLLECTION_LEAF);
    CHECK(marllib_AddTag(doc, -2, "x", 1, true) == MARLLIB_ADDTAG_BELOW_ROOT);
    CHECK(marllib_AddTag(doc, 5, "x", 1, true) == MARLLIB_ADDTAG_NO_COLLECTION);
    CHECK(marllib_AddTag(doc, MARLLIB_ROOT, "x", 0, true) == MARLLIB_ADDTAG_BAD_NAME);

    CHECK(marllib_SetValue(doc, port, "8080", 4) == true);
    CHECK(value_is(doc, port, "8080", 4));
    CHECK(marllib_GetValue(doc, port, NULL, 0) == 4);
    CHECK(marllib_SetValue(doc, server, "x", 1) == false);
    CHECK(marllib_GetValue(doc, server, NULL, 0) == MARLLIB_GETVALUE_CONTAINER);
    /* Any byte may be part of a value: zero bytes too. */
    CHECK(marllib_SetValue(doc, user1, "a\0b", 3) == true);
    CHECK(value_is(doc, user1, "a\0b", 3));

    CHECK(name_is(doc, server, "server"));
    CHECK(marllib_SetName(doc, user2, "admin", 5) == true);
    CHECK(name_is(doc, user2, "admin"));
    CHECK(marllib_SetName(doc, user2, "x", 65) == false);
    CHECK(name_is(doc, user2, "admin"));

    CHECK(marllib_GetTags(doc, items, out, 4) == 3);
    CHECK(out[0] == port && out[1] == user1 && out[2] == user2 && out[3] == -9);
    CHECK(marllib_GetTagsByName(doc, items, "user", 4, out, 4) == 1);
    CHECK(out[0] == user1);
    CHECK(marllib_GetTagByName(doc, items, "admin", 5) == user2);
    CHECK(marllib_GetTagByName(doc, MARLLIB_ROOT, "port", 4) == MARLLIB_GETTAGBYNAME_NOT_FOUND);

    /* The second document is untouched by everything done to the first. */
    CHECK(marllib_GetTags(other, -1, NULL, 0) == 0);
    CHECK(marllib_GetTags(2, MARLLIB_ROOT, NULL, 0) == MARLLIB_INVALID_HANDLE);
}

static void load_from_memory(void) {
    static const char text[] = "<r>\n  <b/>\n  <v=\"say \"\"hi\"\"\">\n</>\n";
    const long doc = marllib_Load(text, (long)(sizeof text - 1));
    const long next = marllib_Create();
    CHECK(doc >= 0);
    CHECK(next == doc + 1);
    CHECK(marllib_GetTags(doc, -1, NULL, 0) == 1);
    CHECK(name_is(doc, 0, "r"));
    CHECK(marllib_GetCollection(doc, 0) == 0);
    CHECK(name_is(doc, 1, "b"));
    CHECK(marllib_GetValue(doc, 1, NULL, 0) == 0);
    CHECK(name_is(doc, 2, "v"));
    CHECK(value_is(doc, 2, "say \"hi\"", 8));
    /* Fewer than 4 bytes read nothing, but still register a document. */
    CHECK(marllib_Load("<a/>", 3) == next + 1);
    CHECK(marllib_GetTags(next + 1, -1, NULL, 0) == 0);
}

static void load_from_files(void) {
    /* CR LF line ends, and one inside a value, which binary reading keeps byte for byte. */
    static const char text[] = "<config>\r\n  <note=\"two\r\nlines\">\r\n  <flag/>\r\n</>\r\n";
    char folder[MAX_PATH];
    char path[MAX_PATH];
    char missing[MAX_PATH + 32];
    FILE* file;
    long doc, again, absent, next;

    CHECK(GetTempPathA(MAX_PATH, folder) > 0);
    CHECK(GetTempFileNameA(folder, "mrl", 0, path) != 0);
    file = fopen(path, "wb");
    CHECK(file != NULL);
    if (file == NULL) return;
    CHECK(fwrite(text, 1, sizeof text - 1, file) == sizeof text - 1);
    fclose(file);

    doc = marllib_Load(path, 0);
    again = marllib_Load(path, -1); /* any length of 0 or less names a file */
    CHECK(doc >= 0);
    CHECK(again == doc + 1);
    CHECK(name_is(doc, 0, "config"));
    CHECK(name_is(doc, 1, "note"));
    CHECK(value_is(doc, 1, "two\r\nlines", 10));
    CHECK(name_is(doc, 2, "flag"));
    CHECK(marllib_GetTags(doc, 0, NULL, 0) == 2);
    CHECK(value_is(again, 1, "two\r\nlines", 10));

    /* A file that does not exist registers nothing. */
    snprintf(missing, sizeof missing, "%s.missing", path);
    DeleteFileA(missing);
    SetLastError(0);
    errno = 0;
    absent = marllib_Load(missing, 0);
    /* The reason, in the thread's Windows error and, this host sharing msvcrt.dll's errno
     * with the DLL, in errno too. */
    CHECK(GetLastError() == ERROR_FILE_NOT_FOUND);
    CHECK(errno == ENOENT);
    next = marllib_Create();
    CHECK(absent == MARLLIB_LOAD_UNREADABLE);
    CHECK(next == again + 1);
    CHECK(marllib_Load(NULL, 0) == MARLLIB_LOAD_UNREADABLE);
    CHECK(GetLastError() == ERROR_INVALID_PARAMETER);
    /* A directory has no bytes to read. */
    CHECK(marllib_Load(folder, 0) == MARLLIB_LOAD_UNREADABLE);
    CHECK(GetLastError() == ERROR_DIRECTORY_NOT_SUPPORTED);
    CHECK(errno == EISDIR);

    CHECK(DeleteFileA(path) != 0);
}

static void close_restarts_handles(void) {
    marllib_Close();
    CHECK(marllib_GetTags(0, MARLLIB_ROOT, NULL, 0) == MARLLIB_INVALID_HANDLE);
    marllib_Close();
    CHECK(marllib_Create() == 0);
    CHECK(marllib_GetTags(0, -1, NULL, 0) == 0);
    marllib_Close();
}

/* Hosts that bind at run time find each function under its plain, undecorated name, and
 * read the setters' result and pass the leaf flag as single bytes. */
static void exports_by_name(void) {
    static const char* const names[] = {
        "marllib_Close",    "marllib_Create",   "marllib_Load",    "marllib_GetCollection",
        "marllib_SetValue", "marllib_GetValue", "marllib_SetName", "marllib_GetName",
        "marllib_AddTag",   "marllib_GetTags",  "marllib_GetTagsByName",
        "marllib_GetTagByName"};
    typedef unsigned char(__cdecl * SetNameBytes)(long, long, const char*, int);
    typedef long(__cdecl * AddTagBytes)(long, long, const char*, int, unsigned char);
    typedef void (*AnyFunction)(void); /* converts to and from any function pointer type */
    HMODULE dll = GetModuleHandleA("marllib.dll");
    size_t i;
    CHECK(dll != NULL);
    if (dll == NULL) return;
    for (i = 0; i < sizeof names / sizeof names[0]; ++i) {
        if (GetProcAddress(dll, names[i]) == NULL) {
            check(false, names[i], __LINE__);
        } else {
            ++passed;
        }
    }
#if defined(__i386__) || defined(_M_IX86)
    /* 32-bit x86 alone decorates names by calling convention: cdecl's exports carry none. */
    CHECK(GetProcAddress(dll, "_marllib_Create") == NULL);
    CHECK(GetProcAddress(dll, "_marllib_Create@0") == NULL);
#endif
    CHECK((AnyFunction)GetProcAddress(dll, "marllib_Create") == (AnyFunction)marllib_Create);

    {
        const SetNameBytes set_name =
            (SetNameBytes)(AnyFunction)GetProcAddress(dll, "marllib_SetName");
        const AddTagBytes add_tag =
            (AddTagBytes)(AnyFunction)GetProcAddress(dll, "marllib_AddTag");
        long doc, leaf;
        if (set_name == NULL || add_tag == NULL) return;
        doc = marllib_Create();
        /* Any nonzero flag byte makes a leaf: 0xFF is how some hosts write true. */
        leaf = add_tag(doc, -1, "leaf", 4, 0xFF);
        CHECK(leaf == 0);
        CHECK(marllib_GetCollection(doc, leaf) == MARLLIB_GETCOLLECTION_LEAF);
        CHECK(add_tag(doc, -1, "box", 3, 0) == 1);
        CHECK(marllib_GetCollection(doc, 1) == 0);
        CHECK(set_name(doc, leaf, "renamed", 7) == 1);
        CHECK(set_name(doc, leaf, "", 0) == 0);
        CHECK(set_name(doc + 1, leaf, "x", 1) == 0);
        marllib_Close();
    }
}

/* The version resource names the product and carries the build's version numbers. */
static void version_resource(void) {
    char path[MAX_PATH];
    static char data[4096];
    DWORD ignored = 0;
    DWORD size;
    VS_FIXEDFILEINFO* fixed = NULL;
    char* text = NULL;
    UINT length = 0;

    CHECK(GetModuleFileNameA(GetModuleHandleA("marllib.dll"), path, MAX_PATH) > 0);
    size = GetFileVersionInfoSizeA(path, &ignored);
    CHECK(size > 0 && size <= sizeof data);
    if (size == 0 || size > sizeof data) return;
    CHECK(GetFileVersionInfoA(path, 0, size, data) != 0);
    CHECK(VerQueryValueA(data, "\\", (void**)&fixed, &length) != 0 && fixed != NULL);
    if (fixed != NULL) {
        CHECK(fixed->dwSignature == 0xFEEF04BDu);
        CHECK(fixed->dwFileVersionMS ==
              (DWORD)MAKELONG(MARLLIB_VERSION_MINOR, MARLLIB_VERSION_MAJOR));
        CHECK(fixed->dwFileVersionLS == (DWORD)MAKELONG(0, MARLLIB_VERSION_PATCH));
        CHECK(fixed->dwFileType == VFT_DLL);
    }
    CHECK(VerQueryValueA(data, "\\StringFileInfo\\040904B0\\ProductName", (void**)&text,
                         &length) != 0);
    CHECK(text != NULL && strcmp(text, "marllib") == 0);
    text = NULL;
    CHECK(VerQueryValueA(data, "\\StringFileInfo\\040904B0\\FileVersion", (void**)&text,
                         &length) != 0);
    CHECK(text != NULL && strcmp(text, MARLLIB_VERSION_TEXT) == 0);
    text = NULL;
    CHECK(VerQueryValueA(data, "\\StringFileInfo\\040904B0\\FileDescription", (void**)&text,
                         &length) != 0);
    CHECK(text != NULL && strlen(text) > 0);
}

int main(void) {
    invalid_handles_give_minus_four();
    build_and_read_back();
    load_from_memory();
    load_from_files();
    close_restarts_handles();
    exports_by_name();
    version_resource();
    marllib_Close();
    printf("windows host: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
