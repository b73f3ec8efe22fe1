// Hostile input: text built to exhaust the stack, the memory or the patience of a reader.
// Each case is large enough that a recursive walk would overflow the stack and work quadratic
// in the input would not finish, and each must give its documented result.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "marlclass_document.h"
#include "marllib.h"
#include "marllib_load.h"
#include "marllib_reader.hpp"

namespace {

constexpr int32_t kMillion = 1000000;

class Hostile : public ::testing::Test {
protected:
    void SetUp() override { marllib_Close(); }
    void TearDown() override {
        marllib_Close();
        for (const std::string& path : files) std::remove(path.c_str());
    }

    // A file of its own in the test's temporary directory, removed after the test.
    std::string File(const std::string& bytes) {
        const std::string path = ::testing::TempDir() + "marllib_hostile_" +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                                 "_" + std::to_string(files.size()) + ".marl";
        files.push_back(path);
        FILE* const file = std::fopen(path.c_str(), "wb");
        EXPECT_NE(file, nullptr) << path;
        if (file != nullptr) {
            EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
            std::fclose(file);
        }
        return path;
    }

    // Prints document to a new file and returns its path; size receives the file's length.
    std::string PrintToFile(const MarlClass::Document& document, long& size) {
        const std::string path = File("");
        FILE* const file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            ADD_FAILURE() << path;
            return path;
        }
        document.Print(file);
        size = std::ftell(file);
        std::fclose(file);
        return path;
    }

    std::vector<std::string> files;
};

int32_t Load(const std::string& text) {
    return marllib_Load(text.data(), static_cast<int32_t>(text.size()));
}

std::string Repeat(const std::string& piece, int32_t times) {
    std::string text;
    text.reserve(piece.size() * static_cast<size_t>(times));
    for (int32_t i = 0; i < times; ++i) text += piece;
    return text;
}

int32_t TagCount(int32_t handle) {
    int32_t count = 0;
    char name[MARLLIB_NAME_MAX];
    while (marllib_GetName(handle, count, name) >= 0) ++count;
    return count;
}

std::string Value(int32_t handle, int32_t tag) {
    const int32_t length = marllib_GetValue(handle, tag, nullptr, 0);
    if (length <= 0) return {};
    std::string value(static_cast<size_t>(length), '\0');
    marllib_GetValue(handle, tag, &value[0], length);
    return value;
}

std::string Name(int32_t handle, int32_t tag) {
    char name[MARLLIB_NAME_MAX];
    const int32_t length = marllib_GetName(handle, tag, name);
    return length < 0 ? std::string() : std::string(name, static_cast<size_t>(length));
}

// The events of a parse, and the number of steps it took.
struct Counts {
    long leaves = 0, trees = 0, ends = 0, invalids = 0, steps = 0;
};

class Counter : public MarlParser::Handler {
public:
    void Leaf(const char*, int32_t, const char*, int32_t) override { ++counts.leaves; }
    void Tree(const char*, int32_t) override { ++counts.trees; }
    void End() override { ++counts.ends; }
    void Invalid() override { ++counts.invalids; }

    Counts counts;
};

Counts Events(const std::string& text) {
    Counter counter;
    const std::unique_ptr<MarlParser::Parser> parser(
        MarlParser::Parser::Create(&counter, text.data(), static_cast<int32_t>(text.size())));
    if (parser) {
        do ++counter.counts.steps;
        while (parser->Parse());
    }
    return counter.counts;
}

// Follows the only entry of each collection from the root down `depth` containers and
// returns the collection reached, or a negative number where the chain breaks.
int32_t Descend(int32_t handle, int32_t depth) {
    int32_t collection = MARLLIB_ROOT;
    for (int32_t level = 0; level < depth; ++level) {
        int32_t only = -1;
        if (marllib_GetTags(handle, collection, &only, 1) != 1) return -100 - level;
        collection = marllib_GetCollection(handle, only);
        if (collection < 0) return collection;
    }
    return collection;
}

TEST_F(Hostile, MillionNestedContainersLoadQueryAndPrintWithoutRecursion) {
    const std::string text =
        Repeat("<a>\n", kMillion) + "<z=\"deep\">\n" + Repeat("</>\n", kMillion);
    const int32_t handle = Load(text);
    ASSERT_GE(handle, 0);
    const int32_t deepest = Descend(handle, kMillion);
    ASSERT_EQ(deepest, kMillion - 1);
    const int32_t leaf = marllib_GetTagByName(handle, deepest, "z", 1);
    EXPECT_EQ(leaf, kMillion);
    EXPECT_EQ(Value(handle, leaf), "deep");
    EXPECT_EQ(marllib_GetTags(handle, MARLLIB_ROOT, nullptr, 0), 1);  // all closed again

    // Printed indentation stops growing after 64 levels, so the text stays linear in size:
    // each level's two lines, plus the leaf's line at the deepest level.
    long expected = 0;
    for (int32_t level = 0; level < kMillion; ++level) {
        expected += 2 * (2 * std::min(level, 64) + 4);
    }
    expected += 2 * 64 + 11;
    const auto document = MarlLib::LoadText(text.data(), static_cast<int32_t>(text.size()));
    long size = -1;
    const std::string printed = PrintToFile(*document, size);
    EXPECT_EQ(size, expected);

    // The printed text reads back into the same chain.
    const int32_t again = marllib_Load(printed.c_str(), 0);
    ASSERT_GE(again, 0);
    const int32_t deepestAgain = Descend(again, kMillion);
    ASSERT_EQ(deepestAgain, kMillion - 1);
    EXPECT_EQ(Value(again, marllib_GetTagByName(again, deepestAgain, "z", 1)), "deep");
    EXPECT_EQ(TagCount(again), kMillion + 1);
}

// Siblings opened and closed at a depth that is a power of two: each push and pop of the
// builder's stack there must cost O(1), not a copy of the whole stack (hours at this size).
TEST_F(Hostile, MillionSiblingsAtDepthTwoToTheTwentieth) {
    constexpr int32_t kDepth = 1 << 20;
    const int32_t handle = Load(Repeat("<a>\n", kDepth) + Repeat("<x>\n</>\n", kMillion));
    ASSERT_GE(handle, 0);
    const int32_t deepest = Descend(handle, kDepth);
    ASSERT_EQ(deepest, kDepth - 1);
    EXPECT_EQ(marllib_GetTags(handle, deepest, nullptr, 0), kMillion);
    EXPECT_EQ(marllib_GetCollection(handle, kDepth + kMillion - 1), kDepth + kMillion - 1);
    EXPECT_EQ(TagCount(handle), kDepth + kMillion);
}

TEST_F(Hostile, HundredMegabyteValueLoadsPrintsAndReadsBack) {
    // Every byte value, quote bytes included (written doubled in the text).
    std::string value(100u << 20, '\0');
    for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<char>(i * 131 % 251);
    std::string text = "<big=\"";
    text.reserve(value.size() + value.size() / 100 + 16);
    for (const char byte : value) {
        text += byte;
        if (byte == '"') text += '"';
    }
    text += "\">\n<after/>\n";

    const int32_t handle = Load(text);
    ASSERT_GE(handle, 0);
    EXPECT_EQ(marllib_GetValue(handle, 0, nullptr, 0), static_cast<int32_t>(value.size()));
    EXPECT_TRUE(Value(handle, 0) == value);
    EXPECT_EQ(Name(handle, 1), "after");

    // Printed and read back from a file, the value is the same.
    const auto document = MarlLib::LoadText(text.data(), static_cast<int32_t>(text.size()));
    long size = -1;
    const std::string printed = PrintToFile(*document, size);
    EXPECT_EQ(size, static_cast<long>(text.size()));  // the same text, byte for byte
    const int32_t again = marllib_Load(printed.c_str(), 0);
    ASSERT_GE(again, 0);
    EXPECT_TRUE(Value(again, 0) == value);
}

TEST_F(Hostile, MegabyteNameIsCutTo64Bytes) {
    // A raw name of 1 MiB, escapes included: "ab=" decoded, again and again.
    const std::string raw = Repeat("ab\x80" "1", 1 << 18);
    ASSERT_EQ(raw.size(), 1u << 20);
    const std::string decoded = Repeat("ab=", 22).substr(0, 64);

    const int32_t handle = Load("<" + raw + "=\"v\">\n<" + raw + ">\n<in/>\n</>\n<after/>\n");
    ASSERT_GE(handle, 0);
    EXPECT_EQ(Name(handle, 0), decoded);
    EXPECT_EQ(Value(handle, 0), "v");
    EXPECT_EQ(Name(handle, 1), decoded);
    EXPECT_EQ(marllib_GetTagByName(handle, marllib_GetCollection(handle, 1), "in", 2), 2);
    EXPECT_EQ(marllib_GetTagByName(handle, MARLLIB_ROOT, "after", 5), 3);
    EXPECT_EQ(marllib_GetTagsByName(handle, MARLLIB_ROOT, decoded.data(), 64, nullptr, 0), 0);
    int32_t found[2] = {-1, -1};
    EXPECT_EQ(marllib_GetTagsByName(handle, MARLLIB_ROOT, decoded.data(), 64, found, 2), 2);
    EXPECT_EQ(found[0], 0);
    EXPECT_EQ(found[1], 1);

    // A name that never ends reads nothing, however long.
    const int32_t unended = Load("<" + raw);
    EXPECT_EQ(TagCount(unended), 0);
}

TEST_F(Hostile, MillionClosingTagsWithNothingOpenAreIgnored) {
    const std::string closes = Repeat("</>", kMillion);
    const Counts events = Events(closes + "\n<a/>\n");
    EXPECT_EQ(events.ends, kMillion);
    EXPECT_EQ(events.leaves, 1);
    EXPECT_EQ(events.steps, kMillion + 2);  // one per tag, and the last that finds none

    // Only the first closes the container; the rest change nothing.
    const int32_t handle = Load("<r>\n" + closes + "\n<a/>\n");
    ASSERT_GE(handle, 0);
    EXPECT_EQ(TagCount(handle), 2);
    EXPECT_EQ(marllib_GetTags(handle, MARLLIB_ROOT, nullptr, 0), 2);
    EXPECT_EQ(marllib_GetTags(handle, 0, nullptr, 0), 0);
    EXPECT_EQ(marllib_GetTagByName(handle, MARLLIB_ROOT, "a", 1), 1);
}

TEST_F(Hostile, MillionMalformedTagsAreSkipped) {
    // Malformed tags after which reading goes on: a closing tag with a name, and a leaf
    // whose '/' is not followed by '>'.
    const std::string text = Repeat("</x><a/x", kMillion / 2) + "<ok=\"yes\">\n";
    const Counts events = Events(text);
    EXPECT_EQ(events.invalids, kMillion);
    EXPECT_EQ(events.leaves, 1);
    EXPECT_EQ(events.trees + events.ends, 0);

    const int32_t handle = Load(text);
    ASSERT_GE(handle, 0);
    EXPECT_EQ(TagCount(handle), 1);
    EXPECT_EQ(Name(handle, 0), "ok");
    EXPECT_EQ(Value(handle, 0), "yes");
}

TEST_F(Hostile, FileOfOpeningBracketsOnlyIsAnEmptyDocument) {
    const std::string text(10u << 20, '<');
    // The first '<' opens a name made of all the others, which nothing ends: one step, no event.
    const Counts events = Events(text);
    EXPECT_EQ(events.steps, 1);
    EXPECT_EQ(events.leaves + events.trees + events.ends + events.invalids, 0);

    const int32_t handle = marllib_Load(File(text).c_str(), 0);
    ASSERT_GE(handle, 0);
    EXPECT_EQ(TagCount(handle), 0);
    EXPECT_EQ(marllib_GetTags(handle, MARLLIB_ROOT, nullptr, 0), 0);
}

TEST_F(Hostile, ZeroBytesEverywhere) {
    // Only zero bytes: no '<', so nothing at all, from memory or from a file.
    const std::string zeros(10u << 20, '\0');
    EXPECT_EQ(TagCount(Load(zeros)), 0);
    const int32_t fromFile = marllib_Load(File(zeros).c_str(), 0);
    ASSERT_GE(fromFile, 0);
    EXPECT_EQ(TagCount(fromFile), 0);
    // The largest file a document can be read from, 2^31 - 1 zero bytes (sparse, so it takes
    // no room on disk), loads; one byte more is refused and takes no handle.
    const std::string largest = File("");
    ASSERT_TRUE(std::filesystem::exists(largest));
    std::filesystem::resize_file(largest, 2147483647u);
    const int32_t fromLargest = marllib_Load(largest.c_str(), 0);
    ASSERT_GE(fromLargest, 0);
    EXPECT_EQ(TagCount(fromLargest), 0);
    std::filesystem::resize_file(largest, 2147483648u);
    EXPECT_EQ(marllib_Load(largest.c_str(), 0), MARLLIB_LOAD_UNREADABLE);
    EXPECT_EQ(marllib_Create(), fromLargest + 1);

    // Zero bytes between the tags, in names and in values are ordinary bytes.
    const std::string gap(1u << 20, '\0');
    const std::string name("\0n\0", 3);
    const std::string value = gap + "v" + gap;
    const std::string text =
        gap + "<" + name + ">" + gap + "<" + name + "=\"" + value + "\">" + gap + "</>" + gap;
    const int32_t handle = Load(text);
    ASSERT_GE(handle, 0);
    EXPECT_EQ(TagCount(handle), 2);
    EXPECT_EQ(Name(handle, 0), name);
    EXPECT_EQ(marllib_GetTagByName(handle, MARLLIB_ROOT, name.data(), 3), 0);
    const int32_t inner = marllib_GetTagByName(handle, 0, name.data(), 3);
    EXPECT_EQ(inner, 1);
    EXPECT_TRUE(Value(handle, inner) == value);
    // Names that differ only after a shared zero byte are different names.
    EXPECT_EQ(marllib_GetTagByName(handle, 0, std::string("\0m\0", 3).data(), 3),
              MARLLIB_GETTAGBYNAME_NOT_FOUND);
}

// Searches by name go through each collection's name index, hashed under a key of the
// document's own: each costs O(1 + matches) whatever the collection holds, so the rows below,
// 2^20 searches of a collection of 2^20 tags, would take 2^40 steps if a search walked the
// collection or if the names met in a few slots of the index.
constexpr int32_t kTwoToTheTwentieth = 1 << 20;

std::string Hex(uint32_t number) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", number);
    return text;
}

TEST_F(Hostile, MillionTagsOfOneNameAndSearchesOfOthers) {
    const int32_t handle =
        Load(Repeat("<same/>\n", kTwoToTheTwentieth) + "<other/>\n<same/>\n");
    ASSERT_GE(handle, 0);
    int32_t found[4] = {};
    for (int32_t i = 0; i < kTwoToTheTwentieth; ++i) {
        const std::string absent = "sam" + std::to_string(i);
        ASSERT_EQ(marllib_GetTagByName(handle, MARLLIB_ROOT, absent.data(),
                                       static_cast<int32_t>(absent.size())),
                  MARLLIB_GETTAGBYNAME_NOT_FOUND);
        ASSERT_EQ(marllib_GetTagByName(handle, MARLLIB_ROOT, "other", 5), kTwoToTheTwentieth);
        ASSERT_EQ(marllib_GetTagsByName(handle, MARLLIB_ROOT, "same", 4, found, 4), 4);
        ASSERT_EQ(found[3], 3);
    }
}

TEST_F(Hostile, MillionDistinctNamesThatSimpleHashesConfuse) {
    const struct {
        const char* shape;
        std::string (*name)(uint32_t i);
    } shapes[] = {
        // A hash of the first bytes alone sees one name.
        {"56 bytes in common, then 8 of their own",
         [](uint32_t i) { return std::string(56, 'p') + Hex(i); }},
        // A sum or an exclusive or of the 8-byte words sees one name.
        {"two words whose exclusive or is the same",
         [](uint32_t i) { return Hex(i) + Hex(i ^ 0x5a5a5a5au); }},
        // A hash blind to the length sees one name in a few.
        {"the same bytes and a run of zero bytes",
         [](uint32_t i) { return Hex(i / 56) + std::string(1 + i % 56, '\0'); }},
    };
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.shape);
        std::string text;
        for (uint32_t i = 0; i < kTwoToTheTwentieth; ++i) text += "<" + shape.name(i) + "/>\n";
        const int32_t handle = Load(text);
        ASSERT_EQ(TagCount(handle), kTwoToTheTwentieth);
        for (uint32_t i = 0; i < kTwoToTheTwentieth; ++i) {
            const std::string name = shape.name(i);
            ASSERT_EQ(marllib_GetTagByName(handle, MARLLIB_ROOT, name.data(),
                                           static_cast<int32_t>(name.size())),
                      static_cast<int32_t>(i));
        }
        marllib_Close();
    }
}

// Adds and searches in turn: each add is indexed once, on the next search.
TEST_F(Hostile, MillionAddsEachFollowedBySearches) {
    const int32_t handle = marllib_Create();
    for (int32_t i = 0; i < kTwoToTheTwentieth; ++i) {
        const std::string name = "k" + std::to_string(i % 1000);
        const auto length = static_cast<int32_t>(name.size());
        ASSERT_EQ(marllib_AddTag(handle, MARLLIB_ROOT, name.data(), length, true), i);
        ASSERT_EQ(marllib_GetTagByName(handle, MARLLIB_ROOT, name.data(), length), i % 1000);
        int32_t found[2] = {};
        ASSERT_EQ(marllib_GetTagsByName(handle, MARLLIB_ROOT, name.data(), length, found, 2),
                  i < 1000 ? 1 : 2);
    }
}

}  // namespace
