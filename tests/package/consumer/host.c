/* A host program built against an installed marllib, the way a project outside this tree
 * builds one: it calls each of the twelve exported functions, checks what it reads back, and
 * prints the version of the header it was compiled with. */
#include <stdio.h>
#include <string.h>

#include "marllib.h"

static int failures = 0;

#define CHECK(condition)                                                  \
    do {                                                                  \
        if (!(condition)) {                                               \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__,    \
                    #condition);                                          \
            ++failures;                                                   \
        }                                                                 \
    } while (0)

/* True when leaf `tag` holds exactly the bytes of `expected`. */
static bool has_value(int32_t doc, int32_t tag, const char* expected) {
    char value[32];
    const int32_t length = marllib_GetValue(doc, tag, value, (int32_t)sizeof value);
    return length == (int32_t)strlen(expected) && memcmp(value, expected, strlen(expected)) == 0;
}

int main(void) {
    static const char text[] =
        "<server>\n  <port=\"8080\">\n  <user=\"ada\">\n  <user=\"grace\">\n  <verbose/>\n</>\n";
    char version[32];
    char name[MARLLIB_NAME_MAX];
    int32_t users[4];
    int32_t loaded, server, items, made, key;

    /* The header's version macros agree with each other. */
    snprintf(version, sizeof version, "%d.%d.%d", MARLLIB_VERSION_MAJOR, MARLLIB_VERSION_MINOR,
             MARLLIB_VERSION_PATCH);
    CHECK(strcmp(version, MARLLIB_VERSION_STRING) == 0);

    /* Reading text from memory, then finding and reading tags. */
    loaded = marllib_Load(text, (int32_t)(sizeof text - 1));
    CHECK(loaded == 0);
    server = marllib_GetTagByName(loaded, MARLLIB_ROOT, "server", 6);
    CHECK(server == 0);
    items = marllib_GetCollection(loaded, server);
    CHECK(items >= 0);
    CHECK(marllib_GetTags(loaded, items, NULL, 0) == 4);
    CHECK(has_value(loaded, marllib_GetTagByName(loaded, items, "port", 4), "8080"));
    CHECK(marllib_GetTagsByName(loaded, items, "user", 4, users, 4) == 2);
    CHECK(has_value(loaded, users[0], "ada") && has_value(loaded, users[1], "grace"));

    /* Building a document, renaming a tag and reading its name field back. */
    made = marllib_Create();
    CHECK(made == 1);
    key = marllib_AddTag(made, MARLLIB_ROOT, "key", 3, true);
    CHECK(key == 0);
    CHECK(marllib_SetValue(made, key, "v", 1));
    CHECK(has_value(made, key, "v"));
    CHECK(marllib_SetName(made, key, "renamed", 7));
    CHECK(marllib_GetName(made, key, name) == 7 && memcmp(name, "renamed", 7) == 0);

    /* Failures come back as results. */
    CHECK(marllib_Load("/nonexistent/marllib-consumer.marl", 0) == MARLLIB_LOAD_UNREADABLE);
    CHECK(marllib_GetTags(2, MARLLIB_ROOT, NULL, 0) == MARLLIB_INVALID_HANDLE);
    CHECK(!marllib_SetValue(2, 0, "v", 1));

    /* Closing ends every document; handles start again at 0. */
    marllib_Close();
    CHECK(marllib_GetTags(loaded, MARLLIB_ROOT, NULL, 0) == MARLLIB_INVALID_HANDLE);
    CHECK(marllib_Create() == 0);
    marllib_Close();

    if (failures != 0) return 1;
    printf("marllib %s\n", MARLLIB_VERSION_STRING);
    return 0;
}
