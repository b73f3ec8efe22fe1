#include "marlclass_tag.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using MarlClass::Tag;

// Tags live in an arena and own nothing: longer names come from the arena, values set later
// from the heap blocks, and both go when these do.
DS::Arena arena;
DS::HeapBlocks heap;

Tag* Make(const std::string& name, bool leaf = true) {
    return Tag::Create(arena, name.data(), static_cast<int32_t>(name.size()), leaf, 9);
}

TEST(Tag, CreateRefusesNullAndNamesOutsideOneTo64Bytes) {
    const std::string long65(65, 'n');
    EXPECT_EQ(Tag::Create(arena, nullptr, 3, true, -1), nullptr);
    EXPECT_EQ(Tag::Create(arena, "abc", 0, true, -1), nullptr);
    EXPECT_EQ(Tag::Create(arena, "abc", -1, true, -1), nullptr);
    EXPECT_EQ(Tag::Create(arena, long65.data(), 65, true, -1), nullptr);
    EXPECT_NE(Make(std::string(64, 'n')), nullptr);
    EXPECT_NE(Make("a"), nullptr);
}

TEST(Tag, LeafGetsNoCollectionContainerKeepsItsOwn) {
    EXPECT_EQ(Make("a", true)->CollectionIndex(), -1);
    EXPECT_EQ(Make("a", false)->CollectionIndex(), 9);
}

TEST(Tag, NewNameFieldIsZeroedPastTheName) {
    const auto tag = Make("ab");
    char buffer[64];
    EXPECT_EQ(tag->GetName(buffer), 2);
    EXPECT_EQ(std::string(buffer, 2), "ab");
    for (int i = 2; i < 64; ++i) ASSERT_EQ(buffer[i], 0) << i;
}

TEST(Tag, NameFieldReadsLikeSixtyFourBytesThroughRenames) {
    // Each step renames the tag and gives what the 64-byte field must then hold. Names of up
    // to 8 bytes are kept inside the tag, longer ones outside: the steps cross that line.
    struct Step {
        std::string name;
        std::string field;  // the field's first bytes; the rest must be zero
    };
    const struct {
        std::string first;
        std::vector<Step> steps;
    } runs[] = {
        {"abc",
         {{"ab", "abc"},
          {"abcdefgh", "abcdefgh"},  // outgrows the bytes stored for the first name
          {"x", "xbcdefgh"},
          {"123456789", "123456789"},  // no longer fits inside the tag
          {std::string(64, 'z'), std::string(64, 'z')},
          {"q", "q" + std::string(63, 'z')}}},
        {"abcdefghijkl",
         {{"xy", "xycdefghijkl"},
          {"123456789012", "123456789012"},
          {"1234567890123", "1234567890123"}}},
    };
    for (const auto& run : runs) {
        const auto tag = Make(run.first);
        for (const Step& step : run.steps) {
            const auto length = static_cast<int32_t>(step.name.size());
            ASSERT_TRUE(tag->SetName(arena, step.name.data(), length));
            char field[64];
            std::memset(field, '?', sizeof field);
            EXPECT_EQ(tag->GetName(field), length);
            EXPECT_EQ(std::string(field, step.field.size()), step.field) << step.name;
            for (size_t i = step.field.size(); i < 64; ++i) ASSERT_EQ(field[i], 0) << step.name;
            EXPECT_TRUE(tag->NameEquals(step.name.data(), length));
        }
    }
}

TEST(Tag, RenameKeepsTheOldTailAndRefusalKeepsTheOldName) {
    const auto tag = Make("abcdef");
    ASSERT_TRUE(tag->SetName(arena, "xy", 2));
    char buffer[64];
    EXPECT_EQ(tag->GetName(buffer), 2);
    EXPECT_EQ(std::string(buffer, 6), "xycdef");
    EXPECT_FALSE(tag->SetName(arena, nullptr, 2));
    EXPECT_FALSE(tag->SetName(arena, "q", 0));
    EXPECT_FALSE(tag->SetName(arena, std::string(65, 'q').c_str(), 65));
    EXPECT_EQ(tag->GetName(buffer), 2);
    EXPECT_EQ(std::string(buffer, 2), "xy");
    EXPECT_TRUE(tag->SetName(arena, std::string(64, 'q').c_str(), 64));
    EXPECT_EQ(tag->GetName(nullptr), 64);
}

TEST(Tag, ValueRules) {
    struct Case {
        const char* bytes;
        int32_t length;
        int32_t storedLength;
        bool holdsBytes;
    };
    const Case cases[] = {
        {"hello", 5, 5, true},
        {nullptr, 5, 0, false},   // a null pointer counts as length 0
        {"hello", 0, 0, false},   // empty is the same as no value
        {"hello", -3, -3, false}, // a negative length is recorded but holds nothing
    };
    for (const Case& c : cases) {
        const auto tag = Make("v");
        ASSERT_TRUE(tag->SetValue(heap, "old", 3));
        EXPECT_TRUE(tag->SetValue(heap, c.bytes, c.length));
        EXPECT_EQ(tag->ValueLength(), c.storedLength);
        EXPECT_EQ(tag->Value() != nullptr, c.holdsBytes);
        char buffer[8] = "-------";
        EXPECT_EQ(tag->GetValue(buffer, 7), c.storedLength);
        if (!c.holdsBytes) {
            EXPECT_EQ(std::string(buffer), "-------");
        }
    }
}

TEST(Tag, GetValueCopiesAtMostTheStoredBytes) {
    const auto tag = Make("v");
    tag->SetValue(heap, "abc", 3);
    char buffer[8] = "-------";
    EXPECT_EQ(tag->GetValue(buffer, 7), 3);
    EXPECT_EQ(std::string(buffer), "abc----");
    EXPECT_EQ(tag->GetValue(buffer, 1), 3);
    EXPECT_EQ(tag->GetValue(nullptr, 3), 3);
    EXPECT_EQ(tag->GetValue(buffer, -1), 3);
}

TEST(Tag, ContainerTakesNoValue) {
    const auto tag = Make("c", false);
    EXPECT_FALSE(tag->SetValue(heap, "x", 1));
    EXPECT_EQ(tag->Value(), nullptr);
}

TEST(Tag, NameEqualsComparesEveryByte) {
    const std::string withZero("a\0b", 3);
    const auto tag = Make(withZero);
    EXPECT_TRUE(tag->NameEquals(withZero.data(), 3));
    EXPECT_FALSE(tag->NameEquals(std::string("a\0c", 3).data(), 3));
    EXPECT_FALSE(tag->NameEquals("a", 1));
    EXPECT_FALSE(tag->NameEquals(nullptr, 3));
    EXPECT_FALSE(Make("Ab")->NameEquals("ab", 2));
}

}  // namespace
