// MarlParser::EntityHandler: name escapes, the 64-byte cut, doubled quote bytes in values,
// and how every event reaches the target.
#include "marllib_reader.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "marllib_format.hpp"
#include "recording_handler.h"

namespace {

using namespace std::string_literals;
using marltest::RecordingHandler;
using marltest::Show;

const std::string kEsc = "\x80"s;

struct NameCase {
    const char* label;
    std::string raw;       // the raw name as the parser slices it out
    std::string stored;    // bytes that follow the raw name in memory, never to be read
    std::string decoded;
};

TEST(EntityHandler, DecodeNameDecodesEscapesAndCutsAt64Bytes) {
    const std::string n63(63, 'n');
    const std::string n64(64, 'n');
    const std::vector<NameCase> cases = {
        {"plain", "room", "", "room"},
        {"escape 1", "x" + kEsc + "1y", "", "x=y"},
        {"escape 2", "a" + kEsc + "2b", "", "a/b"},
        {"escape 3", kEsc + "3", "", ">"},
        {"escaped escape", kEsc + kEsc, "", kEsc},
        {"other byte after escape", "a" + kEsc + "z", "", "az"},
        {"escape before a zero byte", kEsc + "\0"s, "", "\0"s},
        {"escape before a quote", kEsc + "\"", "", "\""},
        {"only a lone escape", kEsc, "1", kEsc},
        {"lone escape at the end", "a" + kEsc, "1", "a" + kEsc},
        {"escape then escaped escape then lone", kEsc + kEsc + kEsc, "3", kEsc + kEsc},
        {"zero and line end bytes", "a\0b\r\n"s, "", "a\0b\r\n"s},
        {"70 plain bytes", std::string(70, 'n'), "", n64},
        {"64 plain bytes", n64, "", n64},
        {"64 plain then an escape pair", n64 + kEsc + "1", "", n64},
        {"63 plain then an escape pair", n63 + kEsc + "1", "", n63 + "="},
        {"63 plain then escaped escape", n63 + kEsc + kEsc + "zz", "", n63 + kEsc},
        {"63 plain then a lone escape", n63 + kEsc, "2", n63 + kEsc},
        {"70 escape pairs", [] {
             std::string s;
             for (int i = 0; i < 70; ++i) s += kEsc + "3";
             return s;
         }(), "", std::string(64, '>')},
        {"empty", "", "x", ""},
    };
    // The escape byte before each digit: '1', '2' and '3' stand for the bytes that end a
    // name, every other digit for itself.
    std::vector<NameCase> rows = cases;
    for (char digit = '0'; digit <= '9'; ++digit) {
        const std::string meant = digit == '1' ? "=" : digit == '2' ? "/" : digit == '3' ? ">"
                                                                             : std::string(1, digit);
        rows.push_back({"escape before a digit", "a" + kEsc + digit + "b", "", "a" + meant + "b"});
    }
    for (const NameCase& c : rows) {
        SCOPED_TRACE(c.label);
        const std::string memory = c.raw + c.stored;
        char out[80];
        std::memset(out, '#', sizeof out);
        const int32_t length =
            MarlFormat::DecodeName(out, memory.data(), static_cast<int32_t>(c.raw.size()));
        ASSERT_GE(length, 0);
        ASSERT_LE(length, 64);
        EXPECT_EQ(Show(out, length), Show(c.decoded));
        EXPECT_EQ(std::string(out + 64, 16), std::string(16, '#')) << "wrote past 64 bytes";
    }
}

struct ValueCase {
    const char* label;
    std::string raw;     // the raw value as handed to Leaf
    std::string stored;  // bytes that follow it in memory, never to be read
    std::string decoded;
};

TEST(EntityHandler, LeafCollapsesDoubledQuoteBytes) {
    const std::vector<ValueCase> cases = {
        {"no quote", "8080", "", "8080"},
        {"one pair", "x\"\"y", "", "x\"y"},
        {"only a pair", "\"\"", "", "\""},
        {"two pairs", "\"\"\"\"", "", "\"\""},
        {"three pairs", "\"\"\"\"\"\"", "", "\"\"\""},
        {"pairs at both ends", "\"\"Hall \"\"B\"\"", "", "\"Hall \"B\""},
        {"special bytes stand for themselves", "<b/>\n=\0>"s, "", "<b/>\n=\0>"s},
        {"lone quote at the end is kept", "ab\"", "Z", "ab\""},
        {"lone quote alone is kept", "\"", "Z", "\""},
        {"pair then lone quote", "a\"\"\"", "Z", "a\"\""},
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.label);
        RecordingHandler target;
        MarlParser::EntityHandler entity(&target);
        const std::string memory = c.raw + c.stored;
        entity.Leaf("v", 1, memory.data(), static_cast<int32_t>(c.raw.size()));
        ASSERT_EQ(target.events.size(), 1u);
        EXPECT_EQ(target.events[0].text, "Leaf(v)[" + Show(c.decoded) + "]");
        EXPECT_EQ(target.events[0].valueLength, static_cast<int32_t>(c.decoded.size()));
    }
}

TEST(EntityHandler, ValuesWithoutQuoteBytesArriveInPlaceOthersAsACopy) {
    RecordingHandler target;
    MarlParser::EntityHandler entity(&target);
    const std::string plain = "a<b>c";
    const std::string quoted = "a\"\"c";
    entity.Leaf("v", 1, plain.data(), 5);
    entity.Leaf("v", 1, quoted.data(), 4);
    ASSERT_EQ(target.events.size(), 2u);
    EXPECT_EQ(target.events[0].value, plain.data());
    EXPECT_EQ(target.events[0].valueLength, 5);
    // The collapsed copy lies outside the input, and the input keeps its doubled quotes.
    const char* copy = target.events[1].value;
    EXPECT_TRUE(copy < quoted.data() || copy >= quoted.data() + quoted.size());
    EXPECT_EQ(target.events[1].text, "Leaf(v)[a\"c]");
    EXPECT_EQ(quoted, "a\"\"c");
}

TEST(EntityHandler, EmptyAndAbsentValuesArriveAsNonNullPointerWithLengthZero) {
    RecordingHandler target;
    MarlParser::EntityHandler entity(&target);
    const char text[] = "xyz";
    entity.Leaf("a", 1, nullptr, 0);   // <a/>
    entity.Leaf("b", 1, text, 0);      // <b="">
    entity.Leaf("c", 1, nullptr, 5);   // a null pointer never carries bytes
    entity.Leaf("d", 1, text, -2);     // nor does a negative length
    EXPECT_EQ(target.Take(), "Leaf(a) Leaf(b) Leaf(c) Leaf(d)");
}

TEST(EntityHandler, ForwardsEveryEventOnceAndInOrder) {
    RecordingHandler target;
    MarlParser::EntityHandler entity(&target);
    MarlParser::Handler& handler = entity;  // used the way the parser uses it
    handler.Invalid();
    handler.Tree(("r" + kEsc + "3").data(), 3);
    handler.End();
    handler.End();
    handler.Leaf(("k" + kEsc + "1").data(), 3, "v\"\"", 3);
    handler.Invalid();
    handler.Tree("x", 1);
    EXPECT_EQ(target.Take(), "Invalid Tree(r>) End End Leaf(k=)[v\"] Invalid Tree(x)");
}

TEST(EntityHandler, DestroyingItLeavesTheTargetAlone) {
    bool destroyed = false;
    {
        RecordingHandler target(&destroyed);
        std::unique_ptr<MarlParser::Handler> entity(new MarlParser::EntityHandler(&target));
        entity->End();
        entity.reset();
        EXPECT_FALSE(destroyed);
        EXPECT_EQ(target.Take(), "End");
    }
    EXPECT_TRUE(destroyed);
}

}  // namespace
