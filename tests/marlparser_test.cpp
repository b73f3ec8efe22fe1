// MarlParser::Parser: the events, positions and results of every step, malformed text
// included, and the diagnostics that the checker tool reads.
#include "marllib_reader.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "recording_handler.h"

namespace {

using namespace std::string_literals;
using MarlParser::Parser;
using MarlParser::Problem;
using marltest::RecordingHandler;
using marltest::Show;

// Bytes kept in memory right after every input and outside its length. A parser that read
// past the end would find here the '>' or quote that turns an unfinished tag into a good one.
const std::string kTrap = ">\">";

// Stands for the input's length in the tables below.
constexpr int32_t kEnd = -1;

const char* ProblemName(Problem problem) {
    switch (problem) {
        case Problem::None: return "None";
        case Problem::TagCutOff: return "TagCutOff";
        case Problem::BadClose: return "BadClose";
        case Problem::BadLeafEnd: return "BadLeafEnd";
        case Problem::ShortValue: return "ShortValue";
        case Problem::BadQuote: return "BadQuote";
        case Problem::UnclosedValue: return "UnclosedValue";
        case Problem::UnclosedName: return "UnclosedName";
    }
    return "?";
}

// One call of Parse: the events it raised, the position it left and its result.
struct Step {
    std::string events;
    int32_t position;
    bool more;
    Problem problem;
};

bool operator==(const Step& a, const Step& b) {
    return a.events == b.events && a.position == b.position && a.more == b.more &&
           a.problem == b.problem;
}

std::ostream& operator<<(std::ostream& out, const Step& step) {
    return out << "{\"" << step.events << "\", " << step.position << ", "
               << (step.more ? "true" : "false") << ", " << ProblemName(step.problem) << "}";
}

// Holds an input with kTrap after it, and a parser over the input alone.
class Session {
public:
    explicit Session(const std::string& input)
        : memory(input + kTrap),
          length(static_cast<int32_t>(input.size())),
          parser(Parser::Create(&handler, memory.data(), length)) {}

    // Steps until Parse returns false and returns every step.
    std::vector<Step> Steps() {
        std::vector<Step> steps;
        for (int guard = 0; guard < 100; ++guard) {
            const bool more = parser->Parse();
            steps.push_back({handler.Take(), parser->Position(), more, parser->LastProblem()});
            if (more) {
                EXPECT_LT(parser->Position(), length) << "true with no input left";
            } else {
                break;
            }
        }
        return steps;
    }

    std::string memory;
    int32_t length;
    RecordingHandler handler;
    std::unique_ptr<Parser> parser;
};

struct Row {
    const char* label;
    std::string input;
    std::vector<Step> steps;  // kEnd as a position stands for the input's length
};

void Check(const Row& row, bool padded = false) {
    SCOPED_TRACE(std::string(row.label) + (padded ? " (padded)" : "") + ": " + Show(row.input));
    Session run(row.input);
    ASSERT_NE(run.parser, nullptr);
    std::vector<Step> expected = row.steps;
    for (Step& step : expected) {
        if (step.position == kEnd) step.position = run.length;
    }
    EXPECT_EQ(run.Steps(), expected);
    if (run.parser->Position() == run.length) {
        // At the end a further call raises nothing and returns false.
        EXPECT_FALSE(run.parser->Parse());
        EXPECT_EQ(run.handler.Take(), "");
        EXPECT_EQ(run.parser->Position(), run.length);
    }
    // A step with room left behind it reads by a path of its own: plain text after a row that
    // reads cleanly to its end must change nothing before that end (unless a value too short
    // for the input's end would run on into it).
    const Step& last = row.steps.back();
    const bool shortValue = std::any_of(row.steps.begin(), row.steps.end(), [](const Step& step) {
        return step.problem == Problem::ShortValue;
    });
    if (!padded && !shortValue && last.events.empty() && last.position == kEnd &&
        last.problem == Problem::None) {
        Check({row.label, row.input + std::string(48, ' '), row.steps}, true);
    }
}

const Problem kOk = Problem::None;

TEST(Parser, EachConstructLeavesThePositionAndResultOfItsRow) {
    const std::vector<Row> rows = {
        {"no '<' at all", "just text > \" / =\n", {{"", kEnd, false, kOk}}},
        {"'<' with two bytes after it", "x<a>", {{"Invalid", kEnd, false, Problem::TagCutOff}}},
        {"'<' as the last byte", "abc<", {{"Invalid", kEnd, false, Problem::TagCutOff}}},
        {"'</>' that ends the input",
         "<a/></>",
         {{"Leaf(a)", 3, true, kOk}, {"Invalid", kEnd, false, Problem::TagCutOff}}},
        {"'</>' then a line end", "</>\n", {{"End", 3, true, kOk}, {"", kEnd, false, kOk}}},
        {"two closing tags",
         "</>\n</>\n",
         {{"End", 3, true, kOk}, {"End", 7, true, kOk}, {"", kEnd, false, kOk}}},
        {"'</' and another byte",
         "</x>",
         {{"Invalid", 2, true, Problem::BadClose}, {"", kEnd, false, kOk}}},
        {"'</' and a tag",
         "</<b/>",
         {{"Invalid", 2, true, Problem::BadClose},
          {"Leaf(b)", 5, true, kOk},
          {"", kEnd, false, kOk}}},
        {"container", "<a>\n", {{"Tree(a)", 3, true, kOk}, {"", kEnd, false, kOk}}},
        {"leaf without value, whole input",
         "<a/>",
         {{"Leaf(a)", 3, true, kOk}, {"", kEnd, false, kOk}}},
        {"'/' after a name and another byte",
         "<ab/x>\n",
         {{"Invalid", 4, true, Problem::BadLeafEnd}, {"", kEnd, false, kOk}}},
        {"'/' after a name doubled",
         "<a//>\n<b/>",
         {{"Invalid", 3, true, Problem::BadLeafEnd},
          {"Leaf(b)", 9, true, kOk},
          {"", kEnd, false, kOk}}},
        {"'/' after a name as the last byte",
         "<abc/",
         {{"Invalid", kEnd, false, Problem::BadLeafEnd}}},
        {"name that runs to the end", "<abcdef", {{"", kEnd, false, Problem::UnclosedName}}},
        {"'<' inside a name that runs to the end",
         "<a <b",
         {{"", kEnd, false, Problem::UnclosedName}}},
        {"two bytes after '='",
         "<a=\">",
         {{"Invalid", 3, true, Problem::ShortValue}, {"", kEnd, false, kOk}}},
        {"'=' as the last byte", "<abc=", {{"Invalid", kEnd, false, Problem::ShortValue}}},
        {"short value goes on at the byte after '='",
         "<ab=<b",
         {{"Invalid", 4, true, Problem::ShortValue},
          {"Invalid", kEnd, false, Problem::TagCutOff}}},
        {"value opened by '<' swallows the tag after it",
         "<a=<b/>",
         {{"Invalid", kEnd, false, Problem::UnclosedValue}}},
        {"value", "<a=\"x\">\n", {{"Leaf(a)[x]", 7, true, kOk}, {"", kEnd, false, kOk}}},
        {"empty value ending the input", "<a=\"\">", {{"Leaf(a)", kEnd, false, kOk}}},
        {"doubled quote inside", "<a=\"x\"\"y\">", {{"Leaf(a)[x\"y]", kEnd, false, kOk}}},
        {"value of one quote byte", "<a=\"\"\"\">", {{"Leaf(a)[\"]", kEnd, false, kOk}}},
        {"opening byte not examined", "<a=?v\">", {{"Leaf(a)[v]", kEnd, false, kOk}}},
        {"opening byte is a quote pair's half", "<a=\"\"\"x\">",
         {{"Leaf(a)[\"x]", kEnd, false, kOk}}},
        {"special bytes inside a value",
         "<v=\"<b/>\n=\0\">"s,
         {{"Leaf(v)[<b/>\\x0A=\\x00]", kEnd, false, kOk}}},
        {"value swallows the tags up to its closing quote",
         "<a=\"x>\n<b/>\n\">\n<c/>\n",
         {{"Leaf(a)[x>\\x0A<b/>\\x0A]", 14, true, kOk},
          {"Leaf(c)", 18, true, kOk},
          {"", kEnd, false, kOk}}},
        {"three quotes then '>'",
         "<a=\"\"\">\n",
         {{"Invalid", kEnd, false, Problem::UnclosedValue}}},
        {"value without closing quote",
         "<a=\"xyz",
         {{"Invalid", kEnd, false, Problem::UnclosedValue}}},
        {"closing quote as the last byte",
         "<a=\"x\"",
         {{"Invalid", kEnd, false, Problem::UnclosedValue}}},
        {"doubled quote at the end",
         "<a=\"x\"\"",
         {{"Invalid", kEnd, false, Problem::UnclosedValue}}},
        {"quote followed by another byte",
         "<a=\"v\"x><b/>",
         {{"Invalid", 6, false, Problem::BadQuote}}},
        {"blank inside a name", "<a b=\"c\">", {{"Leaf(a b)[c]", kEnd, false, kOk}}},
        {"'=' as the first name byte",
         "<=x>\n",
         {{"Tree(=x)", 4, true, kOk}, {"", kEnd, false, kOk}}},
        {"'>' as the first name byte",
         "<>x/>",
         {{"Leaf(>x)", 4, true, kOk}, {"", kEnd, false, kOk}}},
        {"'<' as the first name byte",
         "<<a>\n",
         {{"Tree(<a)", 4, true, kOk}, {"", kEnd, false, kOk}}},
        {"zero, line end, quote and '<' inside a name",
         "<a\0b\n\"<c/>"s,
         {{"Leaf(a\\x00b\\x0A\"<c)", 9, true, kOk}, {"", kEnd, false, kOk}}},
        {"escape pair in a name",
         "<a\x80" "2b/>\n",
         {{"Leaf(a/b)", 6, true, kOk}, {"", kEnd, false, kOk}}},
        {"escape and another byte",
         "<\x80q/>",
         {{"Leaf(q)", 4, true, kOk}, {"", kEnd, false, kOk}}},
        {"lone escape byte as the whole name",
         "<\x80>\n",
         {{"Tree(\\x80)", 3, true, kOk}, {"", kEnd, false, kOk}}},
        {"lone escape byte ending a leaf name",
         "<a\x80/>",
         {{"Leaf(a\\x80)", 4, true, kOk}, {"", kEnd, false, kOk}}},
        {"70-byte name",
         "<" + std::string(70, 'n') + "/>\n",
         {{"Leaf(" + std::string(64, 'n') + ")", 72, true, kOk}, {"", kEnd, false, kOk}}},
        {"text before the first tag and CR LF line ends",
         "junk\r\n<a>\r\n  <b=\"1\">\r\n</>\r\n",
         {{"Tree(a)", 9, true, kOk},
          {"Leaf(b)[1]", 20, true, kOk},
          {"End", 25, true, kOk},
          {"", kEnd, false, kOk}}},
        {"malformed then good resets the problem",
         "</x><a/>\n",
         {{"Invalid", 2, true, Problem::BadClose},
          {"Leaf(a)", 7, true, kOk},
          {"", kEnd, false, kOk}}},
    };
    for (const Row& row : rows) Check(row);
}

TEST(Parser, CreateRefusesWhatHoldsNoTag) {
    RecordingHandler handler;
    const char text[] = "<a/>";
    EXPECT_EQ(Parser::Create(&handler, text, 3), nullptr);
    EXPECT_EQ(Parser::Create(&handler, text, 0), nullptr);
    EXPECT_EQ(Parser::Create(&handler, text, -1), nullptr);
    EXPECT_EQ(Parser::Create(&handler, nullptr, 4), nullptr);
    EXPECT_EQ(Parser::Create(nullptr, text, 4), nullptr);
    const std::unique_ptr<Parser> parser(Parser::Create(&handler, text, 4));
    ASSERT_NE(parser, nullptr);
    EXPECT_EQ(parser->Position(), 0);
    EXPECT_TRUE(parser->Parse());
    EXPECT_EQ(handler.Take(), "Leaf(a)");
}

TEST(Parser, PrintedTextGivesOneEventPerLine) {
    const std::string text =
        "<rooms>\n"
        "  <room>\n"
        "    <name=\"Hall \"\"B\"\"\">\n"
        "    <open/>\n"
        "    <empty>\n"
        "    </>\n"
        "  </>\n"
        "  <x\x80" "1y=\"2\">\n"
        "</>\n"
        "<last/>\n";
    Session run(text);
    ASSERT_NE(run.parser, nullptr);
    std::vector<std::string> events;
    while (run.parser->Parse()) events.push_back(run.handler.Take());
    EXPECT_EQ(run.handler.Take(), "");
    const std::vector<std::string> expected = {
        "Tree(rooms)", "Tree(room)", "Leaf(name)[Hall \"B\"]", "Leaf(open)", "Tree(empty)",
        "End",         "End",        "Leaf(x=y)[2]",           "End",        "Leaf(last)"};
    EXPECT_EQ(events, expected);
}

TEST(Parser, ValuesArriveAsSlicesOfTheInput) {
    // A value without quote bytes reaches the handler straight from the input.
    Session run("<a=\"xy\">\n<b=\"\">\n");
    ASSERT_TRUE(run.parser->Parse());
    ASSERT_EQ(run.handler.events.size(), 1u);
    EXPECT_EQ(run.handler.events[0].value, run.memory.data() + 4);
    EXPECT_EQ(run.handler.events[0].valueLength, 2);
    run.handler.Take();
    ASSERT_TRUE(run.parser->Parse());
    ASSERT_EQ(run.handler.events.size(), 1u);
    EXPECT_NE(run.handler.events[0].value, nullptr);
    EXPECT_EQ(run.handler.events[0].valueLength, 0);
}

TEST(Parser, AFurtherCallAfterABadQuoteGoesOnFromItsPosition) {
    Session run("<a=\"v\"x><b/>");
    EXPECT_FALSE(run.parser->Parse());
    EXPECT_EQ(run.handler.Take(), "Invalid");
    EXPECT_EQ(run.parser->Position(), 6);
    EXPECT_TRUE(run.parser->Parse());
    EXPECT_EQ(run.handler.Take(), "Leaf(b)");
    EXPECT_FALSE(run.parser->Parse());
    EXPECT_EQ(run.parser->Position(), run.length);
}

TEST(Parser, NeverChangesTheInput) {
    const std::string text = "<a>\n<b=\"x\"\"y\">\n<c\x80" "1/>\n</>\n";
    Session run(text);
    run.Steps();
    EXPECT_EQ(run.memory, text + kTrap);
}

struct Diagnosis {
    const char* label;
    std::string input;       // the last step of its parse is the one checked
    Problem problem;
    int32_t constructStart;  // the '<' of that step's construct
    int32_t nameStart;       // -1: the construct has no name
    int32_t nameLength;
};

TEST(Parser, DiagnosticsNameTheProblemAndWhereItStarts) {
    const std::vector<Diagnosis> cases = {
        {"tag cut off", "<a/>\n x<a>", Problem::TagCutOff, 7, -1, 0},
        {"bad close", "\n\n</x>", Problem::BadClose, 2, -1, 0},
        {"bad leaf end", "<ab/x>\n", Problem::BadLeafEnd, 0, 1, 2},
        {"leaf end cut off", "  <abc/", Problem::BadLeafEnd, 2, 3, 3},
        {"short value", "<a=\">", Problem::ShortValue, 0, 1, 1},
        {"bad quote", "<a/>\n<key=\"v\"x>", Problem::BadQuote, 5, 6, 3},
        {"unclosed value", "<ab=\"xyz", Problem::UnclosedValue, 0, 1, 2},
        {"raw name keeps its escapes", "<a\x80" "1b=\"x\"", Problem::UnclosedValue, 0, 1, 4},
        {"unclosed name", " <name", Problem::UnclosedName, 1, 2, 4},
        {"good container", "<a>\n<bc>\n", Problem::None, 4, 5, 2},
        {"good value", "<a=\"x\">\n", Problem::None, 0, 1, 1},
    };
    for (const Diagnosis& c : cases) {
        SCOPED_TRACE(c.label);
        Session run(c.input);
        ASSERT_NE(run.parser, nullptr);
        // Step to the last construct: stop before a step that would find no '<'.
        bool more = true;
        while (more) {
            more = run.parser->Parse();
            if (c.input.find('<', static_cast<size_t>(run.parser->Position())) ==
                std::string::npos) {
                break;
            }
        }
        EXPECT_EQ(ProblemName(run.parser->LastProblem()), std::string(ProblemName(c.problem)));
        EXPECT_EQ(run.parser->ConstructStart(), c.constructStart);
        if (c.nameStart >= 0) {
            EXPECT_EQ(run.parser->RawNameStart(), c.nameStart);
            EXPECT_EQ(run.parser->RawNameLength(), c.nameLength);
        }
    }
}

// Writes down, at each event, what the parser's diagnostics say at that moment.
class Observer : public MarlParser::Handler {
public:
    void Leaf(const char*, int32_t, const char*, int32_t) override { Note("Leaf", true); }
    void Tree(const char*, int32_t) override { Note("Tree", true); }
    void End() override { Note("End", false); }
    void Invalid() override { Note("Invalid", false); }

    const Parser* parser = nullptr;
    std::vector<std::string> notes;

private:
    void Note(const char* event, bool named) {
        std::string note = std::string(event) + " <" + std::to_string(parser->ConstructStart()) +
                           " @" + std::to_string(parser->Position()) + " " +
                           ProblemName(parser->LastProblem());
        if (named) {
            note += " name " + std::to_string(parser->RawNameStart()) + "+" +
                    std::to_string(parser->RawNameLength());
        }
        notes.push_back(note);
    }
};

TEST(Parser, DiagnosticsAreCurrentWhileAnEventIsHandled) {
    const std::string text = "<ab>\n <c/>\n<d=\"x\">\n</>\n</q<\x80" "1e/x\n<f=\"v\"!";
    Observer observer;
    const std::unique_ptr<Parser> parser(
        Parser::Create(&observer, text.data(), static_cast<int32_t>(text.size())));
    ASSERT_NE(parser, nullptr);
    observer.parser = parser.get();
    while (parser->Parse()) {
    }
    const std::vector<std::string> expected = {
        "Tree <0 @4 None name 1+2",
        "Leaf <6 @9 None name 7+1",
        "Leaf <11 @18 None name 12+1",
        "End <19 @22 None",
        "Invalid <23 @25 BadClose",
        "Invalid <26 @31 BadLeafEnd",
        "Invalid <33 @39 BadQuote",
    };
    EXPECT_EQ(observer.notes, expected);
}

// Tags are found and names scanned in groups of bytes where the processor allows, byte by
// byte near the end of the input: every offset of the '<', of an escape and of the byte that
// ends the name, against both the group size and the end of the input, must read the same.
TEST(Parser, TagsAndNamesReadAlikeAtEveryOffset) {
    const std::string ends[] = {"/>", "=\"v\">", ">"};
    for (int gap = 0; gap < 40; gap += 3) {
        for (int nameLength = 1; nameLength <= 70; ++nameLength) {
            for (int escape = -1; escape < nameLength; escape += 5) {
                for (int tail = 0; tail < 20; tail += 7) {
                    for (const std::string& end : ends) {
                        std::string raw(static_cast<size_t>(nameLength), 'n');
                        std::string name = raw;
                        if (escape >= 0) {
                            raw.replace(static_cast<size_t>(escape), 1, "\x80" "2");
                            name[static_cast<size_t>(escape)] = '/';
                        }
                        name.resize(std::min<size_t>(name.size(), 64));
                        const std::string text =
                            std::string(static_cast<size_t>(gap), ' ') + "<" + raw + end +
                            std::string(static_cast<size_t>(tail), '\x80');
                        // A tag needs three bytes after its '<' (and input four bytes).
                        if (text.size() < 4 || text.size() - static_cast<size_t>(gap) < 4) {
                            continue;
                        }
                        SCOPED_TRACE(Show(text));
                        Session run(text);
                        ASSERT_NE(run.parser, nullptr);
                        run.parser->Parse();
                        const std::string expected = end == ">"    ? "Tree(" + Show(name) + ")"
                                                     : end == "/>" ? "Leaf(" + Show(name) + ")"
                                                                   : "Leaf(" + Show(name) + ")[v]";
                        ASSERT_EQ(run.handler.Take(), expected);
                        EXPECT_EQ(run.parser->ConstructStart(), gap);
                    }
                }
            }
        }
    }
}

// The search for a value's closing quote goes by 16-byte groups where the C library's memchr
// is slow: the quote at every offset in a group, and against the end of the input.
TEST(Parser, ValuesEndAtTheirQuoteAtEveryLength) {
    for (size_t length = 1; length < 50; ++length) {
        for (size_t tail = 0; tail < 20; tail += 6) {
            const std::string value(length, 'v');
            Session run("<a=\"" + value + "\">" + std::string(tail, ' '));
            ASSERT_NE(run.parser, nullptr);
            run.parser->Parse();
            ASSERT_EQ(run.handler.Take(), "Leaf(a)[" + value + "]") << length << " " << tail;
        }
    }
}

TEST(Parser, DestroyingItLeavesTheCallersHandlerAlone) {
    bool destroyed = false;
    {
        RecordingHandler handler(&destroyed);
        {
            const std::unique_ptr<Parser> parser(Parser::Create(&handler, "</>\n", 4));
            ASSERT_NE(parser, nullptr);
            parser->Parse();
        }
        EXPECT_FALSE(destroyed);
        EXPECT_EQ(handler.Take(), "End");
    }
    EXPECT_TRUE(destroyed);
}

}  // namespace
