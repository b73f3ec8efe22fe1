/* A host may declare the leaf flag of marllib_AddTag as a plain byte: any nonzero value must
 * make a leaf. This file declares the functions itself, as such a host would. */
#include <stdint.h>
#include <stdio.h>

int32_t marllib_Create(void);
void marllib_Close(void);
int32_t marllib_AddTag(int32_t handle, int32_t collection, const char* name, int32_t length,
                       unsigned char leaf);
int32_t marllib_GetCollection(int32_t handle, int32_t tag);

/* marllib.h's name and number for marllib_GetCollection on a leaf. The header's declaration of
 * marllib_AddTag would clash with the one above, so the number is written out, as such a host
 * has it. */
#define MARLLIB_GETCOLLECTION_LEAF (-3)

int main(void) {
    const unsigned char flags[] = {1, 2, 0x7f, 0x80, 0xff};
    const int32_t doc = marllib_Create();
    int failures = 0;
    for (unsigned i = 0; i < sizeof flags; ++i) {
        const int32_t tag = marllib_AddTag(doc, -1, "leaf", 4, flags[i]);
        if (marllib_GetCollection(doc, tag) != MARLLIB_GETCOLLECTION_LEAF) {
            printf("flag byte 0x%02x did not make a leaf\n", flags[i]);
            ++failures;
        }
    }
    const int32_t container = marllib_AddTag(doc, -1, "box", 3, 0);
    if (marllib_GetCollection(doc, container) != 0) {
        printf("flag byte 0 did not make a container\n");
        ++failures;
    }
    marllib_Close();
    printf("%d passed, %d failed\n", (int)(sizeof flags + 1) - failures, failures);
    return failures != 0;
}
