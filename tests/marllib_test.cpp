// The exported functions: the registry's handles and the answers to invalid handles.
#include "marllib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class Exports : public ::testing::Test {
protected:
    void SetUp() override { marllib_Close(); }
    void TearDown() override { marllib_Close(); }
};

// Calls every forwarding export with the handle and checks the invalid-handle answer.
void ExpectInvalid(int32_t handle) {
    char buffer[64];
    int32_t out[4];
    SCOPED_TRACE(handle);
    EXPECT_EQ(marllib_GetCollection(handle, 0), MARLLIB_INVALID_HANDLE);
    EXPECT_FALSE(marllib_SetValue(handle, 0, "v", 1));
    EXPECT_EQ(marllib_GetValue(handle, 0, buffer, 1), MARLLIB_INVALID_HANDLE);
    EXPECT_FALSE(marllib_SetName(handle, 0, "n", 1));
    EXPECT_EQ(marllib_GetName(handle, 0, buffer), MARLLIB_INVALID_HANDLE);
    EXPECT_EQ(marllib_AddTag(handle, MARLLIB_ROOT, "n", 1, true), MARLLIB_INVALID_HANDLE);
    EXPECT_EQ(marllib_GetTags(handle, MARLLIB_ROOT, out, 4), MARLLIB_INVALID_HANDLE);
    EXPECT_EQ(marllib_GetTagsByName(handle, MARLLIB_ROOT, "n", 1, out, 4),
              MARLLIB_INVALID_HANDLE);
    EXPECT_EQ(marllib_GetTagByName(handle, MARLLIB_ROOT, "n", 1), MARLLIB_INVALID_HANDLE);
}

TEST_F(Exports, EveryHandleIsInvalidBeforeTheFirstDocument) {
    for (int32_t handle : {0, 1, -1, INT32_MIN, INT32_MAX}) ExpectInvalid(handle);
}

TEST_F(Exports, HandlesCountFromZeroAndRestartAfterClose) {
    EXPECT_EQ(marllib_Create(), 0);
    EXPECT_EQ(marllib_Create(), 1);
    EXPECT_EQ(marllib_AddTag(1, -1, "x", 1, true), 0);
    ExpectInvalid(2);  // equal to the number of documents
    ExpectInvalid(-1);
    marllib_Close();
    ExpectInvalid(0);
    ExpectInvalid(1);
    marllib_Close();  // closing an empty registry is harmless
    EXPECT_EQ(marllib_Create(), 0);
    EXPECT_EQ(marllib_GetTags(0, -1, nullptr, 0), 0);  // a new, empty document
}

TEST_F(Exports, InvalidHandleChangesNoDocument) {
    const int32_t doc = marllib_Create();
    const int32_t tag = marllib_AddTag(doc, -1, "keep", 4, true);
    marllib_SetValue(doc, tag, "v", 1);
    ExpectInvalid(doc + 1);
    char name[64];
    EXPECT_EQ(marllib_GetName(doc, tag, name), 4);
    EXPECT_EQ(std::string(name, 4), "keep");
    EXPECT_EQ(marllib_GetValue(doc, tag, nullptr, 0), 1);
    EXPECT_EQ(marllib_GetTags(doc, -1, nullptr, 0), 1);
}

TEST_F(Exports, DocumentsAreIndependent) {
    const int32_t a = marllib_Create();
    const int32_t b = marllib_Create();
    EXPECT_EQ(marllib_AddTag(a, -1, "only-in-a", 9, false), 0);
    EXPECT_EQ(marllib_GetTags(b, -1, nullptr, 0), 0);
    // b has no collection 0.
    EXPECT_EQ(marllib_AddTag(b, 0, "x", 1, true), MARLLIB_ADDTAG_NO_COLLECTION);
    EXPECT_EQ(marllib_AddTag(a, 0, "x", 1, true), 1);
}

TEST_F(Exports, ForwardsResultsUnchanged) {
    const int32_t doc = marllib_Create();
    const int32_t box = marllib_AddTag(doc, -1, "box", 3, false);
    const int32_t items = marllib_GetCollection(doc, box);
    const int32_t leaf = marllib_AddTag(doc, items, "item", 4, true);
    EXPECT_EQ(marllib_AddTag(doc, -2, "x", 1, true), MARLLIB_ADDTAG_BELOW_ROOT);
    EXPECT_EQ(marllib_AddTag(doc, MARLLIB_ROOT, "x", 0, true), MARLLIB_ADDTAG_BAD_NAME);
    EXPECT_EQ(marllib_GetCollection(doc, leaf), MARLLIB_GETCOLLECTION_LEAF);
    EXPECT_EQ(marllib_GetValue(doc, box, nullptr, 0), MARLLIB_GETVALUE_CONTAINER);
    EXPECT_TRUE(marllib_SetValue(doc, leaf, "abc", 3));
    char value[3];
    EXPECT_EQ(marllib_GetValue(doc, leaf, value, 3), 3);
    EXPECT_EQ(std::memcmp(value, "abc", 3), 0);
    int32_t out[2];
    EXPECT_EQ(marllib_GetTagsByName(doc, items, "item", 4, out, 2), 1);
    EXPECT_EQ(out[0], leaf);
    EXPECT_EQ(marllib_GetTagByName(doc, -1, "box", 3), box);
    // The setters' true is exactly 1 as a number.
    EXPECT_EQ(static_cast<int>(marllib_SetName(doc, leaf, "renamed", 7)), 1);
}

}  // namespace
