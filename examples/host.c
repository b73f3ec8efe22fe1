/* A small host program: builds a document through the exported functions and prints what
 * it reads back, the way any C program would use marllib. */
#include <stdio.h>
#include <string.h>

#include "marllib.h"

static int32_t add(int32_t doc, int32_t collection, const char* name, bool leaf) {
    return marllib_AddTag(doc, collection, name, (int32_t)strlen(name), leaf);
}

static void set(int32_t doc, int32_t tag, const char* value) {
    marllib_SetValue(doc, tag, value, (int32_t)strlen(value));
}

/* Prints every tag of a collection and, for containers, of their collections below. */
static void show(int32_t doc, int32_t collection, int depth) {
    int32_t tags[64];
    const int32_t count = marllib_GetTags(doc, collection, tags, 64);
    for (int32_t i = 0; i < count && i < 64; ++i) {
        char name[MARLLIB_NAME_MAX];
        const int32_t nameLength = marllib_GetName(doc, tags[i], name);
        const int32_t own = marllib_GetCollection(doc, tags[i]);
        printf("%*s%.*s", depth * 2, "", (int)nameLength, name);
        if (own >= 0) {
            printf(" (container)\n");
            show(doc, own, depth + 1);
        } else {
            char value[256];
            const int32_t length = marllib_GetValue(doc, tags[i], value, sizeof value);
            if (length > 0) {
                printf(" = \"%.*s\"\n", (int)(length < 256 ? length : 256), value);
            } else {
                printf(" (no value)\n");
            }
        }
    }
}

int main(void) {
    const int32_t doc = marllib_Create();
    const int32_t server = add(doc, MARLLIB_ROOT, "server", false);
    const int32_t serverItems = marllib_GetCollection(doc, server);
    set(doc, add(doc, serverItems, "host", true), "example.org");
    set(doc, add(doc, serverItems, "port", true), "8080");
    add(doc, serverItems, "verbose", true);
    const int32_t users = marllib_GetCollection(doc, add(doc, serverItems, "users", false));
    set(doc, add(doc, users, "user", true), "ada");
    set(doc, add(doc, users, "user", true), "grace");

    printf("document %d:\n", (int)doc);
    show(doc, MARLLIB_ROOT, 1);

    int32_t found[8];
    const int32_t matches = marllib_GetTagsByName(doc, users, "user", 4, found, 8);
    printf("users found by name: %d\n", (int)matches);
    const int32_t port = marllib_GetTagByName(doc, serverItems, "port", 4);
    printf("port is tag %d\n", (int)port);
    printf("handle 7 is invalid: %d\n", (int)marllib_GetTags(7, MARLLIB_ROOT, NULL, 0));

    marllib_Close();
    return 0;
}
