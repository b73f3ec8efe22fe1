// marllib_Load through the exported functions: memory and file loads, short and malformed
// text, failures that register nothing, and the example documents.
#include "marllib.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "recording_handler.h"

namespace {

using namespace std::string_literals;
using marltest::Show;
namespace fs = std::filesystem;

// The tree under a collection of document doc, read back through the exports: a leaf is
// NAME or NAME="VALUE", a container NAME[...]; siblings are separated by spaces.
std::string Dump(int32_t doc, int32_t collection = MARLLIB_ROOT) {
    const int32_t count = marllib_GetTags(doc, collection, nullptr, 0);
    if (count < 0) return "<error " + std::to_string(count) + ">";
    std::vector<int32_t> tags(static_cast<size_t>(count) + 1);
    marllib_GetTags(doc, collection, tags.data(), count);
    std::string out;
    for (int32_t i = 0; i < count; ++i) {
        char name[MARLLIB_NAME_MAX];
        const int32_t nameLength = marllib_GetName(doc, tags[i], name);
        if (!out.empty()) out += ' ';
        out += Show(name, nameLength);
        const int32_t own = marllib_GetCollection(doc, tags[i]);
        if (own >= 0) {
            out += "[" + Dump(doc, own) + "]";
            continue;
        }
        const int32_t length = marllib_GetValue(doc, tags[i], nullptr, 0);
        if (length > 0) {
            std::string value(static_cast<size_t>(length), '\0');
            marllib_GetValue(doc, tags[i], &value[0], length);
            out += "=\"" + Show(value) + "\"";
        }
    }
    return out;
}

int32_t LoadText(const std::string& text) {
    return marllib_Load(text.data(), static_cast<int32_t>(text.size()));
}

// A file in the system's temporary folder, removed again when the test ends.
class TempFile {
public:
    explicit TempFile(const std::string& bytes) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path = fs::temp_directory_path() /
               ("marllib_load_" + std::string(info->name()) + "_" +
                std::to_string(++serial) + ".marl");
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(out.good()) << path.string();
    }
    ~TempFile() {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    std::string Name() const { return path.string(); }

private:
    static inline int serial = 0;
    fs::path path;
};

class Load : public ::testing::Test {
protected:
    void SetUp() override { marllib_Close(); }
    void TearDown() override { marllib_Close(); }
};

struct TextCase {
    const char* label;
    std::string text;
    std::string tree;
};

// Texts that exercise the reader end to end; each is loaded from memory and from a file.
const std::vector<TextCase>& Texts() {
    static const std::vector<TextCase> cases = {
        {"one leaf, four bytes", "<a/>", "a"},
        {"one byte", "<", ""},
        {"two bytes", "<a", ""},
        {"three bytes", "<a>", ""},
        {"nested lines", "<r>\n  <b/>\n</>\n", "r[b]"},
        {"nested lines without the last line end", "<r>\n  <b/>\n</>", "r[b]"},
        {"no '<' at all", "plain text, > and \" and / but no tag\n", ""},
        {"CR LF line ends", "<r>\r\n  <v=\"1\r\n2\">\r\n</>\r\n<w/>\r\n", "r[v=\"1\\x0D\\x0A2\"] w"},
        {"unclosed containers", "<a>\n  <b>\n    <c=\"1\">\n  <d/>\n", "a[b[c=\"1\" d]]"},
        {"surplus closing tags", "</>\n<a>\n</>\n</>\n<b/>\n", "a[] b"},
        {"malformed tags are skipped", "<a>\n</x>\n<b/y>\n<d/>\n</>\n", "a[d]"},
        {"a bad quote ends the read", "<a/>\n<b=\"v\"x>\n<c/>\n", "a"},
        {"empty value gives a leaf without value", "<a=\"\">\n<b/>\n", "a b"},
        {"doubled quotes and zero bytes", "<a=\"x\"\"\0y\">\n<n\0m/>\n"s,
         "a=\"x\"\\x00y\" n\\x00m"},
        {"escapes in names", "<x\x80" "1y=\"2\">\n<\x80" "3\x80" "2\x80\x80/>\n",
         "x=y=\"2\" >/\\x80"},
        {"lone escape byte as a container name", "<\x80>\n  <in/>\n</>\n", "\\x80[in]"},
        {"lone escape byte as a leaf name", "<\x80/>\n", "\\x80"},
        {"70-byte name is cut to 64", "<" + std::string(70, 'n') + "/>\n",
         std::string(64, 'n')},
        {"70-byte name of a value with doubled quotes is cut to 64",
         "<" + std::string(70, 'n') + "=\"a\"\"b\">\n", std::string(64, 'n') + "=\"a\"b\""},
    };
    return cases;
}

TEST_F(Load, FromMemory) {
    int32_t expectedHandle = 0;
    for (const TextCase& c : Texts()) {
        SCOPED_TRACE(c.label);
        const int32_t doc = LoadText(c.text);
        EXPECT_EQ(doc, expectedHandle++);
        EXPECT_EQ(Dump(doc), c.tree);
    }
}

TEST_F(Load, FromFile) {
    int32_t expectedHandle = 0;
    for (const TextCase& c : Texts()) {
        SCOPED_TRACE(c.label);
        const TempFile file(c.text);
        const int32_t doc = marllib_Load(file.Name().c_str(), 0);
        EXPECT_EQ(doc, expectedHandle++);
        EXPECT_EQ(Dump(doc), c.tree);
    }
}

TEST_F(Load, NumbersTagsAndCollectionsInTextOrder) {
    const int32_t doc = LoadText("<r>\n  <b/>\n</>\n<s>\n  <t>\n  </>\n  <c=\"v\">\n</>\n");
    EXPECT_EQ(Dump(doc), "r[b] s[t[] c=\"v\"]");
    EXPECT_EQ(marllib_GetTagByName(doc, MARLLIB_ROOT, "r", 1), 0);
    EXPECT_EQ(marllib_GetCollection(doc, 0), 0);
    EXPECT_EQ(marllib_GetTagByName(doc, 0, "b", 1), 1);
    EXPECT_EQ(marllib_GetTagByName(doc, MARLLIB_ROOT, "s", 1), 2);
    EXPECT_EQ(marllib_GetCollection(doc, 2), 1);
    EXPECT_EQ(marllib_GetTagByName(doc, 1, "t", 1), 3);
    EXPECT_EQ(marllib_GetCollection(doc, 3), 2);
    EXPECT_EQ(marllib_GetTagByName(doc, 1, "c", 1), 4);
}

TEST_F(Load, EmptyFileAndNullMemoryGiveEmptyDocuments) {
    const TempFile empty("");
    EXPECT_EQ(marllib_Load(empty.Name().c_str(), 0), 0);
    EXPECT_EQ(marllib_Load(empty.Name().c_str(), -7), 1);
    EXPECT_EQ(marllib_Load(nullptr, 10), 2);
    for (int32_t doc = 0; doc < 3; ++doc) {
        EXPECT_EQ(marllib_GetTags(doc, MARLLIB_ROOT, nullptr, 0), 0);
        EXPECT_EQ(marllib_AddTag(doc, MARLLIB_ROOT, "x", 1, true), 0);  // a real document
    }
}

TEST_F(Load, FailedFileLoadsRegisterNothing) {
    const fs::path missing = fs::temp_directory_path() / "marllib_load_no_such_file.marl";
    std::error_code ignored;
    fs::remove(missing, ignored);
    ASSERT_EQ(marllib_Create(), 0);
    EXPECT_EQ(marllib_Load(missing.string().c_str(), 0), MARLLIB_LOAD_UNREADABLE);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(marllib_Load(missing.string().c_str(), -1), MARLLIB_LOAD_UNREADABLE);
    EXPECT_EQ(marllib_Load(nullptr, 0), MARLLIB_LOAD_UNREADABLE);
    EXPECT_EQ(errno, EINVAL);
    // Text with a length of 0 or less names a file, and no such file exists.
    EXPECT_EQ(marllib_Load("<a/>", 0), MARLLIB_LOAD_UNREADABLE);
    EXPECT_EQ(marllib_Load("<a/>", -4), MARLLIB_LOAD_UNREADABLE);
    EXPECT_EQ(marllib_GetTags(1, MARLLIB_ROOT, nullptr, 0), MARLLIB_INVALID_HANDLE);
    // The next document gets the handle that the failed loads would have had.
    EXPECT_EQ(LoadText("<a/>"), 1);
    EXPECT_EQ(marllib_Load(missing.string().c_str(), 0), MARLLIB_LOAD_UNREADABLE);
    EXPECT_EQ(marllib_Create(), 2);
}

TEST_F(Load, TwoLoadsOfOneTextAreIndependent) {
    const std::string text = "<a>\n  <v=\"1\">\n</>\n";
    const int32_t first = LoadText(text);
    const int32_t second = LoadText(text);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(marllib_AddTag(first, 0, "extra", 5, true), 2);
    EXPECT_TRUE(marllib_SetValue(first, 1, "changed", 7));
    EXPECT_EQ(Dump(first), "a[v=\"changed\" extra]");
    EXPECT_EQ(Dump(second), "a[v=\"1\"]");
}

TEST_F(Load, LeavesTheHostsBufferUntouchedAndUnreferenced) {
    const std::string text = "<a>\n  <v=\"x\"\"y\">\n  <w=\"plain\">\n  <k\x80" "1/>\n</>\n";
    std::vector<char> buffer(text.begin(), text.end());
    const int32_t doc = marllib_Load(buffer.data(), static_cast<int32_t>(buffer.size()));
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), text);
    // The document keeps copies: the buffer may be reused and freed at once.
    std::fill(buffer.begin(), buffer.end(), '#');
    buffer.clear();
    buffer.shrink_to_fit();
    EXPECT_EQ(Dump(doc), "a[v=\"x\"y\" w=\"plain\" k=]");
}

TEST_F(Load, FileAndMemoryGiveTheSameDocument) {
    // A longer file with CR LF line ends: the bytes reach the reader unchanged.
    std::string text;
    for (int i = 0; i < 200; ++i) {
        text += "<item>\r\n  <id=\"" + std::to_string(i) + "\">\r\n  <on/>\r\n</>\r\n";
    }
    const TempFile file(text);
    const int32_t fromFile = marllib_Load(file.Name().c_str(), 0);
    const int32_t fromMemory = LoadText(text);
    ASSERT_GE(fromFile, 0);
    EXPECT_EQ(marllib_GetTags(fromFile, MARLLIB_ROOT, nullptr, 0), 200);
    EXPECT_EQ(Dump(fromFile), Dump(fromMemory));
}

TEST_F(Load, RoomsExampleGivesTheDescribedTree) {
    const int32_t doc = marllib_Load(MARLLIB_EXAMPLES_DIR "/rooms.marl", 0);
    ASSERT_EQ(doc, 0);
    EXPECT_EQ(Dump(doc), "rooms[room[name=\"Hall \"B\"\" open] x=y=\"2\"]");
    // rooms is tag 0 with collection 0, room tag 1 with collection 1.
    EXPECT_EQ(marllib_GetCollection(doc, 0), 0);
    EXPECT_EQ(marllib_GetCollection(doc, 1), 1);
    char value[16];
    EXPECT_EQ(marllib_GetValue(doc, marllib_GetTagByName(doc, 1, "name", 4), value, 16), 8);
    EXPECT_EQ(std::string(value, 8), "Hall \"B\"");
    EXPECT_EQ(marllib_GetValue(doc, marllib_GetTagByName(doc, 1, "open", 4), value, 16), 0);
}

TEST_F(Load, ConfigExampleLoadsWhole) {
    const int32_t doc = marllib_Load(MARLLIB_EXAMPLES_DIR "/config.marl", 0);
    ASSERT_EQ(doc, 0);
    // Every line but a closing one is a tag of its own: nothing was swallowed or skipped.
    std::ifstream in(MARLLIB_EXAMPLES_DIR "/config.marl", std::ios::binary);
    std::string line;
    int32_t lines = 0;
    int32_t closing = 0;
    while (std::getline(in, line)) {
        ++lines;
        if (line.find("</>") != std::string::npos) ++closing;
    }
    EXPECT_GE(lines, 40);
    int32_t total = 0;
    for (int32_t tag = 0; marllib_GetName(doc, tag, nullptr) > 0; ++tag) ++total;
    EXPECT_EQ(total, lines - closing);
    EXPECT_EQ(marllib_GetTags(doc, MARLLIB_ROOT, nullptr, 0), 1);
    EXPECT_EQ(Dump(doc),
              "application["
              "name=\"Harbour Log\" version=\"2.4.1\" "
              "server[host=\"0.0.0.0\" port=\"8080\" tls[enabled certificate=\"/etc/harbour/cert.pem\" "
              "key=\"/etc/harbour/key.pem\"] limits[connections=\"256\" request-bytes=\"1048576\" "
              "timeout-seconds=\"30\"]] "
              "storage[path=\"/var/lib/harbour\" compress retention[days=\"90\" "
              "keep-tagged]] "
              "logging[level=\"info\" format=\"[%time%] %level% \"%message%\"\" "
              "outputs[console file[path=\"/var/log/harbour.log\" rotate-mb=\"64\"]]] "
              "users[user[name=\"ada\" role=\"admin\" greeting=\"Say \"hello\" first\"] "
              "user[name=\"grace\" role=\"editor\"] user[name=\"guest\" disabled]] "
              "features[search experimental[] export=\"csv,json\"]"
              "]");
}

}  // namespace
