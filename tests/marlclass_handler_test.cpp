// MarlClass::Handler, the document builder, driven directly with events.
#include "marlclass_handler.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "marlclass_document.h"
#include "recording_handler.h"

namespace {

using marltest::Show;

// The tree under a collection as text: a leaf is NAME or NAME="VALUE", a container is
// NAME[...] with its contents; siblings are separated by spaces.
std::string Dump(const MarlClass::Document& doc, int32_t collection = MARLLIB_ROOT) {
    std::vector<int32_t> tags(static_cast<size_t>(doc.GetTags(collection, nullptr, 0)));
    doc.GetTags(collection, tags.data(), static_cast<int32_t>(tags.size()));
    std::string out;
    for (int32_t index : tags) {
        const MarlClass::Tag* tag = doc.TagAt(index);
        if (!out.empty()) out += ' ';
        out += Show(tag->Name(), tag->NameLength());
        if (!tag->IsLeaf()) {
            out += "[" + Dump(doc, tag->CollectionIndex()) + "]";
        } else if (tag->ValueLength() > 0) {
            out += "=\"" + Show(tag->Value(), tag->ValueLength()) + "\"";
        }
    }
    return out;
}

// Collections that no container refers to; each must also be empty.
int32_t Unreferenced(const MarlClass::Document& doc) {
    std::set<int32_t> referenced;
    for (int32_t i = 0; i < doc.TagCount(); ++i) {
        if (!doc.TagAt(i)->IsLeaf()) referenced.insert(doc.TagAt(i)->CollectionIndex());
    }
    int32_t count = 0;
    for (int32_t c = 0; c < doc.CollectionCount(); ++c) {
        if (referenced.count(c) != 0) continue;
        ++count;
        EXPECT_EQ(doc.GetTags(c, nullptr, 0), 0) << "unreferenced collection " << c;
    }
    return count;
}

struct Ev {
    char kind;  // 'T' Tree, 'L' Leaf, 'E' End, 'I' Invalid
    std::string name;
    std::string value;
};
Ev T(std::string name) { return {'T', std::move(name), {}}; }
Ev L(std::string name, std::string value = {}) { return {'L', std::move(name), std::move(value)}; }
const Ev E{'E', {}, {}};
const Ev I{'I', {}, {}};

void Send(MarlClass::Handler& builder, const std::vector<Ev>& events) {
    for (const Ev& ev : events) {
        const auto nameLength = static_cast<int32_t>(ev.name.size());
        switch (ev.kind) {
            case 'T': builder.Tree(ev.name.data(), nameLength); break;
            case 'L':
                builder.Leaf(ev.name.data(), nameLength, ev.value.data(),
                             static_cast<int32_t>(ev.value.size()));
                break;
            case 'E': builder.End(); break;
            default: builder.Invalid(); break;
        }
    }
}

TEST(Builder, NestsContainersAndClimbsBackOnEnd) {
    MarlClass::Document doc;
    {
        MarlClass::Handler builder(&doc);
        Send(builder, {T("a"), T("b"), L("x")});
        EXPECT_EQ(builder.Depth(), 2);
        EXPECT_EQ(builder.Current(), 1);
        Send(builder, {E, L("y")});
        EXPECT_EQ(builder.Depth(), 1);
        EXPECT_EQ(builder.Current(), 0);
        Send(builder, {E, L("z")});
        EXPECT_EQ(builder.Depth(), 0);
        EXPECT_EQ(builder.Current(), MARLLIB_ROOT);
    }
    // The builder is gone; the document is the caller's and intact.
    EXPECT_EQ(Dump(doc), "a[b[x] y] z");
    int32_t tags[8];
    ASSERT_EQ(doc.GetTags(MARLLIB_ROOT, tags, 8), 2);
    EXPECT_EQ(tags[0], 0);  // a
    EXPECT_EQ(tags[1], 4);  // z
    ASSERT_EQ(doc.GetTags(0, tags, 8), 2);
    EXPECT_EQ(tags[0], 1);  // b
    EXPECT_EQ(tags[1], 3);  // y
    ASSERT_EQ(doc.GetTags(1, tags, 8), 1);
    EXPECT_EQ(tags[0], 2);  // x
    EXPECT_EQ(doc.GetCollection(0), 0);
    EXPECT_EQ(doc.GetCollection(1), 1);
    EXPECT_EQ(doc.CollectionCount(), 2);
}

TEST(Builder, LeafKeepsACopyOfExactlyItsValueBytes) {
    MarlClass::Document doc;
    MarlClass::Handler builder(&doc);
    char value[] = {'o', 'n', '\0', 'e', 'X', 'X'};
    builder.Leaf("v", 1, value, 4);
    builder.Leaf("empty", 5, value, 0);
    builder.Leaf("negative", 8, value, -1);
    value[0] = 'Z';  // the leaf holds its own copy
    EXPECT_EQ(Dump(doc), "v=\"on\\x00e\" empty negative");
    EXPECT_EQ(doc.TagAt(1)->Value(), nullptr);
    EXPECT_EQ(doc.TagAt(1)->ValueLength(), 0);
    EXPECT_EQ(doc.TagAt(2)->Value(), nullptr);
    EXPECT_EQ(doc.TagAt(2)->ValueLength(), 0);
}

TEST(Builder, SurplusEndIsIgnored) {
    MarlClass::Document doc;
    MarlClass::Handler builder(&doc);
    Send(builder, {E, L("first"), T("a"), E, E, E, L("second")});
    EXPECT_EQ(builder.Depth(), 0);
    EXPECT_EQ(builder.Current(), MARLLIB_ROOT);
    Send(builder, {T("b"), L("inside"), E, E, L("third")});
    EXPECT_EQ(Dump(doc), "first a[] second b[inside] third");
}

TEST(Builder, InvalidChangesNothing) {
    MarlClass::Document doc;
    MarlClass::Handler builder(&doc);
    Send(builder, {T("a"), L("x"), I, L("y"), I, I, E, I, L("z")});
    EXPECT_EQ(Dump(doc), "a[x y] z");
    EXPECT_EQ(doc.TagCount(), 4);
}

TEST(Builder, UnclosedContainersKeepWhatWasBuilt) {
    MarlClass::Document doc;
    MarlClass::Handler builder(&doc);
    Send(builder, {T("a"), L("x", "1"), T("b"), L("y")});
    EXPECT_EQ(Dump(doc), "a[x=\"1\" b[y]]");
    EXPECT_EQ(builder.Depth(), 2);
    EXPECT_EQ(builder.Current(), 1);
}

TEST(Builder, SiblingsWithTheSameNameAreAllAdded) {
    MarlClass::Document doc;
    MarlClass::Handler builder(&doc);
    Send(builder, {L("k", "1"), L("k", "2"), T("k"), E, T("k"), L("k"), E});
    EXPECT_EQ(Dump(doc), "k=\"1\" k=\"2\" k[] k[k]");
    EXPECT_EQ(doc.TagCount(), 5);
}

struct FailureRow {
    const char* label;
    std::vector<Ev> events;
    std::string tree;
    int32_t unreferenced;  // collections left behind by containers refused for their names
};

TEST(Builder, AFailedContainerDropsItsWholeContentAndStaysInStep) {
    const std::string n65(65, 'n');
    const std::vector<FailureRow> rows = {
        {"empty name, no container two levels deep",
         {T("a"), T(""), T("b"), L("x"), E, E, L("y"), E, L("z")},
         "a[y] z",
         1},
        {"empty name with a container two levels deep",
         {T("a"), T(""), T("b"), T("c"), L("x"), E, E, E, L("y"), E, L("z")},
         "a[y] z",
         1},
        {"65-byte name at the top level",
         {T(n65), L("x"), T("b"), L("w"), E, E, L("y")},
         "y",
         1},
        {"deep failed region with sibling containers",
         {T(""), T("b"), T("c"), T("d"), L("x"), E, E, T("e"), L("q"), E, E, L("w"), E,
          L("y")},
         "y",
         1},
        {"failed container deep inside good ones",
         {T("a"), T("b"), T(""), L("x"), T("c"), E, E, L("y"), E, L("z"), E, L("w")},
         "a[b[y] z] w",
         1},
        {"failed containers one after another",
         {T("a"), T(""), E, T(n65), L("x"), E, L("y"), E},
         "a[y]",
         2},
        {"Invalid and surplus events inside a failed region",
         {T("a"), T(""), I, L("x"), I, E, L("y"), E, E, L("z")},
         "a[y] z",
         1},
        {"leaves with bad names add nothing",
         {T("a"), L(""), L(n65, "v"), L("x"), E, L("y")},
         "a[x] y",
         0},
    };
    for (const FailureRow& row : rows) {
        SCOPED_TRACE(row.label);
        MarlClass::Document doc;
        MarlClass::Handler builder(&doc);
        Send(builder, row.events);
        EXPECT_EQ(Dump(doc), row.tree);
        EXPECT_EQ(Unreferenced(doc), row.unreferenced);
        EXPECT_EQ(builder.Depth(), 0);
        EXPECT_EQ(builder.Current(), MARLLIB_ROOT);
    }
}

TEST(Builder, OpenFailedContainerAtTheEndLeavesTheEnclosingCollectionCurrent) {
    MarlClass::Document doc;
    MarlClass::Handler builder(&doc);
    Send(builder, {T("a"), L("x"), T(""), T("b"), L("y")});
    EXPECT_EQ(Dump(doc), "a[x]");
    Send(builder, {E, E, L("z")});  // closes b and the failed container
    EXPECT_EQ(Dump(doc), "a[x z]");
    EXPECT_EQ(builder.Depth(), 1);
    EXPECT_EQ(builder.Current(), 0);
}

}  // namespace
