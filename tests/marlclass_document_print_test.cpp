// Printing documents as Marl text, and reading the printed text back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "marlclass_document.h"
#include "marllib.hpp"
#include "marllib_load.h"

namespace {

using MarlClass::Document;

std::string Printed(const Document& doc, int32_t tag = -2) {
    FILE* const stream = std::tmpfile();
    if (stream == nullptr) {
        ADD_FAILURE() << "no temporary file";
        return {};
    }
    if (tag == -2) {
        doc.Print(stream);
    } else {
        doc.PrintTag(stream, tag);
    }
    std::string text(static_cast<size_t>(std::ftell(stream)), '\0');
    std::rewind(stream);
    const size_t read = std::fread(&text[0], 1, text.size(), stream);
    std::fclose(stream);
    text.resize(read);
    return text;
}

template <typename Built>
int32_t Add(Built& doc, int32_t collection, const std::string& name, bool leaf) {
    return doc.AddTag(collection, name.data(), static_cast<int32_t>(name.size()), leaf);
}

int32_t AddLeaf(Document& doc, int32_t collection, const std::string& name,
                const std::string& value) {
    const int32_t tag = Add(doc, collection, name, true);
    doc.SetValue(tag, value.data(), static_cast<int32_t>(value.size()));
    return tag;
}

TEST(Print, EmptyDocumentWritesNothing) {
    Document doc;
    EXPECT_EQ(Printed(doc), "");
}

TEST(Print, TemplatesAndIndentation) {
    Document doc;
    const int32_t a = doc.GetCollection(Add(doc, -1, "a", false));
    AddLeaf(doc, a, "b", "x");
    Add(doc, a, "c", true);
    Add(doc, -1, "d", true);
    Add(doc, -1, "empty", false);
    EXPECT_EQ(Printed(doc), "<a>\n  <b=\"x\">\n  <c/>\n</>\n<d/>\n<empty>\n</>\n");
}

TEST(Print, NestingIndentsTwoSpacesPerLevel) {
    Document doc;
    int32_t collection = -1;
    for (const char* name : {"one", "two", "three"}) {
        collection = doc.GetCollection(Add(doc, collection, name, false));
    }
    Add(doc, collection, "leaf", true);
    EXPECT_EQ(Printed(doc),
              "<one>\n  <two>\n    <three>\n      <leaf/>\n    </>\n  </>\n</>\n");
}

TEST(Print, LeafWithoutValueBytesIsBare) {
    for (int32_t length : {0, -5}) {
        Document doc;
        const int32_t tag = Add(doc, -1, "v", true);
        doc.SetValue(tag, "abc", 3);
        doc.SetValue(tag, "abc", length);
        EXPECT_EQ(Printed(doc), "<v/>\n") << length;
    }
    Document doc;
    doc.SetValue(Add(doc, -1, "v", true), nullptr, 3);
    EXPECT_EQ(Printed(doc), "<v/>\n");
}

TEST(Print, EscapesNamesAndDoublesQuotesAndWritesZeroBytes) {
    Document doc;
    AddLeaf(doc, -1, std::string("a=b/c>d\x80" "e", 9), "say \"hi\"");
    AddLeaf(doc, -1, "/lead", std::string("x\0y", 3));
    AddLeaf(doc, -1, std::string("z\0", 2), "\"");
    static const char kExpected[] =
        "<a\x80" "1b\x80" "2c\x80" "3d\x80\x80" "e=\"say \"\"hi\"\"\">\n"
        "<\x80" "2lead=\"x\0y\">\n"
        "<z\0=\"\"\"\">\n";
    EXPECT_EQ(Printed(doc), std::string(kExpected, sizeof kExpected - 1));
}

TEST(Print, PrintTagWritesOneSubtreeFromNoIndentation) {
    Document doc;
    const int32_t outer = Add(doc, -1, "outer", false);
    const int32_t inner = Add(doc, doc.GetCollection(outer), "inner", false);
    const int32_t leaf = AddLeaf(doc, doc.GetCollection(inner), "k", "v");
    EXPECT_EQ(Printed(doc, inner), "<inner>\n  <k=\"v\">\n</>\n");
    EXPECT_EQ(Printed(doc, leaf), "<k=\"v\">\n");
    EXPECT_EQ(Printed(doc, 99), "");
}

// Printed text is gathered and written in large pieces: values shorter than, as long as and
// longer than a piece, and lines that straddle the pieces' bounds, must all come out whole and
// in order.
TEST(Print, LongTextComesOutWholeAndInOrder) {
    Document doc;
    std::string expected;
    const size_t sizes[] = {1, 100, 16383, 16384, 16385, 40000, 3, 70000, 5};
    for (int round = 0; round < 40; ++round) {
        for (const size_t size : sizes) {
            const std::string name = "n" + std::to_string(round);
            const std::string value(size, static_cast<char>('a' + round % 26));
            const int32_t box = doc.GetCollection(Add(doc, -1, name, false));
            AddLeaf(doc, box, "v", value);
            Add(doc, box, "e", true);
            expected += "<" + name + ">\n  <v=\"" + value + "\">\n  <e/>\n</>\n";
        }
    }
    const std::string printed = Printed(doc);
    ASSERT_EQ(printed.size(), expected.size());
    const auto differ = std::mismatch(printed.begin(), printed.end(), expected.begin());
    EXPECT_EQ(differ.first, printed.end())
        << "first difference at byte " << (differ.first - printed.begin()) << ": "
        << printed.substr(static_cast<size_t>(differ.first - printed.begin()), 40);
}

// ---- Round trip: any document prints to text that loads back into the same tree ----

class RandomDocument {
public:
    explicit RandomDocument(uint32_t seed) : random(seed) {}

    // Builds into anything with the document's AddTag, GetCollection and SetValue.
    template <typename Built>
    void Fill(Built& doc) {
        // Collections that are still open for additions, innermost last.
        std::vector<int32_t> open{-1};
        const int tags = Below(40);
        for (int i = 0; i < tags; ++i) {
            const int32_t collection = open[static_cast<size_t>(Below(static_cast<int>(open.size())))];
            const std::string name = Bytes(1 + Below(64));
            if (Below(4) == 0 && open.size() < 8) {
                open.push_back(doc.GetCollection(Add(doc, collection, name, false)));
            } else {
                const int32_t tag = Add(doc, collection, name, true);
                if (Below(5) != 0) {
                    const std::string value = Bytes(Below(3) == 0 ? Below(200) : Below(8));
                    doc.SetValue(tag, value.data(), static_cast<int32_t>(value.size()));
                }
            }
        }
    }

private:
    int Below(int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); }

    // Bytes that favour the ones with a meaning in the text.
    std::string Bytes(int length) {
        static const char kSpecial[] = {'<', '>', '/', '=', '"', '\n', '\r', '\0', '\x80', ' ', '1'};
        std::string bytes;
        for (int i = 0; i < length; ++i) {
            bytes += Below(2) == 0 ? kSpecial[Below(sizeof kSpecial)] : static_cast<char>(Below(256));
        }
        return bytes;
    }

    std::mt19937 random;
};

// Compares the trees under two collections: names, kinds, values and order.
void ExpectSameTree(const Document& a, int32_t ca, const Document& b, int32_t cb,
                    const std::string& where) {
    const MarlClass::Collection& la = *a.CollectionAt(ca);
    const MarlClass::Collection& lb = *b.CollectionAt(cb);
    ASSERT_EQ(la.Count(), lb.Count()) << where;
    for (int32_t i = 0; i < la.Count(); ++i) {
        const MarlClass::Tag& ta = *a.TagAt(la.Items()[i]);
        const MarlClass::Tag& tb = *b.TagAt(lb.Items()[i]);
        const std::string at = where + "/" + std::to_string(i);
        ASSERT_EQ(std::string(ta.Name(), static_cast<size_t>(ta.NameLength())),
                  std::string(tb.Name(), static_cast<size_t>(tb.NameLength()))) << at;
        ASSERT_EQ(ta.IsLeaf(), tb.IsLeaf()) << at;
        if (ta.IsLeaf()) {
            const auto value = [](const MarlClass::Tag& tag) {
                return tag.Value() ? std::string(tag.Value(), static_cast<size_t>(tag.ValueLength()))
                                   : std::string();
            };
            ASSERT_EQ(value(ta), value(tb)) << at;
        } else {
            ExpectSameTree(a, ta.CollectionIndex(), b, tb.CollectionIndex(), at);
        }
    }
}

// The same building operations on a document registered through the exported functions.
struct Registered {
    int32_t handle = marllib_Create();
    int32_t AddTag(int32_t collection, const char* name, int32_t length, bool leaf) {
        return marllib_AddTag(handle, collection, name, length, leaf);
    }
    int32_t GetCollection(int32_t tag) { return marllib_GetCollection(handle, tag); }
    bool SetValue(int32_t tag, const char* value, int32_t length) {
        return marllib_SetValue(handle, tag, value, length);
    }
};

// Every random document prints to text that loads back into the same tree, and marllib.hpp's
// writer, which reaches the document only through the exported functions, writes that very
// text.
TEST(Print, EveryRandomDocumentReadsBackUnchanged) {
    for (uint32_t seed = 0; seed < 10000; ++seed) {
        Document original;
        RandomDocument(seed).Fill(original);
        const std::string text = Printed(original);
        const auto loaded = MarlLib::LoadText(text.data(), static_cast<int32_t>(text.size()));
        ExpectSameTree(original, -1, *loaded, -1, "seed " + std::to_string(seed));
        Registered registered;
        RandomDocument(seed).Fill(registered);
        ASSERT_EQ(marl::Document(registered.handle).to_string(), text) << "seed " << seed;
        marllib_Close();
        if (HasFatalFailure()) return;
    }
}

}  // namespace
