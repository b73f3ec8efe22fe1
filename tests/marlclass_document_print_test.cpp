// Printing documents as Marl text, and reading the printed text back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "marlclass_document.h"
#include "marllib_source.hpp"
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
    const auto entries = [](const Document& d, int32_t c) {
        std::vector<int32_t> out(static_cast<size_t>(d.CollectionAt(c)->Count()));
        d.GetTags(c, out.data(), static_cast<int32_t>(out.size()));
        return out;
    };
    const std::vector<int32_t> la = entries(a, ca);
    const std::vector<int32_t> lb = entries(b, cb);
    ASSERT_EQ(la.size(), lb.size()) << where;
    for (size_t i = 0; i < la.size(); ++i) {
        const MarlClass::Tag& ta = *a.TagAt(la[i]);
        const MarlClass::Tag& tb = *b.TagAt(lb[i]);
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

// ---- Edited texts: saved with the document's changes, every other byte kept ----

// The tags of a text in the order the reader makes them, with where their bytes stand.
struct ReadTag {
    marl::span text;  // the construct; for a container, up to its "</>" (or the text's end)
    marl::span name;
    bool container;
    std::string decoded_name, decoded_value;
};
struct ReadText {
    std::vector<ReadTag> tags;
    std::vector<std::pair<marl::span, int32_t>> closes;  // each "</>" and the tag it closes
};
ReadText ReadBack(const std::string& text) {
    ReadText got;
    std::vector<int32_t> open;
    marl::read(text, [&](const marl::event& e) {
        if (e.kind == marl::event_kind::Tree || e.kind == marl::event_kind::Leaf) {
            if (e.kind == marl::event_kind::Tree)
                open.push_back(static_cast<int32_t>(got.tags.size()));
            got.tags.push_back({e.text, e.raw_name, e.kind == marl::event_kind::Tree,
                                std::string(e.name), std::string(e.value)});
        } else if ((e.kind == marl::event_kind::End ||
                    // a "</>" that ends the text still means what it means
                    (e.why == marl::problem::TagCutOff &&
                     text.compare(static_cast<size_t>(e.text.begin), std::string::npos, "</>") ==
                         0)) &&
                   !open.empty()) {
            got.tags[static_cast<size_t>(open.back())].text.end = e.text.end;
            got.closes.push_back({e.text, open.back()});
            open.pop_back();
        }
    });
    for (const int32_t t : open)
        got.tags[static_cast<size_t>(t)].text.end = static_cast<int32_t>(text.size());
    return got;
}

class RandomEdit {
public:
    explicit RandomEdit(uint32_t seed) : random(seed) {}
    int Below(int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); }

    // Text of the kinds people write and break: notes, every line end, odd spacing, escaped
    // names, doubled quotes, cut names, malformed tags, stray and missing "</>".
    std::string Text() {
        static const char* const kEnds[] = {"\n", "\r\n", "\r"};
        const std::string end = kEnds[Below(3)];
        static const char* const kOdd[] = {"<a/x", "</x",     "<b =\"v\"",    "< c/>",
                                           "\xe2\x82\xac", "# a < b", "<p=80>", "\t<t/>"};
        std::string text;
        for (int piece = Below(40); piece > 0; --piece) {
            switch (Below(11)) {
                case 0: text += "# note " + std::to_string(piece); break;
                case 1:
                    text += std::string(static_cast<size_t>(Below(4)), Below(2) ? ' ' : '\t');
                    break;
                case 2: text += kEnds[Below(3)]; break;
                case 3: text += "<" + Name() + "=\"" + Value(true) + "\">"; break;
                case 4: text += "<" + Name() + "/>"; break;
                case 5: text += "<" + Name() + ">"; break;
                case 6: text += "</>"; break;
                case 7: text += kOdd[Below(8)]; break;
                case 8:
                    text += "<" + std::string(static_cast<size_t>(65 + Below(5)), 'n') + "/>";
                    break;
                default: text += end + std::string(static_cast<size_t>(2 * Below(3)), ' '); break;
            }
        }
        if (Below(12) == 0) text += "<v=\"cut";  // the text ends inside a value
        if (Below(6) == 0) text += "</>";         // the last, too short to be read
        if (Below(20) == 0) text = "\xEF\xBB\xBF" + text;
        return text;
    }
    std::string Name() {
        static const char* const kPieces[] = {"a",
                                              "port",
                                              "x y",
                                              "\x80"
                                              "1",
                                              "\x80\x80",
                                              "\x80"
                                              "3",
                                              "<"};
        std::string name;
        for (int i = 1 + Below(3); i > 0; --i) name += kPieces[Below(7)];
        return name;
    }
    // A value as written (quotes doubled) or as held.
    std::string Value(bool written) {
        static const char* const kPieces[] = {"80", " ", "\"", ">", "\n", "\"\"", "<x/>", "\x80"};
        std::string value;
        for (int i = Below(4); i > 0; --i) {
            const std::string piece = kPieces[Below(8)];
            value += written && piece == "\"" ? "\"\"" : piece;
        }
        return value;
    }

private:
    std::mt19937 random;
};

// A copy of the tree below `from`, less the tags removed.
void CopyTree(const marl::Document& from, marl::collection c, marl::Document& to,
              marl::collection into, const std::vector<marl::tag>& removed) {
    for (const marl::tag t : from.children(c)) {
        if (std::find(removed.begin(), removed.end(), t) != removed.end()) continue;
        if (from.is_leaf(t)) {
            to.add_leaf(into, from.name(t), from.value(t));
        } else {
            CopyTree(from, from.collection_of(t), to,
                     to.collection_of(to.add_container(into, from.name(t))), removed);
        }
    }
}

// The document's tags, less those removed, in the order a text of it holds them.
void InTextOrder(const marl::Document& doc, marl::collection c,
                 const std::vector<marl::tag>& removed, std::vector<marl::tag>& order) {
    for (const marl::tag t : doc.children(c)) {
        if (std::find(removed.begin(), removed.end(), t) != removed.end()) continue;
        order.push_back(t);
        if (!doc.is_leaf(t)) InTextOrder(doc, doc.collection_of(t), removed, order);
    }
}

// The bytes of text outside the marked spans; without blanks and line ends when `squeeze`.
std::string Unmarked(const std::string& text, std::vector<marl::span> marks, bool squeeze) {
    std::sort(marks.begin(), marks.end(),
              [](const marl::span& a, const marl::span& b) { return a.begin < b.begin; });
    std::string kept;
    int32_t at = 0;
    for (const marl::span& mark : marks) {
        if (mark.begin > at)
            kept += text.substr(static_cast<size_t>(at), static_cast<size_t>(mark.begin - at));
        at = std::max(at, mark.end);
    }
    kept +=
        text.substr(static_cast<size_t>(std::min<int32_t>(at, static_cast<int32_t>(text.size()))));
    if (squeeze) {
        kept.erase(
            std::remove_if(kept.begin(), kept.end(),
                           [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }),
            kept.end());
    }
    return kept;
}

// The spans of `text` that the edit may rewrite: the names and values of the tags from the
// original text that `changed` tells (by their index there), every tag that `fresh` tells,
// with all it holds, and each "</>" that `fresh_close` tells (by the tag it closes).
std::vector<marl::span> Marks(const ReadText& read, const std::vector<marl::tag>& order,
                              const std::function<int(marl::tag)>& changed,
                              const std::function<bool(size_t)>& fresh,
                              const std::function<bool(int32_t)>& fresh_close) {
    std::vector<marl::span> marks;
    for (size_t i = 0; i < read.tags.size(); ++i) {
        const ReadTag& t = read.tags[i];
        if (fresh(i)) {
            marks.push_back(t.text);
            continue;
        }
        const int how = changed(order[i]);
        if (how & 1) marks.push_back(t.name);
        if (how & 2) marks.push_back({t.name.end, t.text.end});
    }
    for (const auto& [close, closed] : read.closes) {
        if (fresh_close(closed)) marks.push_back(close);
    }
    return marks;
}

// Random edits of random texts through the C++ layer (rename, set and clear values, add leaves
// and containers at any depth, remove tags as marl rm does): the saved text loads back into
// the edited tree, and every byte outside what the edits touched is the original's, in order.
TEST(Print, EditedTextsKeepEveryUntouchedByte) {
    for (uint32_t seed = 0; seed < 10000; ++seed) {
        RandomEdit random(seed);
        const std::string text = random.Text();
        marl::Source source = marl::Source::load_text(text);
        marl::Document doc = source.document();
        std::vector<marl::tag> tags, removed;
        const auto loaded = static_cast<int32_t>(ReadBack(text).tags.size());
        for (int32_t i = 0; i < loaded; ++i) tags.push_back(marl::tag(i));
        bool grown = false;
        std::string ops;
        for (int edits = 1 + random.Below(4); edits > 0; --edits) {
            const int op = random.Below(6);
            const std::optional<marl::tag> t =
                tags.empty()
                    ? std::nullopt
                    : std::optional(
                          tags[static_cast<size_t>(random.Below(static_cast<int>(tags.size())))]);
            if (op == 0 && t) doc.set_name(*t, random.Name());
            if (op == 1 && t && doc.is_leaf(*t))
                doc.set_value(*t, random.Below(3) ? random.Value(false) : "");
            if (op == 2 || op == 3 || (op == 1 && !t)) {
                const marl::collection into =
                    t && !doc.is_leaf(*t) ? doc.collection_of(*t) : marl::Document::root;
                tags.push_back(op == 2 ? doc.add_leaf(into, random.Name(), random.Value(false))
                                       : doc.add_container(into, random.Name()));
                grown = true;
            }
            ops += " op" + std::to_string(op) + "@" + std::to_string(t ? t->index() : -1);
            if (op >= 4 && t && t->index() < loaded) {
                source.remove(*t);
                removed.push_back(*t);
            }
        }
        const std::string at = "seed " + std::to_string(seed) + ops + ": " + text;
        std::string saved;
        try {
            saved = source.to_string();
        } catch (const marl::error& refused) {
            // Only where the text stops being read: after a value it leaves open, for one.
            ASSERT_EQ(refused.code(), marl::errc::lost_edit) << at;
            EXPECT_NE(std::string(refused.what()).find("after this tag"), std::string::npos)
                << at << refused.what();
            marl::close_all();
            continue;
        }
        marl::Document expected = marl::Document::create();
        CopyTree(doc, marl::Document::root, expected, marl::Document::root, removed);
        ASSERT_EQ(marl::Document::load_text(saved).to_string(), expected.to_string())
            << at << "\nsaved: " << saved;

        // Removed tags in the original, tags added (and the closing tags the edit had to add
        // for containers the text left open) in the saved text.
        std::vector<marl::tag> order;  // of the saved text's tags; the original's are 0, 1, 2, ...
        InTextOrder(doc, marl::Document::root, removed, order);
        const ReadText before = ReadBack(text), after = ReadBack(saved);
        // A removed tag takes what it holds with it.
        std::vector<bool> gone(before.tags.size());
        for (size_t i = 0; i < before.tags.size(); ++i) {
            for (const marl::tag r : removed) {
                const marl::span whole = before.tags[static_cast<size_t>(r.index())].text;
                gone[i] = gone[i] || (before.tags[i].text.begin >= whole.begin &&
                                      before.tags[i].text.begin < whole.end);
            }
        }
        const auto closed_before = [&](int32_t t) {
            return std::any_of(before.closes.begin(), before.closes.end(),
                               [&](const auto& c) { return c.second == t; });
        };
        // 1: renamed, 2: a leaf's value changed, by the tag's place in the original.
        const auto changed = [&](marl::tag t) {
            if (t.index() >= loaded) return 0;
            const ReadTag& was = before.tags[static_cast<size_t>(t.index())];
            return (was.decoded_name != doc.name(t) ? 1 : 0) |
                   (!was.container && was.decoded_value != doc.value(t) ? 2 : 0);
        };
        std::vector<marl::span> marks_before = Marks(
            before, tags, changed, [&](size_t i) { return gone[i]; },
            [](int32_t) { return false; });
        // A note after a removed tag that starts its line goes with it, to the line's end.
        for (const marl::tag r : removed) {
            const marl::span whole = before.tags[static_cast<size_t>(r.index())].text;
            const size_t start = text.find_last_not_of(" \t", static_cast<size_t>(whole.begin) - 1);
            const size_t end = std::min(text.find_first_of("\r\n", static_cast<size_t>(whole.end)),
                                        text.size());
            const bool first = whole.begin == 0 || start == std::string::npos ||
                               text[start] == '\n' || text[start] == '\r';
            if (first && text.find('<', static_cast<size_t>(whole.end)) >= end) {
                marks_before.push_back({whole.end, static_cast<int32_t>(end)});
            }
        }
        const std::vector<marl::span> marks_after = Marks(
            after, order, changed, [&](size_t i) { return order[i].index() >= loaded; },
            [&](int32_t closed) {
                return order[static_cast<size_t>(closed)].index() >= loaded ||
                       !closed_before(order[static_cast<size_t>(closed)].index());
            });
        const bool moved = grown || !removed.empty();
        std::string kept = Unmarked(saved, marks_after, moved);
        const std::string was = Unmarked(text, marks_before, moved);
        // A tag that an edit brought to the very end gets a line end, to be read whole.
        if (kept.size() > was.size() && (kept.back() == '\n' || kept.back() == '\r')) {
            kept.resize(
                kept.size() -
                (kept.size() >= 2 && kept.compare(kept.size() - 2, 2, "\r\n") == 0 ? 2 : 1));
        }
        EXPECT_EQ(kept, was) << at << "\nsaved: " << saved;
        // New lines end as the text's lines do.
        if (text.find('\r') == std::string::npos) {
            EXPECT_EQ(saved.find('\r'), std::string::npos) << at;
        }
        marl::close_all();
        if (HasFatalFailure()) return;
    }
}
