/* A small host program, the way any C program would use marllib: it loads the Marl file
 * named by its argument (for example examples/config.marl), or builds a document by hand
 * when it has none, and prints what it reads back through the exported functions. */
#include <stdio.h>
#include <string.h>

#include "marllib.h"

static int32_t add(int32_t doc, int32_t collection, const char* name, bool leaf) {
    return marllib_AddTag(doc, collection, name, (int32_t)strlen(name), leaf);
}

static void set(int32_t doc, int32_t tag, const char* value) {
    marllib_SetValue(doc, tag, value, (int32_t)strlen(value));
}

/* The document that the program shows when it is given no file. */
static int32_t build_by_hand(void) {
    const int32_t doc = marllib_Create();
    const int32_t server = add(doc, MARLLIB_ROOT, "server", false);
    const int32_t serverItems = marllib_GetCollection(doc, server);
    int32_t users;
    set(doc, add(doc, serverItems, "host", true), "example.org");
    set(doc, add(doc, serverItems, "port", true), "8080");
    add(doc, serverItems, "verbose", true);
    users = marllib_GetCollection(doc, add(doc, serverItems, "users", false));
    set(doc, add(doc, users, "user", true), "ada");
    set(doc, add(doc, users, "user", true), "grace");
    return doc;
}

/* Prints a leaf's value in quotes, or that it has none. */
static void show_value(int32_t doc, int32_t tag) {
    char value[256];
    const int32_t length = marllib_GetValue(doc, tag, value, (int32_t)sizeof value);
    if (length > 0) {
        printf(" = \"%.*s\"%s\n", (int)(length < 256 ? length : 256), value,
               length > 256 ? "..." : "");
    } else {
        printf(" (no value)\n");
    }
}

/* Prints every tag of a collection and, for containers, of their collections below. */
static void show(int32_t doc, int32_t collection, int depth) {
    int32_t tags[64];
    const int32_t count = marllib_GetTags(doc, collection, tags, 64);
    int32_t i;
    for (i = 0; i < count && i < 64; ++i) {
        char name[MARLLIB_NAME_MAX];
        const int32_t nameLength = marllib_GetName(doc, tags[i], name);
        const int32_t own = marllib_GetCollection(doc, tags[i]);
        printf("%*s%.*s", depth * 2, "", (int)nameLength, name);
        if (own >= 0) {
            printf(" (container)\n");
            show(doc, own, depth + 1);
        } else {
            show_value(doc, tags[i]);
        }
    }
    if (count > 64) printf("%*s... and %d more\n", depth * 2, "", (int)(count - 64));
}

/* The first tag named `name` at any depth below collection, searched level by level from
 * the top, or MARLLIB_GETTAGBYNAME_NOT_FOUND as marllib_GetTagByName answers for one level.
 * *holder receives the collection that holds it. */
static int32_t find(int32_t doc, int32_t collection, const char* name, int32_t* holder) {
    int32_t tags[64];
    const int32_t found = marllib_GetTagByName(doc, collection, name, (int32_t)strlen(name));
    int32_t count, i;
    if (found >= 0) {
        *holder = collection;
        return found;
    }
    count = marllib_GetTags(doc, collection, tags, 64);
    for (i = 0; i < count && i < 64; ++i) {
        const int32_t own = marllib_GetCollection(doc, tags[i]);
        if (own >= 0) {
            const int32_t below = find(doc, own, name, holder);
            if (below >= 0) return below;
        }
    }
    return MARLLIB_GETTAGBYNAME_NOT_FOUND;
}

int main(int argc, char** argv) {
    int32_t doc, holder = MARLLIB_ROOT, port, user;

    if (argc > 1) {
        doc = marllib_Load(argv[1], 0);
        if (doc < 0) {
            fprintf(stderr, "cannot read %s\n", argv[1]);
            return 1;
        }
        printf("document %d, loaded from %s:\n", (int)doc, argv[1]);
    } else {
        doc = build_by_hand();
        printf("document %d, built by hand:\n", (int)doc);
    }
    show(doc, MARLLIB_ROOT, 1);

    /* Look settings up by name, as a host reads its configuration. */
    port = find(doc, MARLLIB_ROOT, "port", &holder);
    if (port >= 0) {
        printf("port is tag %d in collection %d", (int)port, (int)holder);
        show_value(doc, port);
    } else {
        printf("no port\n");
    }
    user = find(doc, MARLLIB_ROOT, "user", &holder);
    if (user >= 0) {
        int32_t found[16];
        const int32_t matches = marllib_GetTagsByName(doc, holder, "user", 4, found, 16);
        printf("users found by name: %d\n", (int)matches);
    }
    printf("handle %d is invalid: %d\n", (int)(doc + 7),
           (int)marllib_GetTags(doc + 7, MARLLIB_ROOT, NULL, 0));

    marllib_Close();
    return 0;
}
