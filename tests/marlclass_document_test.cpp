#include "marlclass_document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using MarlClass::Document;

int32_t Add(Document& doc, int32_t collection, const std::string& name, bool leaf) {
    return doc.AddTag(collection, name.data(), static_cast<int32_t>(name.size()), leaf);
}

std::vector<int32_t> Tags(const Document& doc, int32_t collection) {
    std::vector<int32_t> out(static_cast<size_t>(doc.GetTags(collection, nullptr, 0)));
    doc.GetTags(collection, out.data(), static_cast<int32_t>(out.size()));
    return out;
}

std::string Name(const Document& doc, int32_t tag) {
    char field[MARLLIB_NAME_MAX];
    const int32_t length = doc.GetName(tag, field);
    return length < 0 ? std::string() : std::string(field, static_cast<size_t>(length));
}

TEST(Document, NewDocumentIsEmptyAndHasOnlyTheRoot) {
    Document doc;
    EXPECT_EQ(doc.GetTags(-1, nullptr, 0), 0);
    EXPECT_EQ(Add(doc, 0, "a", true), MARLLIB_ADDTAG_NO_COLLECTION);  // no collection exists yet
    EXPECT_EQ(Add(doc, -2, "a", true), MARLLIB_ADDTAG_BELOW_ROOT);
    EXPECT_EQ(Add(doc, -1, "a", true), 0);
}

TEST(Document, AddTagChecksCollectionBeforeName) {
    Document doc;
    // Every failure is reported in check order: collection too high, too low, then the name.
    EXPECT_EQ(doc.AddTag(5, nullptr, 0, true), MARLLIB_ADDTAG_NO_COLLECTION);
    EXPECT_EQ(doc.AddTag(-7, nullptr, 0, true), MARLLIB_ADDTAG_BELOW_ROOT);
    EXPECT_EQ(doc.AddTag(MARLLIB_ROOT, nullptr, 1, true), MARLLIB_ADDTAG_BAD_NAME);
    EXPECT_EQ(doc.AddTag(MARLLIB_ROOT, "x", 0, true), MARLLIB_ADDTAG_BAD_NAME);
    EXPECT_EQ(doc.AddTag(MARLLIB_ROOT, std::string(65, 'x').c_str(), 65, true),
              MARLLIB_ADDTAG_BAD_NAME);
    EXPECT_EQ(doc.TagCount(), 0);
    EXPECT_EQ(doc.CollectionCount(), 0);
}

TEST(Document, ContainersGetConsecutiveCollections) {
    Document doc;
    EXPECT_EQ(Add(doc, -1, "leaf", true), 0);
    const int32_t a = Add(doc, -1, "a", false);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(doc.GetCollection(a), 0);
    const int32_t b = Add(doc, 0, "b", false);
    EXPECT_EQ(doc.GetCollection(b), 1);
    EXPECT_EQ(Tags(doc, -1), (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(Tags(doc, 0), (std::vector<int32_t>{2}));
    EXPECT_EQ(Tags(doc, 1), std::vector<int32_t>{});
}

TEST(Document, ContainerRefusedForItsNameLeavesAnUnreferencedCollection) {
    Document doc;
    EXPECT_EQ(doc.AddTag(MARLLIB_ROOT, "", 0, false), MARLLIB_ADDTAG_BAD_NAME);
    EXPECT_EQ(doc.CollectionCount(), 1);
    EXPECT_EQ(doc.AddTag(MARLLIB_ROOT, std::string(65, 'x').c_str(), 65, false),
              MARLLIB_ADDTAG_BAD_NAME);
    EXPECT_EQ(doc.CollectionCount(), 2);
    const int32_t c = Add(doc, -1, "c", false);
    EXPECT_EQ(doc.GetCollection(c), 2);
    // A leaf refused for its name changes nothing.
    EXPECT_EQ(doc.AddTag(MARLLIB_ROOT, "", 0, true), MARLLIB_ADDTAG_BAD_NAME);
    EXPECT_EQ(doc.CollectionCount(), 3);
    EXPECT_EQ(doc.TagCount(), 1);
    // Tags can go into the unreferenced collection; they are counted but not under the root.
    const int32_t orphan = Add(doc, 0, "orphan", true);
    EXPECT_EQ(orphan, 1);
    EXPECT_EQ(Tags(doc, 0), std::vector<int32_t>{orphan});
    EXPECT_EQ(Tags(doc, -1), std::vector<int32_t>{c});
}

TEST(Document, GetCollectionResults) {
    Document doc;
    const int32_t leaf = Add(doc, -1, "l", true);
    Add(doc, -1, "c", false);
    EXPECT_EQ(doc.GetCollection(leaf), MARLLIB_GETCOLLECTION_LEAF);
    EXPECT_EQ(doc.GetCollection(-1), MARLLIB_GETCOLLECTION_NO_TAG);
    EXPECT_EQ(doc.GetCollection(doc.TagCount()), MARLLIB_GETCOLLECTION_NO_TAG);
    EXPECT_EQ(doc.GetCollection(1000), MARLLIB_GETCOLLECTION_NO_TAG);
}

TEST(Document, ValueOperationsCheckIndexThenKind) {
    Document doc;
    const int32_t leaf = Add(doc, -1, "l", true);
    const int32_t container = Add(doc, -1, "c", false);
    EXPECT_FALSE(doc.SetValue(-1, "x", 1));
    EXPECT_FALSE(doc.SetValue(2, "x", 1));
    EXPECT_FALSE(doc.SetValue(container, "x", 1));
    EXPECT_EQ(doc.GetValue(-1, nullptr, 0), MARLLIB_GETVALUE_NO_TAG);
    EXPECT_EQ(doc.GetValue(2, nullptr, 0), MARLLIB_GETVALUE_NO_TAG);
    EXPECT_EQ(doc.GetValue(container, nullptr, 0), MARLLIB_GETVALUE_CONTAINER);
    EXPECT_TRUE(doc.SetValue(leaf, "value", 5));
    char buffer[5];
    EXPECT_EQ(doc.GetValue(leaf, buffer, 5), 5);
    EXPECT_EQ(std::string(buffer, 5), "value");
    EXPECT_TRUE(doc.SetValue(leaf, "x", -2));
    EXPECT_EQ(doc.GetValue(leaf, buffer, 5), -2);
}

TEST(Document, NameOperationsCheckTheIndex) {
    Document doc;
    const int32_t tag = Add(doc, -1, "name", false);
    char buffer[64];
    EXPECT_EQ(doc.GetName(-1, buffer), MARLLIB_GETNAME_NO_TAG);
    EXPECT_EQ(doc.GetName(1, buffer), MARLLIB_GETNAME_NO_TAG);
    EXPECT_FALSE(doc.SetName(1, "x", 1));
    EXPECT_FALSE(doc.SetName(tag, nullptr, 1));
    EXPECT_TRUE(doc.SetName(tag, "other", 5));  // containers can be renamed too
    EXPECT_EQ(doc.GetName(tag, buffer), 5);
    EXPECT_EQ(std::string(buffer, 5), "other");
}

TEST(Document, GetTagsChecksTheCollectionAndBoundsTheCopy) {
    Document doc;
    for (const char* name : {"a", "b", "c"}) Add(doc, -1, name, true);
    EXPECT_EQ(doc.GetTags(0, nullptr, 0), MARLLIB_GETTAGS_NO_COLLECTION);
    EXPECT_EQ(doc.GetTags(-2, nullptr, 0), MARLLIB_GETTAGS_BELOW_ROOT);
    int32_t out[5] = {-9, -9, -9, -9, -9};
    EXPECT_EQ(doc.GetTags(-1, out, 2), 3);
    EXPECT_EQ(std::vector<int32_t>(out, out + 5), (std::vector<int32_t>{0, 1, -9, -9, -9}));
    EXPECT_EQ(doc.GetTags(-1, out, 100), 3);  // a larger max copies only what is stored
    EXPECT_EQ(std::vector<int32_t>(out, out + 5), (std::vector<int32_t>{0, 1, 2, -9, -9}));
    EXPECT_EQ(doc.GetTags(-1, out, -1), 3);
}

// Searches by name walk a collection of fewer than Document::kIndexedFrom tags and go through
// a name index in a larger one: each case below runs on both, padded with other names.
class SearchByName : public ::testing::TestWithParam<int32_t> {
protected:
    static void Pad(Document& doc) {
        for (int32_t i = 0; i < GetParam(); ++i) Add(doc, -1, "pad" + std::to_string(i), true);
    }
};
INSTANTIATE_TEST_SUITE_P(WalkedAndIndexed, SearchByName,
                         ::testing::Values(0, Document::kIndexedFrom));

TEST_P(SearchByName, FindsDirectEntriesInCreationOrder) {
    Document doc;
    const int32_t first = Add(doc, -1, "user", true);
    const int32_t box = Add(doc, -1, "box", false);
    Add(doc, doc.GetCollection(box), "user", true);  // not a direct entry of the root
    const int32_t second = Add(doc, -1, "user", true);
    Add(doc, -1, "us", true);
    Pad(doc);

    int32_t out[8];
    EXPECT_EQ(doc.GetTagsByName(-1, "user", 4, out, 8), 2);
    EXPECT_EQ(out[0], first);
    EXPECT_EQ(out[1], second);
    EXPECT_EQ(doc.GetTagByName(-1, "user", 4), first);
    // A prefix of a name does not match.
    EXPECT_EQ(doc.GetTagByName(MARLLIB_ROOT, "u", 1), MARLLIB_GETTAGBYNAME_NOT_FOUND);
    EXPECT_EQ(doc.GetTagByName(-1, "us", 2), 4);
}

TEST_P(SearchByName, EdgeResults) {
    Document doc;
    Add(doc, -1, "x", true);
    Add(doc, -1, "x", true);
    Add(doc, -1, "x", true);
    const int32_t empty = doc.GetCollection(Add(doc, -1, "c", false));
    Pad(doc);
    int32_t out[8] = {-9, -9, -9, -9, -9, -9, -9, -9};
    EXPECT_EQ(doc.GetTagsByName(-1, "x", 1, nullptr, 8), 0);  // null out gives 0 even on matches
    EXPECT_EQ(doc.GetTagsByName(-1, "x", 1, out, 0), 0);
    EXPECT_EQ(doc.GetTagsByName(5, "x", 1, out, 8), 0);
    EXPECT_EQ(doc.GetTagsByName(-2, "x", 1, out, 8), 0);
    EXPECT_EQ(doc.GetTagsByName(empty, "x", 1, out, 8), 0);
    EXPECT_EQ(doc.GetTagsByName(-1, "x", 1, out, 2), 2);  // never writes past max
    EXPECT_EQ(out[2], -9);
    EXPECT_EQ(doc.GetTagsByName(-1, "x", 1, out, 1), 1);
    EXPECT_EQ(out[1], 1);  // as the search before left it
    EXPECT_EQ(doc.GetTagsByName(-1, nullptr, 1, out, 8), 0);
    EXPECT_EQ(doc.GetTagsByName(-1, "x", 0, out, 8), 0);
    EXPECT_EQ(doc.GetTagByName(5, "x", 1), MARLLIB_GETTAGBYNAME_NOT_FOUND);
    EXPECT_EQ(doc.GetTagByName(empty, "x", 1), MARLLIB_GETTAGBYNAME_NOT_FOUND);
    EXPECT_EQ(doc.GetTagByName(MARLLIB_ROOT, nullptr, 1), MARLLIB_GETTAGBYNAME_NOT_FOUND);
    EXPECT_EQ(doc.GetTagByName(MARLLIB_ROOT, "x", 0), MARLLIB_GETTAGBYNAME_NOT_FOUND);
    EXPECT_EQ(doc.GetTagByName(MARLLIB_ROOT, std::string(65, 'x').c_str(), 65),
              MARLLIB_GETTAGBYNAME_NOT_FOUND);
}

TEST_P(SearchByName, NamesWithZeroBytesMatchOnlyInFull) {
    Document doc;
    const std::string name("a\0b", 3);
    const int32_t tag = Add(doc, -1, name, true);
    Pad(doc);
    EXPECT_EQ(doc.GetTagByName(-1, name.data(), 3), tag);
    EXPECT_EQ(doc.GetTagByName(MARLLIB_ROOT, std::string("a\0c", 3).data(), 3),
              MARLLIB_GETTAGBYNAME_NOT_FOUND);
    // Names that a hash of fewer bytes, or one blind to the length, would take for one another.
    for (const std::string other : {"a", "ab", "ba", "abcdefgh1", "abcdefgh2"}) {
        Add(doc, -1, other, true);
        Add(doc, -1, other + '\0', true);
    }
    for (const std::string other : {"a", "ab", "ba", "abcdefgh1", "abcdefgh2"}) {
        const int32_t first = doc.GetTagByName(-1, other.data(), static_cast<int32_t>(other.size()));
        ASSERT_GE(first, 0);
        EXPECT_EQ(Name(doc, first), other);
        EXPECT_EQ(Name(doc, doc.GetTagByName(-1, (other + '\0').data(),
                                             static_cast<int32_t>(other.size()) + 1)),
                  other + '\0');
    }
}

// Every answer of both searches for name in collection, against the collection read through
// GetTags and GetName.
void ExpectSearchesAnswer(const Document& doc, int32_t collection, const std::string& name) {
    std::vector<int32_t> expected;
    for (const int32_t tag : Tags(doc, collection)) {
        if (Name(doc, tag) == name) expected.push_back(tag);
    }
    const auto length = static_cast<int32_t>(name.size());
    EXPECT_EQ(doc.GetTagByName(collection, name.data(), length),
              expected.empty() ? MARLLIB_GETTAGBYNAME_NOT_FOUND : expected[0]);
    for (const size_t max : {size_t{1}, size_t{2}, expected.size() + 1}) {
        std::vector<int32_t> out(max);
        out.resize(static_cast<size_t>(doc.GetTagsByName(collection, name.data(), length,
                                                         out.data(), static_cast<int32_t>(max))));
        const size_t wanted = std::min(max, expected.size());
        EXPECT_EQ(out, std::vector<int32_t>(expected.begin(), expected.begin() + wanted));
    }
}

// Adds (as AddTag and as the loader makes them), renames and searches in turn, in the root and
// nested collections, with names that many tags share and names of their own: each answer
// is the one the collection gives when read.
TEST(Document, SearchesFollowAddsAndRenames) {
    const std::string shared[] = {"k", "key", std::string("k\0", 2), "a longer shared name"};
    uint32_t state = 2024;
    const auto below = [&state](size_t count) {
        state = state * 1664525u + 1013904223u;
        return static_cast<size_t>(state >> 8) % count;
    };
    Document doc;
    std::vector<int32_t> collections = {MARLLIB_ROOT};
    std::vector<int32_t> containers = {-1};  // and the tags of the containers, when made
    for (int32_t step = 0; step < 6000 && !::testing::Test::HasFailure(); ++step) {
        const int32_t collection = collections[below(collections.size())];
        const std::string name =
            below(3) == 0 ? "own" + std::to_string(step) : shared[below(4)];
        const auto length = static_cast<int32_t>(name.size());
        switch (below(8)) {
            case 0: {
                const int32_t tag = Add(doc, collection, name, collections.size() >= 4);
                if (collections.size() < 4) {
                    collections.push_back(doc.GetCollection(tag));
                    containers.push_back(tag);
                }
                break;
            }
            case 1: Add(doc, collection, name, true); break;
            case 2:
                doc.AddLeafTo(*doc.MutableCollectionAt(collection), name.data(), length, "v", 1);
                break;
            case 3: {
                const size_t tags = static_cast<size_t>(doc.TagCount()) + 1;  // one too many
                const int32_t tag = below(2) == 0 ? containers[below(containers.size())]
                                                  : static_cast<int32_t>(below(tags));
                doc.SetName(tag, name.data(), length);
                break;
            }
            default: ExpectSearchesAnswer(doc, collection, name); break;
        }
    }
    for (const int32_t collection : collections) {
        for (const std::string& name : shared) ExpectSearchesAnswer(doc, collection, name);
    }
}

TEST(Document, LargeDocumentKeepsEveryIndex) {
    Document doc;
    int32_t parent = -1;
    for (int32_t i = 0; i < 20000; ++i) {
        const std::string name = "t" + std::to_string(i);
        const int32_t tag = Add(doc, parent, name, i % 100 != 0);
        ASSERT_EQ(tag, i);
        if (i % 100 == 0) parent = doc.GetCollection(tag);
    }
    EXPECT_EQ(doc.TagCount(), 20000);
    EXPECT_EQ(doc.CollectionCount(), 200);
    EXPECT_EQ(Tags(doc, 0).size(), 100u);  // tags 1..99 and container 100
    EXPECT_EQ(doc.GetTagByName(199, "t19999", 6), 19999);
}

}  // namespace

namespace {

// Loaded values live in the document's arena, behind their tags; values set afterwards come
// from the heap and replace them. Every mix must read back right and be released once (the
// sanitizer and valgrind runs check the release).
TEST(Document, LoadedAndSetValuesMix) {
    MarlClass::Document doc;
    const int32_t a = doc.AddLeaf(-1, "a", 1, "loaded", 6);
    const int32_t b = doc.AddLeaf(-1, "b", 1, "also", 4);
    const int32_t none = doc.AddLeaf(-1, "n", 1, nullptr, 3);
    const int32_t box = doc.AddTag(-1, "box", 3, false);
    char buffer[8];
    ASSERT_EQ(doc.GetValue(a, buffer, 8), 6);
    EXPECT_EQ(std::string(buffer, 6), "loaded");
    EXPECT_EQ(doc.GetValue(none, buffer, 8), 0);
    EXPECT_TRUE(doc.SetValue(a, "heap", 4));          // heap replaces arena
    EXPECT_TRUE(doc.SetValue(b, "heap-b", 6));
    EXPECT_TRUE(doc.SetValue(b, "again", 5));         // heap replaces heap
    EXPECT_TRUE(doc.SetValue(none, "new", 3));
    ASSERT_EQ(doc.GetValue(a, buffer, 8), 4);
    EXPECT_EQ(std::string(buffer, 4), "heap");
    ASSERT_EQ(doc.GetValue(b, buffer, 8), 5);
    EXPECT_EQ(std::string(buffer, 5), "again");
    // The value bytes behind a loaded tag do not disturb its name.
    char name[64];
    ASSERT_EQ(doc.GetName(a, name), 1);
    EXPECT_EQ(std::string(name, 64), "a" + std::string(63, '\0'));
    EXPECT_TRUE(doc.SetValue(b, nullptr, 3));
    EXPECT_EQ(doc.GetValue(b, buffer, 8), 0);
    // Names outgrowing their first room move to the heap as well.
    EXPECT_TRUE(doc.SetName(box, "a-much-longer-name", 18));
    EXPECT_TRUE(doc.SetName(box, "short", 5));
    EXPECT_EQ(doc.GetTagByName(-1, "short", 5), box);
}

}  // namespace
