// Loads arbitrary bytes from memory, reads every tag and collection of the document back
// through the exported functions, checks that they form one consistent tree, and prints it.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "check.h"
#include "marlclass_document.h"
#include "marllib.h"
#include "marllib_load.h"

namespace {

FILE* NullStream() {
    static FILE* const stream = std::fopen("/dev/null", "wb");
    return stream;
}

// Reads document `handle` through the exports and checks every answer against the others.
void Walk(int32_t handle) {
    // Tags: 0 .. tagCount-1, each with a name of 1 to 64 bytes; a leaf has no collection.
    std::vector<int32_t> collectionOf;  // per tag: its own collection, or -1 for a leaf
    char name[MARLLIB_NAME_MAX];
    for (int32_t tag = 0;; ++tag) {
        const int32_t nameLength = marllib_GetName(handle, tag, name);
        if (nameLength == MARLLIB_GETNAME_NO_TAG) break;
        FUZZ_CHECK(nameLength >= 1 && nameLength <= MARLLIB_NAME_MAX);
        // The name field past the name is zero: a loaded name was never longer.
        for (int32_t i = nameLength; i < MARLLIB_NAME_MAX; ++i) FUZZ_CHECK(name[i] == 0);
        const int32_t collection = marllib_GetCollection(handle, tag);
        const int32_t valueLength = marllib_GetValue(handle, tag, nullptr, 0);
        if (collection == MARLLIB_GETCOLLECTION_LEAF) {
            FUZZ_CHECK(valueLength >= 0);
            std::vector<char> value(static_cast<size_t>(valueLength) + 1, '\x55');
            FUZZ_CHECK(marllib_GetValue(handle, tag, value.data(), valueLength + 1) == valueLength);
            FUZZ_CHECK(value[static_cast<size_t>(valueLength)] == '\x55');
            collectionOf.push_back(-1);
        } else {
            FUZZ_CHECK(collection >= 0);
            FUZZ_CHECK(valueLength == MARLLIB_GETVALUE_CONTAINER);
            collectionOf.push_back(collection);
        }
    }
    const auto tagCount = static_cast<int32_t>(collectionOf.size());
    FUZZ_CHECK(marllib_GetName(handle, tagCount, nullptr) == MARLLIB_GETNAME_NO_TAG);
    FUZZ_CHECK(marllib_GetCollection(handle, tagCount) == MARLLIB_GETCOLLECTION_NO_TAG);

    // Collections: every tag stands in exactly one, in ascending order, and every collection
    // belongs to exactly one container, created with it, so containers number them in order.
    std::vector<int32_t> placed(static_cast<size_t>(tagCount), 0);
    std::vector<int32_t> ownerOf;  // per collection: the container that owns it
    for (int32_t tag = 0; tag < tagCount; ++tag) {
        const int32_t own = collectionOf[static_cast<size_t>(tag)];
        if (own < 0) continue;
        FUZZ_CHECK(own == static_cast<int32_t>(ownerOf.size()));
        ownerOf.push_back(tag);
    }
    const auto collectionCount = static_cast<int32_t>(ownerOf.size());
    FUZZ_CHECK(marllib_GetTags(handle, collectionCount, nullptr, 0) ==
               MARLLIB_GETTAGS_NO_COLLECTION);
    FUZZ_CHECK(marllib_GetTags(handle, -2, nullptr, 0) == MARLLIB_GETTAGS_BELOW_ROOT);
    for (int32_t collection = MARLLIB_ROOT; collection < collectionCount; ++collection) {
        const int32_t count = marllib_GetTags(handle, collection, nullptr, 0);
        FUZZ_CHECK(count >= 0 && count <= tagCount);
        std::vector<int32_t> tags(static_cast<size_t>(count) + 1, -7);
        FUZZ_CHECK(marllib_GetTags(handle, collection, tags.data(), count + 1) == count);
        FUZZ_CHECK(tags[static_cast<size_t>(count)] == -7);
        std::vector<int32_t> matches(static_cast<size_t>(count) + 1);
        for (int32_t i = 0; i < count; ++i) {
            const int32_t tag = tags[static_cast<size_t>(i)];
            FUZZ_CHECK(tag >= 0 && tag < tagCount);
            FUZZ_CHECK(i == 0 || tag > tags[static_cast<size_t>(i) - 1]);
            FUZZ_CHECK(++placed[static_cast<size_t>(tag)] == 1);
            // A container's entries come after it.
            if (collection >= 0) FUZZ_CHECK(tag > ownerOf[static_cast<size_t>(collection)]);

            // Searching the collection for the tag's name finds it, and finds first the
            // first entry of that name. (Each search is linear: the first entries and the
            // last suffice to keep the whole walk linear too.)
            if (i >= 16 && i != count - 1) continue;
            const int32_t length = marllib_GetName(handle, tag, name);
            const int32_t found =
                marllib_GetTagsByName(handle, collection, name, length, matches.data(), count);
            FUZZ_CHECK(found >= 1 && found <= count);
            bool listed = false;
            for (int32_t m = 0; m < found; ++m) listed |= matches[static_cast<size_t>(m)] == tag;
            FUZZ_CHECK(listed);
            const int32_t first = marllib_GetTagByName(handle, collection, name, length);
            FUZZ_CHECK(first == matches[0]);
            FUZZ_CHECK(first <= tag);
        }
    }
    for (int32_t tag = 0; tag < tagCount; ++tag) FUZZ_CHECK(placed[static_cast<size_t>(tag)] == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A length of 0 would make the bytes a file path.
    if (size == 0 || size > INT32_MAX) return 0;
    const auto* const text = reinterpret_cast<const char*>(data);
    const auto length = static_cast<int32_t>(size);

    const int32_t handle = marllib_Load(text, length);
    FUZZ_CHECK(handle == 0);
    Walk(handle);
    marllib_Close();

    const auto document = MarlLib::LoadText(text, length);
    document->Print(NullStream());
    return 0;
}
