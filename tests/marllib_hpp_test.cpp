// marllib.hpp, the C++ layer over the exported functions: what it reads back, and the
// exception each failure becomes. Linked against the library itself, as a host's program is.
#include "marllib_source.hpp"
#include "marllib_path.hpp"
#include "recording_handler.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/resource.h>

#include "file_writer_cases.h"
#endif

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using marl::Document;
using marl::errc;
using marl::collection;
using marl::tag;
using Tags = std::vector<tag>;

class Hpp : public ::testing::Test {
protected:
    void SetUp() override { marl::close_all(); }
    void TearDown() override { marl::close_all(); }
};

// Runs `call`, expects it to throw marl::error of `code`, and returns the message.
template <typename Call>
std::string FailureOf(Call call, errc code) {
    try {
        call();
    } catch (const marl::error& failure) {
        EXPECT_EQ(failure.code(), code) << failure.what();
        return failure.what();
    }
    ADD_FAILURE() << "nothing was thrown";
    return std::string();
}

// A view one byte longer than any length the C interface takes. The layer must refuse it by
// its size alone, before it reads (or passes on) any of its bytes.
std::string_view Oversized(const char* bytes) {
    return std::string_view(bytes, static_cast<size_t>(std::numeric_limits<int32_t>::max()) + 1);
}

TEST_F(Hpp, BuildsADocumentAndReadsItBack) {
    Document doc = Document::create();
    EXPECT_EQ(doc.handle(), 0);
    const tag server = doc.add_container(Document::root, "server");
    const collection items = doc.collection_of(server);
    const tag port = doc.add_leaf(items, "port", "8080");
    const tag verbose = doc.add_leaf(server, "verbose");
    const collection users = doc.collection_of(doc.add_container(items, "users"));

    EXPECT_EQ(doc.children(), Tags{server});
    EXPECT_EQ(doc.children(items), (Tags{port, verbose, doc.children(server).back()}));
    EXPECT_TRUE(doc.children(users).empty());
    EXPECT_EQ(doc.name(server), "server");
    EXPECT_EQ(doc.value(port), "8080");
    EXPECT_EQ(doc.value(verbose), "");
    EXPECT_FALSE(doc.is_leaf(server));
    EXPECT_TRUE(doc.is_leaf(verbose));

    doc.set_value(port, "9090");
    doc.set_value(verbose, "");
    doc.set_name(server, "service");
    EXPECT_EQ(doc.value(port), "9090");
    EXPECT_EQ(doc.value(verbose), "");
    EXPECT_EQ(doc.name(server), "service");
}

TEST_F(Hpp, NamesAndValuesAreByteStrings) {
    Document doc = Document::create();
    const std::string longest(64, 'n');
    const std::string odd_name("a\0b\xff", 4);
    const std::string odd_value("\0\"<>\n\xfe", 6);
    const tag leaf = doc.add_leaf(Document::root, odd_name, odd_value);
    EXPECT_EQ(doc.name(leaf), odd_name);
    EXPECT_EQ(doc.value(leaf), odd_value);
    doc.set_name(leaf, longest);
    EXPECT_EQ(doc.name(leaf), longest);
    EXPECT_EQ(doc.find(Document::root, longest), leaf);
    const std::string big(100000, 'v');
    doc.set_value(leaf, big);
    EXPECT_EQ(doc.value(leaf), big);
}

TEST_F(Hpp, RefusesNamesOutsideOneToSixtyFourBytes) {
    Document doc = Document::create();
    const tag first = doc.add_container(Document::root, "first");
    for (const std::string& name : {std::string(), std::string(65, 'n')}) {
        SCOPED_TRACE(name.size());
        const std::string message =
            FailureOf([&] { doc.add_container(Document::root, name); }, errc::bad_name);
        EXPECT_NE(message.find(std::to_string(name.size())), std::string::npos) << message;
        FailureOf([&] { doc.add_leaf(Document::root, name, "v"); }, errc::bad_name);
        FailureOf([&] { doc.set_name(first, name); }, errc::bad_name);
    }
    // Nothing was added, not even the collection of a refused container, and the old name stays.
    EXPECT_EQ(doc.children(), Tags{first});
    EXPECT_EQ(doc.collection_of(doc.add_container(Document::root, "second")), collection(1));
    EXPECT_EQ(doc.name(first), "first");
}

TEST_F(Hpp, FindsDirectEntriesByName) {
    Document doc = Document::load_text("<a=\"1\"><box><a=\"inner\"></><b/><a=\"2\"><a/>");
    const Tags top = doc.children();
    ASSERT_EQ(top.size(), 5u);
    EXPECT_EQ(doc.find(Document::root, "a"), top[0]);
    EXPECT_EQ(doc.find(Document::root, "b"), top[2]);
    EXPECT_EQ(doc.find(Document::root, "c"), std::nullopt);
    EXPECT_EQ(doc.find(Document::root, ""), std::nullopt);
    EXPECT_EQ(doc.children(Document::root, "a"), (Tags{top[0], top[3], top[4]}));
    EXPECT_EQ(doc.children(Document::root, "box"), Tags{top[1]});
    EXPECT_TRUE(doc.children(Document::root, "none").empty());

    EXPECT_EQ(doc.value(*doc.find(top[1], "a")), "inner");
    EXPECT_EQ(doc.children(top[1], "a").size(), 1u);
    const collection empty = doc.collection_of(doc.add_container(Document::root, "empty"));
    EXPECT_EQ(doc.find(empty, "a"), std::nullopt);
    EXPECT_TRUE(doc.children(empty, "a").empty());
    // A leaf holds nothing, which is no error.
    EXPECT_EQ(doc.find(top[0], "a"), std::nullopt);
    EXPECT_TRUE(doc.children(top[0]).empty());

    // A collection that does not exist is an error, not a miss.
    FailureOf([&] { doc.find(collection(empty.index() + 1), "a"); }, errc::no_such_collection);
    FailureOf([&] { doc.children(collection(-2), "a"); }, errc::no_such_collection);
}

TEST_F(Hpp, LoadsTextByItsLengthAlone) {
    const std::string text = "<a=\"1\"><b=\"2\">";
    Document doc = Document::load_text(std::string_view(text).substr(0, 7));
    ASSERT_EQ(doc.children().size(), 1u);
    EXPECT_EQ(doc.name(doc.children()[0]), "a");

    // Empty text is an empty document, never a file path.
    Document empty = Document::load_text(std::string_view());
    EXPECT_EQ(empty.handle(), 1);
    EXPECT_TRUE(empty.children().empty());
    EXPECT_TRUE(Document::load_text("").children().empty());
}

TEST_F(Hpp, LoadsFilesAndSaysWhichOneItCannotRead) {
    const std::string path = ::testing::TempDir() + "marllib_hpp_test.marl";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("<rooms><room=\"Hall\"></>", file);
    std::fclose(file);
    Document doc = Document::load(path);
    EXPECT_EQ(doc.value(*doc.at("rooms/room")), "Hall");
    std::remove(path.c_str());

    const std::string missing = ::testing::TempDir() + "marllib_hpp_absent.marl";
    const std::string message = FailureOf([&] { Document::load(missing); }, errc::unreadable_file);
    EXPECT_NE(message.find(missing + "': " + std::strerror(ENOENT)), std::string::npos) << message;
    FailureOf([&] { Document::load(path + std::string(1, '\0') + "x"); }, errc::unreadable_file);
    // A failed load registers nothing: the next document gets the following handle.
    EXPECT_EQ(Document::create().handle(), doc.handle() + 1);
}

TEST_F(Hpp, EachFailureSaysWhatWentWrong) {
    Document doc = Document::create();
    const tag box = doc.add_container(Document::root, "box");
    const tag leaf = doc.add_leaf(box, "leaf", "v");

    struct Case {
        const char* what;
        std::function<void()> call;
        errc code;
        const char* says;
    };
    const Case cases[] = {
        {"value of a container", [&] { doc.value(box); }, errc::not_a_leaf,
         "tag 0 of document 0 is a container"},
        {"value for a container", [&] { doc.set_value(box, "v"); }, errc::not_a_leaf,
         "tag 0 of document 0 is a container"},
        {"collection of a leaf", [&] { doc.collection_of(leaf); }, errc::not_a_container,
         "tag 1 of document 0 is a leaf"},
        {"name of no tag", [&] { doc.name(tag(2)); }, errc::no_such_tag, "document 0 has no tag 2"},
        {"negative tag", [&] { doc.value(tag(-1)); }, errc::no_such_tag, "has no tag -1"},
        {"set name of no tag", [&] { doc.set_name(tag(7), "n"); }, errc::no_such_tag, "has no tag 7"},
        {"set value of no tag", [&] { doc.set_value(tag(7), "v"); }, errc::no_such_tag, "has no tag 7"},
        {"kind of no tag", [&] { doc.is_leaf(tag(7)); }, errc::no_such_tag, "has no tag 7"},
        {"tags of no collection", [&] { doc.children(collection(1)); }, errc::no_such_collection,
         "document 0 has no collection 1"},
        {"add to no collection", [&] { doc.add_leaf(collection(1), "n"); }, errc::no_such_collection,
         "has no collection 1"},
        {"add below the root", [&] { doc.add_container(collection(-2), "n"); }, errc::no_such_collection,
         "has no collection -2"},
        {"add with a value to no collection", [&] { doc.add_leaf(collection(1), "n", "v"); },
         errc::no_such_collection, "has no collection 1"},
        {"add below a leaf", [&] { doc.add_leaf(leaf, "n", 1); }, errc::not_a_container,
         "tag 1 of document 0 is a leaf"},
        {"number from text", [&] { doc.value_as<int>(leaf); }, errc::bad_value,
         "tag 1 of document 0 holds \"v\""},
        {"malformed path", [&] { doc.at("a//b"); }, errc::bad_path, "'a//b' is not"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string message = FailureOf(c.call, c.code);
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
    }
    // None of them changed the document.
    EXPECT_EQ(doc.children(), Tags{box});
    EXPECT_EQ(doc.children(box), Tags{leaf});
    EXPECT_EQ(doc.value(leaf), "v");
}

TEST_F(Hpp, ErrorsAreRuntimeErrors) {
    Document doc = Document::create();
    EXPECT_THROW(doc.name(tag(0)), std::runtime_error);
}

TEST_F(Hpp, ClosingEndsEveryDocument) {
    Document first = Document::create();
    Document second = Document::load_text("<a/>");
    const Document copy = second;
    EXPECT_EQ(copy, second);
    EXPECT_NE(first, second);
    marl::close_all();

    for (const Document& doc : {first, second, copy}) {
        SCOPED_TRACE(doc.handle());
        const std::string message = FailureOf([&] { doc.children(); }, errc::invalid_handle);
        EXPECT_NE(message.find("document " + std::to_string(doc.handle()) + " does not exist"),
                  std::string::npos)
            << message;
        FailureOf([&] { doc.name(tag(0)); }, errc::invalid_handle);
        FailureOf([&] { doc.value(tag(0)); }, errc::invalid_handle);
        FailureOf([&] { doc.collection_of(tag(0)); }, errc::invalid_handle);
        FailureOf([&] { doc.find(Document::root, "a"); }, errc::invalid_handle);
        FailureOf([&] { doc.at("a"); }, errc::invalid_handle);
    }
    Document writable = first;
    FailureOf([&] { writable.add_leaf(Document::root, "a"); }, errc::invalid_handle);
    FailureOf([&] { writable.set_name(tag(0), "a"); }, errc::invalid_handle);
    FailureOf([&] { writable.set_value(tag(0), "a"); }, errc::invalid_handle);

    // A kept value names whichever new document gets its handle.
    Document fresh = Document::create();
    EXPECT_EQ(fresh, first);
    EXPECT_TRUE(first.children().empty());
}

TEST_F(Hpp, AdoptsHandlesFromTheCInterface) {
    const int32_t handle = marllib_Create();
    ASSERT_EQ(marllib_AddTag(handle, MARLLIB_ROOT, "c", 1, true), 0);
    Document doc(handle);
    EXPECT_EQ(doc.name(tag(0)), "c");

    // A value set with a negative length through the C interface holds no bytes; -1 is the
    // very number that also means "no such tag".
    for (int32_t length : {-1, -2, -5}) {
        SCOPED_TRACE(length);
        ASSERT_TRUE(marllib_SetValue(handle, 0, "xyz", length));
        ASSERT_EQ(marllib_GetValue(handle, 0, nullptr, 0), length);
        EXPECT_EQ(doc.value(tag(0)), "");
    }
}

TEST_F(Hpp, RefusesBytesBeyondTheInterfacesLengths) {
    Document doc = Document::create();
    const tag leaf = doc.add_leaf(Document::root, "leaf", "kept");
    const char bytes[] = "<a/>";
    FailureOf([&] { doc.set_value(leaf, Oversized(bytes)); }, errc::too_long);
    FailureOf([&] { doc.add_leaf(Document::root, "more", Oversized(bytes)); }, errc::too_long);
    FailureOf([&] { doc.find(Document::root, Oversized(bytes)); }, errc::too_long);
    FailureOf([&] { doc.children(Document::root, Oversized(bytes)); }, errc::too_long);
    // Cut to 32 bits, the length would turn negative and make the text a file path.
    FailureOf([&] { Document::load_text(Oversized(bytes)); }, errc::too_long);
    EXPECT_EQ(doc.children(), Tags{leaf});
    EXPECT_EQ(doc.value(leaf), "kept");
    EXPECT_EQ(Document::create().handle(), doc.handle() + 1);
}

// A step as the tests write it: "name#N", with "*" and "**" for the wildcards and [c] or
// [c=v] after a filter.
std::string Shown(const marl::path_step& step) {
    std::string shown = step.descend ? "**" : step.any_name ? "*" : step.name;
    if (!step.descend) shown += "#" + std::to_string(step.nth);
    if (!step.child.empty()) shown += "[" + step.child;
    if (step.child_value) shown += "=" + *step.child_value;
    if (!step.child.empty()) shown += "]";
    return shown;
}

// The path syntax of marllib_path.hpp: steps as written, and each way to get it wrong.
TEST(ParsePath, SplitsStepsAndRefusesMalformedPaths) {
    using Steps = std::vector<std::string>;
    const std::pair<std::string_view, Steps> good[] = {
        {"a", {"a#1"}},
        {"/a/b[2]", {"a#1", "b#2"}},
        {"a\\/b/c\\[1]/\\\\", {"a/b#1", "c[1]#1", "\\#1"}},
        {"x]y[007]", {"x]y#7"}},
        {"n[2147483647]", {"n#2147483647"}},
        {"n[-2147483647]", {"n#-2147483647"}},
        {std::string_view("z\0=", 3), {std::string("z\0=#1", 5)}},
        {"a[-1]/b[*]", {"a#-1", "b#0"}},
        {"*/*[2]/*[-1]/*[*]", {"*#0", "*#2", "*#-1", "*#0"}},
        {"**/a/**/b", {"**", "a#1", "**", "b#1"}},
        {"\\*/\\**/a*b/**[2]/***", {"*#1", "**#1", "a*b#1", "**#2", "***#1"}},
        {"h[role=\"web\"]/*[c]", {"h#0[role=web]", "*#0[c]"}},
        {"h[a\\]b\\=c\\\\=\"x\"\"/]\"\"\"]", {"h#0[a]b=c\\=x\"/]\"]"}},
        {"h[x/[y=\"\"]", {"h#0[x/[y=]"}},
    };
    for (const auto& [path, expected] : good) {
        const auto steps = marl::parse_path(path);
        ASSERT_TRUE(steps.has_value()) << path;
        Steps got;
        for (const marl::path_step& step : *steps) got.push_back(Shown(step));
        EXPECT_EQ(got, expected) << path;
    }
    for (const char* malformed :
         {"", "/", "//a", "a//b", "a/", "[2]", "a/[1]", "a\\", "a\\b", "a[", "a[]", "a[+1]",
          "a[0]", "a[-0]", "a[-]", "a[2147483648]", "a[-2147483648]", "a[1]b", "a[1][2]", "a[1",
          "**", "a/**", "**/**", "a[x", "a[x=]", "a[x=y]", "a[=\"y\"]", "a[x=\"y]", "a[x=\"y\"",
          "a[x=\"y\"]z", "a[x\\y]", "a[*", "a[*]x", "*[", "a[2x]"}) {
        EXPECT_FALSE(marl::parse_path(malformed).has_value()) << malformed;
    }
}

// Every form of step over one tree: the tags a path selects, by index (the tree's tags are
// numbered in text order), in text order and each once.
TEST_F(Hpp, SelectsEveryFormOfPathOverOneTree) {
    const Document doc = Document::load_text(
        "<fleet>\n"
        "  <host>\n    <name=\"a\">\n    <role=\"web\">\n    <port=\"80\">\n  </>\n"   // 1-4
        "  <host>\n    <name=\"b\">\n    <role=\"db\">\n"                            // 5-7
        "    <disk>\n      <port=\"5432\">\n    </>\n  </>\n"                       // 8-9
        "  <host>\n    <name=\"c\">\n    <role=\"web\">\n    <role=\"cache\">\n"      // 10-13
        "    <note=\"say \"\"hi\"\"\">\n  </>\n"                                   // 14
        "  <spare/>\n"                                                              // 15
        "</>\n<port=\"22\">\n<*/>\n");                                             // 16-17
    const std::pair<const char*, std::vector<int32_t>> rows[] = {
        {"fleet/host/name", {2}},
        {"fleet/host[2]/name", {6}},
        {"fleet/host[-1]/name", {11}},
        {"fleet/host[-3]/name", {2}},
        {"fleet/host[-4]", {}},
        {"fleet/host[4]", {}},
        {"fleet/host[*]", {1, 5, 10}},
        {"fleet/*/name", {2, 6, 11}},
        {"fleet/*[4]", {15}},
        {"fleet/*[5]", {}},
        {"fleet/*[-1]", {15}},
        {"fleet/*[*]/role[-1]", {3, 7, 13}},
        {"*", {0, 16, 17}},
        {"\\*", {17}},
        {"**/port", {4, 9, 16}},
        {"**/port[*]", {4, 9, 16}},
        {"**/**/port", {4, 9, 16}},
        {"**/*/**/port", {4, 9}},
        {"**/role[*]", {3, 7, 12, 13}},
        {"fleet/**/name", {2, 6, 11}},
        {"fleet/host[role=\"web\"]/name", {2, 11}},
        {"fleet/host[role=\"cache\"]", {10}},
        {"fleet/host[note=\"say \"\"hi\"\"\"]", {10}},
        {"fleet/host[disk]/name", {6}},
        {"fleet/host[role]", {1, 5, 10}},
        {"fleet/*[spare]", {}},
        {"**/*[port]", {1, 8}},
        {"**/*[port=\"22\"]", {}},
        {"fleet/spare/x", {}},
        {"nope/**/x", {}},
        {"**[1]", {}},
    };
    for (const auto& [path, expected] : rows) {
        std::vector<int32_t> got;
        for (const tag t : doc.select(path)) got.push_back(t.index());
        EXPECT_EQ(got, expected) << path;
        EXPECT_EQ(doc.at(path), expected.empty() ? std::nullopt : std::optional(tag(expected[0])))
            << path;
    }
    EXPECT_EQ(doc.select("*/port", *doc.at("fleet/host[2]")), std::vector<tag>{tag(9)});
}

// Random documents and random paths: select gives what a plain walk over a model of the same
// tree gives, written here without the library, its lookups or its walk.
TEST_F(Hpp, SelectsWhatAPlainWalkSelects) {
    struct Node {
        std::string name;
        std::optional<std::string> value;  // leaves only
        bool container = false;
        std::vector<Node> children;
        int32_t tag = -1;
    };
    struct Step {
        std::string text;  // as written in the path
        std::string name;  // "*" any, "**" descend
        int32_t nth;
        std::string child;
        std::optional<std::string> value;
    };
    for (uint32_t seed = 0; seed < 3000; ++seed) {
        std::mt19937 random(seed);
        const auto below = [&](int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); };
        const char* const names[] = {"a", "b", "c"};
        const char* const values[] = {"", "x", "y\"z"};
        Document doc = Document::create();
        Node root;
        root.container = true;
        const std::function<void(Node&, marl::collection, int)> grow =
            [&](Node& node, marl::collection into, int depth) {
                for (int n = below(depth < 4 ? 5 : 1); n > 0; --n) {
                    Node child;
                    child.name = names[below(3)];
                    child.container = below(3) == 0;
                    if (child.container) {
                        child.tag = doc.add_container(into, child.name).index();
                        grow(child, doc.collection_of(tag(child.tag)), depth + 1);
                    } else {
                        if (below(3) > 0) child.value = values[below(3)];
                        child.tag = (child.value ? doc.add_leaf(into, child.name, *child.value)
                                                 : doc.add_leaf(into, child.name))
                                        .index();
                    }
                    node.children.push_back(std::move(child));
                }
            };
        grow(root, Document::root, 0);
        // A path of one to four steps, its last not "**".
        std::vector<Step> steps;
        for (int n = 1 + below(4); n > 0; --n) {
            Step step{"", below(4) == 0 ? "*" : names[below(3)], 1, "", std::nullopt};
            if (n > 1 && below(5) == 0) step.name = "**";
            step.text = step.name;
            if (step.name == "*") step.nth = 0;
            if (step.name != "**") {
                switch (below(6)) {
                    case 0: step.nth = 1 + below(3); break;
                    case 1: step.nth = -1 - below(3); break;
                    case 2: step.nth = 0; step.text += "[*]"; break;
                    case 3: step.nth = 0; step.child = names[below(3)]; break;
                    case 4:
                        step.nth = 0;
                        step.child = names[below(3)];
                        step.value = values[below(3)];
                        break;
                    default: break;
                }
                if (step.nth != 0 && (step.nth != 1 || step.name == "*")) {
                    step.text += "[" + std::to_string(step.nth) + "]";
                }
                if (!step.child.empty()) {
                    std::string quoted;
                    for (const char c : step.value.value_or("")) quoted += c == '"' ? "\"\"" : std::string(1, c);
                    step.text += "[" + step.child + (step.value ? "=\"" + quoted + "\"" : "") + "]";
                }
            }
            steps.push_back(std::move(step));
        }
        std::string path;
        for (const Step& step : steps) path += (path.empty() ? "" : "/") + step.text;
        // The plain walk.
        std::vector<const Node*> reached{&root};
        std::vector<const Node*> selected;
        for (size_t k = 0; k < steps.size(); ++k) {
            const Step& step = steps[k];
            if (step.name == "**") {
                std::vector<const Node*> all;
                const std::function<void(const Node&)> add = [&](const Node& n) {
                    all.push_back(&n);
                    for (const Node& c : n.children) if (c.container) add(c);
                };
                for (const Node* n : reached) add(*n);
                reached = all;
                continue;
            }
            selected.clear();
            for (const Node* in : reached) {
                std::vector<const Node*> passing;
                for (const Node& c : in->children) {
                    if (step.name != "*" && c.name != step.name) continue;
                    if (!step.child.empty()) {
                        const bool holds = std::any_of(c.children.begin(), c.children.end(), [&](const Node& g) {
                            return g.name == step.child &&
                                   (!step.value || (!g.container && g.value.value_or("") == *step.value));
                        });
                        if (!c.container || !holds) continue;
                    }
                    passing.push_back(&c);
                }
                const auto count = static_cast<int32_t>(passing.size());
                if (step.nth == 0) selected.insert(selected.end(), passing.begin(), passing.end());
                const int32_t at = step.nth > 0 ? step.nth - 1 : count + step.nth;
                if (step.nth != 0 && at >= 0 && at < count) selected.push_back(passing[static_cast<size_t>(at)]);
            }
            reached.clear();
            for (const Node* n : selected) if (n->container) reached.push_back(n);
        }
        std::vector<int32_t> expected;
        for (const Node* n : selected) expected.push_back(n->tag);
        std::sort(expected.begin(), expected.end());
        expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
        std::vector<int32_t> got;
        for (const tag t : doc.select(path)) got.push_back(t.index());
        ASSERT_EQ(got, expected) << "seed " << seed << ": " << path << "\n" << doc.to_string();
        marl::close_all();
    }
}

TEST_F(Hpp, ReadsAndWritesTypedValues) {
    Document doc = Document::create();
    const tag t = doc.add_leaf(Document::root, "t");
    // Each text, and what each type makes of it (nullopt: errc::bad_value).
    struct Case {
        const char* text;
        std::optional<int32_t> as_int;
        std::optional<uint8_t> as_byte;
        std::optional<double> as_double;
        std::optional<bool> as_bool;
    };
    const Case cases[] = {
        {"0", 0, 0, 0.0, false},       {"1", 1, 1, 1.0, true},
        {"-17", -17, {}, -17.0, {}},   {"255", 255, 255, 255.0, {}},
        {"256", 256, {}, 256.0, {}},   {"2147483648", {}, {}, 2147483648.0, {}},
        {"2.5e3", {}, {}, 2500.0, {}}, {"true", {}, {}, {}, true},
        {"false", {}, {}, {}, false},  {"", {}, {}, {}, {}},
        {" 1", {}, {}, {}, {}},        {"1 ", {}, {}, {}, {}},
        {"+1", {}, {}, {}, {}},        {"0x10", {}, {}, {}, {}},
        {"TRUE", {}, {}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        doc.set_value(t, c.text);
        const auto expect = [&](auto wanted, auto read) {
            if (wanted) {
                EXPECT_EQ(read(), *wanted);
            } else {
                FailureOf(read, errc::bad_value);
            }
        };
        expect(c.as_int, [&] { return doc.value_as<int32_t>(t); });
        expect(c.as_byte, [&] { return doc.value_as<uint8_t>(t); });
        expect(c.as_double, [&] { return doc.value_as<double>(t); });
        expect(c.as_bool, [&] { return doc.value_as<bool>(t); });
    }
    // What set_value writes reads back the same.
    doc.set_value(t, -42);
    EXPECT_EQ(doc.value(t), "-42");
    doc.set_value(t, 0.1);
    EXPECT_EQ(doc.value_as<double>(t), 0.1);
    doc.set_value(t, true);
    EXPECT_EQ(doc.value(t), "true");
    doc.set_value(t, uint64_t{18446744073709551615u});
    EXPECT_EQ(doc.value_as<uint64_t>(t), 18446744073709551615u);
    // A fallback for a missing tag and for an empty value, never for a bad one.
    EXPECT_EQ(doc.value_or(std::nullopt, 7), 7);
    EXPECT_EQ(doc.value_or(doc.add_leaf(Document::root, "empty"), 7), 7);
    EXPECT_EQ(doc.value_or(t, "none"), "18446744073709551615");
    EXPECT_EQ(doc.value_or(std::nullopt, "none"), "none");
    FailureOf([&] { doc.value_or(t, 7); }, errc::bad_value);
}

TEST_F(Hpp, FollowsPathsAsTheToolDoes) {
    Document doc = Document::load_text(
        "<a>\n<b=\"1\">\n<b=\"2\">\n<c>\n<d=\"deep\">\n</>\n</>\n<x\x80" "2y=\"slash\">\n<l=\"leaf\">\n");
    const tag a = doc.children()[0];
    EXPECT_EQ(doc.value(*doc.at("a/b")), "1");
    EXPECT_EQ(doc.value(*doc.at("/a/b[2]")), "2");
    EXPECT_EQ(doc.value(*doc.at("a/c/d")), "deep");
    EXPECT_EQ(doc.value(*doc.at("c/d", a)), "deep");
    EXPECT_EQ(doc.value(*doc.at("x\\/y")), "slash");
    EXPECT_EQ(doc.at("a"), a);
    for (const char* missing : {"a/b[3]", "a/b[2147483647]", "a/e", "l/x", "b", "a/b/c"}) {
        EXPECT_EQ(doc.at(missing), std::nullopt) << missing;
    }
}

// The text matches the library's own printer byte for byte: escaped names, doubled quotes,
// indentation; and save replaces a file only once the whole text is written.
TEST_F(Hpp, WritesTheTextThePrinterWrites) {
    Document doc = Document::create();
    const tag box = doc.add_container(Document::root, "b=x");
    doc.add_leaf(box, "say", "\"hi\"");
    doc.add_container(doc.add_container(box, "inner"), "empty");
    doc.add_leaf(Document::root, "end");
    const std::string expected =
        "<b\x80" "1x>\n  <say=\"\"\"hi\"\"\">\n  <inner>\n    <empty>\n    </>\n  </>\n</>\n<end/>\n";
    EXPECT_EQ(doc.to_string(), expected);
    std::ostringstream out;
    doc.write(out);
    EXPECT_EQ(out.str(), expected);
    EXPECT_EQ(Document::create().to_string(), "");

    const std::string path = ::testing::TempDir() + "marllib_hpp_saved.marl";
    std::ofstream(path) << "old";
    doc.save(path);
    EXPECT_EQ(Document::load(path).to_string(), expected);
    // A folder that does not exist: nothing written, and the reason given.
    const std::string nowhere = ::testing::TempDir() + "marllib_absent_dir/x.marl";
    const std::string message = FailureOf([&] { doc.save(nowhere); }, errc::unwritable_file);
    EXPECT_NE(message.find(std::strerror(ENOENT)), std::string::npos) << message;
    std::remove(path.c_str());
}

// A value is written whole by every writer at each size where a buffer of theirs changes: the
// 256 bytes that a printer's view first holds of a value, and the 16 KiB of a stream's output,
// beyond which a piece is written directly.
TEST_F(Hpp, EveryWriterWritesValuesWholeWhereBuffersChange) {
    const std::string path = ::testing::TempDir() + "marllib_hpp_sizes.marl";
    const auto read_back = [](std::FILE* file) {
        std::string bytes(64 << 10, '\0');
        std::rewind(file);
        bytes.resize(std::fread(&bytes[0], 1, bytes.size(), file));
        return bytes;
    };
    const std::pair<const char*, std::function<std::string(const Document&)>> writers[] = {
        {"write(std::ostream&)",
         [](const Document& doc) {
             std::ostringstream out;
             doc.write(out);
             return out.str();
         }},
        {"write(FILE*)",
         [&](const Document& doc) {
             const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(),
                                                                        &std::fclose);
             EXPECT_TRUE(doc.write(file.get()));
             return read_back(file.get());
         }},
        {"to_string", [](const Document& doc) { return doc.to_string(); }},
        {"save",
         [&](const Document& doc) {
             doc.save(path);
             std::ifstream in(path, std::ios::binary);
             return std::string(std::istreambuf_iterator<char>(in), {});
         }},
    };
    for (const std::size_t size : {255, 256, 257, 16383, 16384, 16385}) {
        SCOPED_TRACE(size);
        std::string value(size, '\0');
        for (std::size_t i = 0; i < size; ++i) value[i] = static_cast<char>('a' + i % 26);
        const std::string line = "<v=\"" + value + "\">\n";
        Document doc = Document::create();
        doc.add_leaf(Document::root, "v", value);
        for (const auto& [what, write] : writers) EXPECT_EQ(write(doc), line) << what;
        marl::Source source = marl::Source::load_text("<a/>\n", "a.marl");
        source.document().add_leaf(Document::root, "v", value);
        EXPECT_EQ(source.to_string(), "<a/>\n" + line) << "Source";
    }
    std::remove(path.c_str());
}

#if !defined(_WIN32)
// A piece larger than the stream output's buffer is written directly; its failure is reported
// too, also where the stream takes what follows (/dev/full fails only once its buffer is full).
TEST_F(Hpp, WriteReportsAFailedPieceLargerThanTheBuffer) {
    Document doc = Document::create();
    const tag leaf = doc.add_leaf(Document::root, "v", std::string(20 << 10, 'v'));
    for (const bool whole : {true, false}) {
        const std::unique_ptr<std::FILE, int (*)(std::FILE*)> full(std::fopen("/dev/full", "wb"),
                                                                   &std::fclose);
        ASSERT_NE(full, nullptr);
        EXPECT_FALSE(whole ? doc.write(full.get()) : doc.write(full.get(), leaf)) << whole;
    }
}

// Caps the bytes this process may write to a file while it lives (0: the cap as it was), with
// SIGXFSZ ignored, so that writes beyond the cap fail with EFBIG, as a host that sets such
// limits has them.
class FileSizeCap {
public:
    explicit FileSizeCap(rlim_t limit) : previous_(std::signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &held_);
        const rlimit capped{limit > 0 ? limit : held_.rlim_cur, held_.rlim_max};
        setrlimit(RLIMIT_FSIZE, &capped);
    }
    ~FileSizeCap() {
        setrlimit(RLIMIT_FSIZE, &held_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeCap(const FileSizeCap&) = delete;
    FileSizeCap& operator=(const FileSizeCap&) = delete;

private:
    void (*previous_)(int);
    rlimit held_{};
};

// Every kind of target save meets, as marl print -o meets them.
TEST_F(Hpp, SaveMeetsEveryTarget) {
    Document doc = Document::create();
    while (doc.children().size() < 200) doc.add_leaf(Document::root, "leaf", "a value");
    const std::string printed = doc.to_string();
    marltest::RunFileWriterTable(
        [&](const std::string& target, rlim_t limit) -> std::optional<std::string> {
            const FileSizeCap cap(limit);
            std::optional<std::string> reason;
            try {
                doc.save(target);
            } catch (const marl::error& failure) {
                // "marllib: cannot write 'TARGET': REASON", REASON ending in the cause's words.
                EXPECT_EQ(failure.code(), errc::unwritable_file);
                const std::string what = failure.what();
                const std::string said = "marllib: cannot write '" + target + "': ";
                const std::string cause = failure.cause().message();
                EXPECT_EQ(what.compare(0, said.size(), said), 0) << what;
                EXPECT_TRUE(what.size() >= said.size() + cause.size() &&
                            what.compare(what.size() - cause.size(), cause.size(), cause) == 0)
                    << what;
                reason = what.substr(std::min(said.size(), what.size()));
            }
            return reason;
        },
        printed);
}

// The descriptors this process has open.
std::size_t OpenDescriptors() {
    const auto listed = std::filesystem::directory_iterator("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(listed, std::filesystem::directory_iterator()));
}

// A save, whether it succeeds or fails, leaves no descriptor open; a failed one leaves no new
// file beside its target, also where the rename is what failed.
TEST_F(Hpp, SaveLeavesNothingOpenNorBehind) {
    namespace fs = std::filesystem;
    Document doc = Document::create();
    while (doc.children().size() < 500) doc.add_leaf(Document::root, "leaf", "a value");
    char pattern[] = "/tmp/marllib-hpp-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    const std::string file = folder + "/doc.marl";
    // Puts a folder that holds a file in the target's place while the new file is written, so
    // that the rename over it fails (EISDIR).
    const auto folder_meanwhile = [&](std::FILE* stream) {
        fs::remove(file);
        fs::create_directory(file);
        std::ofstream(file + "/inside") << "x";
        return doc.write(stream);
    };
    struct Case {
        const char* what;
        std::function<void()> write;
        int error;
    };
    const Case cases[] = {
        {"a new file", [&] { doc.save(file); }, 0},
        {"the file again", [&] { doc.save(file); }, 0},
        {"beyond the file size limit", [&] { FileSizeCap cap(1024); doc.save(file); }, EFBIG},
        {"a full device", [&] { doc.save("/dev/full"); }, ENOSPC},
        {"a folder not there", [&] { doc.save(folder + "/none/doc.marl"); }, ENOENT},
        {"a rename onto a folder", [&] { marl::replace_file(file, folder_meanwhile); }, EISDIR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::size_t open = OpenDescriptors();
        int error = 0;
        try {
            c.write();
        } catch (const marl::error& failure) {
            error = failure.cause().value();
        }
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(OpenDescriptors(), open);
        EXPECT_EQ(marltest::Names(folder), std::vector<std::string>{"doc.marl"});
    }
    EXPECT_EQ(marltest::Names(file), std::vector<std::string>{"inside"});
    fs::remove_all(folder);
}
#endif

// Where each loaded tag stands, against the places found by searching the text for the tags
// as written, with each of the three line ends.
TEST_F(Hpp, SourceKnowsWhereEveryTagStands) {
    struct Case {
        std::string text;                 // with "\n" for each line end
        std::vector<std::string> tags;    // each tag as written, in text order
    };
    const Case cases[] = {
        {"<a/>\n<b=\"1\">\n", {"<a/>", "<b=\"1\">"}},
        {"notes > before\n  <a>\n\t<b/> words after\n</>\n<c/>", {"<a>", "<b/>", "<c/>"}},
        {"<x\x80" "1y=\"2\">\n  <\x80\x80/>\n", {"<x\x80" "1y=", "<\x80\x80/>"}},
        {"<" + std::string(70, 'n') + "/>\n <z/>\n", {"<" + std::string(70, 'n'), "<z/>"}},
        {"</x>\n<a/y>\n  <b/>\n</oops>\n   <c=\"v\">\n<d>\n", {"<b/>", "<c=", "<d>"}},
        {"<a>\n  <b>\n    <c/>\n", {"<a>", "<b>", "<c/>"}},
        {"<v=\"two\nlines\">\n\n<w/>\n", {"<v=", "<w/>"}},
    };
    // The place of offset, counted afresh: LF, CR LF and a lone CR each end a line.
    const auto place = [](const std::string& text, size_t offset) {
        int32_t line = 1;
        size_t start = 0;
        for (size_t i = 0; i < offset; ++i) {
            const bool ends = text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() ||
                                                                    text[i + 1] != '\n'));
            if (ends) {
                ++line;
                start = i + 1;
            }
        }
        return std::make_pair(line, static_cast<int32_t>(offset - start) + 1);
    };
    for (const Case& c : cases) {
        for (const std::string end : {"\n", "\r\n", "\r"}) {
            std::string text;
            for (const char byte : c.text) text += byte == '\n' ? end : std::string(1, byte);
            SCOPED_TRACE(marltest::Show(text));
            const marl::Source source = marl::Source::load_text(text, "t.marl");
            size_t from = 0;
            for (size_t i = 0; i < c.tags.size(); ++i) {
                const size_t at = text.find(c.tags[i], from);
                ASSERT_NE(at, std::string::npos) << c.tags[i];
                const std::optional<marl::position> where = source.where(tag(static_cast<int32_t>(i)));
                ASSERT_TRUE(where.has_value()) << i;
                EXPECT_EQ(std::make_pair(where->line, where->column), place(text, at)) << i;
                EXPECT_EQ(where->offset, static_cast<int32_t>(at)) << i;
                from = at + 1;
            }
            EXPECT_EQ(source.where(tag(static_cast<int32_t>(c.tags.size()))), std::nullopt);
        }
    }
}

// A Source words its errors as marl check words its reports, at the tag's place; a tag added
// after the load has none, and edits move no loaded tag.
TEST_F(Hpp, SourceNamesThePlaceOfABadValue) {
    const marl::Source source =
        marl::Source::load_text("<server>\n  <port=\"80a\">\n  <on=\"yes\x01\">\n</>\n", "config.marl");
    Document doc = source.document();
    const tag port = *doc.at("server/port");
    const std::string bad = FailureOf([&] { source.value_as<int>(port); }, errc::bad_value);
    EXPECT_EQ(bad, "config.marl:2:3: error: 'port' is not a valid int: \"80a\"");
    EXPECT_EQ(FailureOf([&] { source.value_as<bool>(*doc.at("server/on")); }, errc::bad_value),
              "config.marl:3:3: error: 'on' is not a valid bool: \"yes\\x01\"");
    EXPECT_EQ(std::string(source.error_at(port, "port out of range").what()),
              "config.marl:2:3: error: port out of range");
    // A number too large for its type is out of range; a message shows a value's first 40
    // bytes at most.
    doc.set_value(port, "99999999999999999999");
    EXPECT_EQ(FailureOf([&] { source.value_as<long>(port); }, errc::bad_value),
              "config.marl:2:3: error: 'port' is out of range for long: \"99999999999999999999\"");
    doc.set_value(port, std::string(1 << 20, 'x'));
    EXPECT_EQ(FailureOf([&] { source.value_as<short>(port); }, errc::bad_value),
              "config.marl:2:3: error: 'port' is not a valid short: \"" + std::string(40, 'x') +
                  "\xE2\x80\xA6\"");
    EXPECT_EQ(FailureOf([&] { doc.value_as<short>(port); }, errc::bad_value),
              "marllib: tag 1 of document 0 holds \"" + std::string(40, 'x') +
                  "\xE2\x80\xA6\", which is not an integer");
    doc.set_value(port, 8080);
    doc.set_name(port, "listen");
    const tag added = doc.add_leaf(*doc.at("server"), "debug");
    EXPECT_EQ(source.value_as<int>(port), 8080);
    EXPECT_EQ(source.where(port)->line, 2);
    EXPECT_EQ(source.where(added), std::nullopt);
    EXPECT_EQ(std::string(source.error_at(added, "not wanted").what()),
              "config.marl: error: not wanted");
    EXPECT_EQ(source.name(), "config.marl");
    EXPECT_TRUE(source.problems().empty());

    // A file that cannot be read fails as Document::load fails.
    const std::string missing = ::testing::TempDir() + "marllib_hpp_absent.marl";
    EXPECT_EQ(FailureOf([&] { marl::Source::load(missing); }, errc::unreadable_file),
              FailureOf([&] { Document::load(missing); }, errc::unreadable_file));
}

}  // namespace
