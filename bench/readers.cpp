#include "readers.h"

#include <expat.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlversion.h>
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <simdjson.h>
#include <tinyxml2.h>

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "marllib.h"
#include "marllib_source.hpp"
#include "marllib_format.hpp"
#include "marllib_load.h"

namespace bench {

namespace {

std::string Describe(const Digest& found, const Expected& expected) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "found %" PRIu64 " tags (digest %016" PRIx64 "), generated %" PRIu64
                  " (digest %016" PRIx64 ")",
                  found.Tags(), found.Value(), expected.tags, expected.digest);
    return text;
}

bool Matches(const Digest& found, const Expected& expected, std::string& why) {
    if (found.Tags() == expected.tags && found.Value() == expected.digest) return true;
    why = Describe(found, expected);
    return false;
}

// ---- marllib, through its exported functions only ----

// Walks the document in order through marllib_GetTags, marllib_GetName,
// marllib_GetCollection and marllib_GetValue, the way a host would.
bool WalkMarllib(int32_t handle, Digest& digest, std::string& why) {
    struct Frame {
        std::vector<int32_t> tags;
        size_t next = 0;
    };
    auto list = [&](int32_t collection, Frame& frame) {
        const int32_t count = marllib_GetTags(handle, collection, nullptr, 0);
        if (count < 0) return false;
        frame.tags.resize(static_cast<size_t>(count));
        return count == 0 || marllib_GetTags(handle, collection, frame.tags.data(), count) == count;
    };
    std::vector<Frame> stack(1);
    if (!list(MARLLIB_ROOT, stack[0])) {
        why = "the root collection cannot be listed";
        return false;
    }
    char name[MARLLIB_NAME_MAX];
    std::string value;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.tags.size()) {
            stack.pop_back();
            continue;
        }
        const int32_t tag = frame.tags[frame.next++];
        const auto depth = static_cast<uint32_t>(stack.size() - 1);
        const int32_t nameLength = marllib_GetName(handle, tag, name);
        const int32_t collection = marllib_GetCollection(handle, tag);
        if (nameLength < 1 || nameLength > MARLLIB_NAME_MAX) {
            why = "tag " + std::to_string(tag) + " has no name";
            return false;
        }
        const size_t length = static_cast<size_t>(nameLength);
        if (collection >= 0) {
            digest.Add(depth, name, length, "", 0);
            Frame inner;
            if (!list(collection, inner)) {
                why = "collection " + std::to_string(collection) + " cannot be listed";
                return false;
            }
            stack.push_back(std::move(inner));
        } else if (collection == MARLLIB_GETCOLLECTION_LEAF) {
            const int32_t valueLength = marllib_GetValue(handle, tag, nullptr, 0);
            if (valueLength < 0) {
                why = "leaf " + std::to_string(tag) + " gives value length " +
                      std::to_string(valueLength);
                return false;
            }
            value.resize(static_cast<size_t>(valueLength));
            marllib_GetValue(handle, tag, value.data(), valueLength);
            digest.Add(depth, name, length, value.data(), value.size());
        } else {
            why = "tag " + std::to_string(tag) + " gives collection " + std::to_string(collection);
            return false;
        }
    }
    return true;
}

// Whether the document's root collection holds the generated number of tags.
bool RootHolds(int32_t handle, const Expected& expected, std::string& why) {
    const int32_t count = marllib_GetTags(handle, MARLLIB_ROOT, nullptr, 0);
    if (count == expected.rootCount) return true;
    why = "root holds " + std::to_string(count) + " tags, generated " +
          std::to_string(expected.rootCount);
    return false;
}

class MarllibReader : public Reader {
public:
    // length 0 makes source a path.
    MarllibReader(const char* source, int32_t length, const Expected& expected)
        : source_(source), length_(length), expected_(expected) {}
    ~MarllibReader() override { marllib_Close(); }

    bool Load(std::string& why) override {
        handle_ = marllib_Load(source_, length_);
        if (handle_ >= 0) return true;
        why = "marllib_Load returned " + std::to_string(handle_);
        return false;
    }
    bool Recheck(std::string& why) override { return RootHolds(handle_, expected_, why); }
    bool Verify(std::string& why) override {
        Digest found;
        return WalkMarllib(handle_, found, why) && Matches(found, expected_, why);
    }
    void Free() override {
        marllib_Close();
        handle_ = -1;
    }

private:
    const char* source_;
    int32_t length_;
    const Expected& expected_;
    int32_t handle_ = -1;
};

// ---- marllib's C++ layer: a file loaded as a marl::Document and as a marl::Source ----

// marl::Document::load(path): marllib_Load(path, 0), reached through marllib.hpp.
class DocumentLoadReader : public Reader {
public:
    DocumentLoadReader(const std::string& path, const Expected& expected)
        : path_(path), expected_(expected) {}
    ~DocumentLoadReader() override { marl::close_all(); }

    bool Load(std::string& why) override {
        try {
            handle_ = marl::Document::load(path_).handle();
        } catch (const std::exception& failure) {
            why = failure.what();
            return false;
        }
        return true;
    }
    bool Recheck(std::string& why) override { return RootHolds(handle_, expected_, why); }
    bool Verify(std::string& why) override {
        Digest found;
        return RootHolds(handle_, expected_, why) && WalkMarllib(handle_, found, why) &&
               Matches(found, expected_, why);
    }
    void Free() override {
        marl::close_all();
        handle_ = -1;
    }

private:
    const std::string& path_;
    const Expected& expected_;
    int32_t handle_ = -1;
};

// marl::Source::load(path): the file read whole and loaded from memory; with `placed`, also
// the first position asked for (tag 0's), for which the public reader runs over the same bytes
// for every tag's offset and the text's problems. The generated text has none; where the first
// tag starts the text, it must stand at line 1, column 1.
class SourceLoadReader : public Reader {
public:
    SourceLoadReader(const std::string& path, const Expected& expected, bool firstTagAtStart,
                     bool placed)
        : path_(path), expected_(expected), firstTagAtStart_(firstTagAtStart), placed_(placed) {}
    ~SourceLoadReader() override {
        source_.reset();
        marl::close_all();
    }

    bool Load(std::string& why) override {
        try {
            source_.emplace(marl::Source::load(path_));
            if (placed_ && expected_.tags > 0) source_->where(marl::tag(0));
        } catch (const std::exception& failure) {
            why = failure.what();
            return false;
        }
        return true;
    }
    bool Recheck(std::string& why) override {
        return RootHolds(source_->document().handle(), expected_, why);
    }
    bool Verify(std::string& why) override {
        const int32_t handle = source_->document().handle();
        Digest found;
        if (!RootHolds(handle, expected_, why) || !WalkMarllib(handle, found, why) ||
            !Matches(found, expected_, why)) {
            return false;
        }
        if (!source_->problems().empty()) {
            why = "the text has problems: " + source_->describe(source_->problems().front());
            return false;
        }
        if (expected_.tags > 0 && firstTagAtStart_) {
            const std::optional<marl::position> at = source_->where(marl::tag(0));
            if (!at || at->line != 1 || at->column != 1) {
                why = at ? "tag 0 stands at line " + std::to_string(at->line) + ", column " +
                               std::to_string(at->column) + ", not at 1:1"
                         : "tag 0 has no place";
                return false;
            }
        }
        return true;
    }
    void Free() override {
        source_.reset();
        marl::close_all();
    }

private:
    const std::string& path_;
    const Expected& expected_;
    bool firstTagAtStart_;
    bool placed_;
    std::optional<marl::Source> source_;
};

// Two pieces of Source::load alone (the third, marllib_Load from memory, is MarllibReader).
// The file read whole into a std::string, as Source::load reads it; the text must come back.
class TextReadReader : public Reader {
public:
    TextReadReader(const std::string& path, const std::string& marl) : path_(path), marl_(marl) {}

    bool Load(std::string& why) override {
        if (const int reason = marl::read_file(path_.c_str(), text_)) {
            why = "reading the file: " + marl::read_reason(reason);
            return false;
        }
        return true;
    }
    bool Recheck(std::string& why) override {
        if (text_.size() == marl_.size()) return true;
        why = "read " + std::to_string(text_.size()) + " bytes of " + std::to_string(marl_.size());
        return false;
    }
    bool Verify(std::string& why) override {
        if (text_ == marl_) return true;
        why = "the bytes read are not the file's";
        return false;
    }
    void Free() override { std::string().swap(text_); }

private:
    const std::string& path_;
    const std::string& marl_;
    std::string text_;
};

// The pass of the reader that a Source runs over its text in memory on the first call that
// needs it (every tag's offset and what an edit needs, the text's problems), kept until freed
// as a Source keeps what it found.
class SurveyReader : public Reader {
public:
    SurveyReader(const std::string& marl, const Expected& expected)
        : marl_(marl), expected_(expected) {}

    bool Load(std::string&) override {
        survey_.emplace(marl_, marl::Source::all_problems);
        survey_->read_all();
        return true;
    }
    bool Recheck(std::string& why) override {
        const size_t found = survey_->places.tags().size();
        if (found == expected_.tags) return true;
        why = "found " + std::to_string(found) + " tags, generated " +
              std::to_string(expected_.tags);
        return false;
    }
    bool Verify(std::string& why) override {
        if (!Recheck(why)) return false;
        if (survey_->findings.empty()) return true;
        why = "the text has problems: " + survey_->findings.front().message;
        return false;
    }
    void Free() override { survey_.reset(); }

private:
    const std::string& marl_;
    const Expected& expected_;
    std::optional<marl::detail::survey_reader> survey_;
};

// ---- floors: what any loader of the Marl text does at the least ----

// A memchr pass over the Marl text that counts every '<': each tag and each closing "</>"
// starts with one, and no name or value of the generated trees holds one, so there are as many
// as tags and containers together. No loader finds its tags with less work.
class MemchrFloor : public Reader {
public:
    MemchrFloor(const std::string& marl, const Expected& expected)
        : marl_(marl), expected_(expected) {}

    bool Load(std::string&) override {
        const char* at = marl_.data();
        const char* const end = at + marl_.size();
        uint64_t count = 0;
        while ((at = static_cast<const char*>(std::memchr(at, '<', static_cast<size_t>(end - at))))) {
            ++count;
            ++at;
        }
        count_ = count;
        return true;
    }
    bool Recheck(std::string& why) override { return Verify(why); }
    bool Verify(std::string& why) override {
        if (count_ == expected_.tags + expected_.containers) return true;
        why = "counted " + std::to_string(count_) + " '<', generated " +
              std::to_string(expected_.tags + expected_.containers);
        return false;
    }
    void Free() override { count_ = 0; }

private:
    const std::string& marl_;
    const Expected& expected_;
    uint64_t count_ = 0;
};

// The whole Marl text copied with memcpy into a buffer allocated before the load: no loader
// that keeps what it read touches less memory. The buffer's pages are new to a first load, as
// a tree's are, and reused by repeated ones.
class MemcpyFloor : public Reader {
public:
    explicit MemcpyFloor(const std::string& marl)
        : marl_(marl), copy_(new char[std::max<size_t>(marl.size(), 1)]) {}

    bool Load(std::string&) override {
        std::memcpy(copy_.get(), marl_.data(), marl_.size());
        return true;
    }
    bool Recheck(std::string& why) override {
        if (marl_.empty() || copy_[marl_.size() - 1] == marl_.back()) return true;
        why = "the copy's last byte is not the text's";
        return false;
    }
    bool Verify(std::string& why) override {
        if (std::memcmp(copy_.get(), marl_.data(), marl_.size()) == 0) return true;
        why = "the copy is not the text";
        return false;
    }
    void Free() override {}

private:
    const std::string& marl_;
    std::unique_ptr<char[]> copy_;
};

// ---- XML DOMs ----

// Walks the elements under `top` (the <doc> element) in document order. Traits supplies
// FirstElement, NextElement, Parent, Name and Text for the library's node type.
template <class Traits>
void WalkXml(typename Traits::Node top, Digest& digest) {
    using Node = typename Traits::Node;
    Node node = Traits::FirstElement(top);
    uint32_t depth = 0;
    while (node) {
        const Node child = Traits::FirstElement(node);
        const char* name = Traits::Name(node);
        // An element with element children is a container; any other holds a leaf's value.
        // Text of white space only is layout (an empty container's line end), not a value.
        std::string_view text = child ? "" : Traits::Text(node);
        if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) text = {};
        digest.Add(depth, name, std::strlen(name), text.data(), text.size());
        if (child) {
            node = child;
            ++depth;
            continue;
        }
        for (;;) {
            if (const Node sibling = Traits::NextElement(node)) {
                node = sibling;
                break;
            }
            if (depth == 0) {
                node = Node();
                break;
            }
            node = Traits::Parent(node);
            --depth;
        }
    }
}

struct PugiTraits {
    using Node = pugi::xml_node;
    static Node Element(Node n) {
        while (n && n.type() != pugi::node_element) n = n.next_sibling();
        return n;
    }
    static Node FirstElement(Node n) { return Element(n.first_child()); }
    static Node NextElement(Node n) { return Element(n.next_sibling()); }
    static Node Parent(Node n) { return n.parent(); }
    static const char* Name(Node n) { return n.name(); }
    static const char* Text(Node n) { return n.child_value(); }
};

struct TinyTraits {
    using Node = const tinyxml2::XMLElement*;
    static Node FirstElement(Node n) { return n->FirstChildElement(); }
    static Node NextElement(Node n) { return n->NextSiblingElement(); }
    static Node Parent(Node n) { return n->Parent()->ToElement(); }
    static const char* Name(Node n) { return n->Name(); }
    static const char* Text(Node n) {
        const char* text = n->GetText();
        return text ? text : "";
    }
};

struct Libxml2Traits {
    using Node = xmlNode*;
    static Node Element(Node n) {
        while (n && n->type != XML_ELEMENT_NODE) n = n->next;
        return n;
    }
    static Node FirstElement(Node n) { return Element(n->children); }
    static Node NextElement(Node n) { return Element(n->next); }
    static Node Parent(Node n) { return n->parent; }
    static const char* Name(Node n) { return reinterpret_cast<const char*>(n->name); }
    static const char* Text(Node n) {
        const Node text = n->children;
        if (text == nullptr || text->type != XML_TEXT_NODE || text->content == nullptr) return "";
        return reinterpret_cast<const char*>(text->content);
    }
};

template <class Traits>
bool CheckRoot(typename Traits::Node top, const Expected& expected, std::string& why) {
    int32_t count = 0;
    if (top) {
        for (auto n = Traits::FirstElement(top); n; n = Traits::NextElement(n)) ++count;
    }
    if (count == expected.rootCount) return true;
    why = "root holds " + std::to_string(count) + " tags, generated " +
          std::to_string(expected.rootCount);
    return false;
}

class PugixmlReader : public Reader {
public:
    PugixmlReader(const std::string& xml, const Expected& expected)
        : xml_(xml), expected_(expected) {}

    bool Load(std::string& why) override {
        document_ = std::make_unique<pugi::xml_document>();
        const pugi::xml_parse_result result = document_->load_buffer(xml_.data(), xml_.size());
        if (result) return true;
        why = std::string("pugixml: ") + result.description() + " at offset " +
              std::to_string(result.offset);
        return false;
    }
    bool Recheck(std::string& why) override {
        return CheckRoot<PugiTraits>(document_->document_element(), expected_, why);
    }
    bool Verify(std::string& why) override {
        Digest found;
        WalkXml<PugiTraits>(document_->document_element(), found);
        return Matches(found, expected_, why);
    }
    void Free() override { document_.reset(); }

private:
    const std::string& xml_;
    const Expected& expected_;
    std::unique_ptr<pugi::xml_document> document_;
};

class Tinyxml2Reader : public Reader {
public:
    Tinyxml2Reader(const std::string& xml, const Expected& expected)
        : xml_(xml), expected_(expected) {}

    bool Load(std::string& why) override {
        document_ = std::make_unique<tinyxml2::XMLDocument>();
        if (document_->Parse(xml_.data(), xml_.size()) == tinyxml2::XML_SUCCESS) return true;
        why = std::string("tinyxml2: ") + document_->ErrorName() + " at line " +
              std::to_string(document_->ErrorLineNum());
        return false;
    }
    bool Recheck(std::string& why) override {
        return CheckRoot<TinyTraits>(document_->RootElement(), expected_, why);
    }
    bool Verify(std::string& why) override {
        Digest found;
        if (const auto* top = document_->RootElement()) WalkXml<TinyTraits>(top, found);
        return Matches(found, expected_, why);
    }
    void Free() override { document_.reset(); }

private:
    const std::string& xml_;
    const Expected& expected_;
    std::unique_ptr<tinyxml2::XMLDocument> document_;
};

class Libxml2Reader : public Reader {
public:
    Libxml2Reader(const std::string& xml, const Expected& expected)
        : xml_(xml), expected_(expected) {}
    ~Libxml2Reader() override { Free(); }

    bool Load(std::string& why) override {
        // NOBLANKS drops whitespace-only text, as pugixml and tinyxml2 do by default; HUGE
        // lifts the parser's built-in depth and size limits.
        document_ = xmlReadMemory(xml_.data(), static_cast<int>(xml_.size()), "bench.xml",
                                  nullptr, XML_PARSE_NOBLANKS | XML_PARSE_HUGE);
        if (document_ != nullptr) return true;
        const xmlError* error = xmlGetLastError();
        why = std::string("libxml2: ") + (error && error->message ? error->message : "failed");
        while (!why.empty() && why.back() == '\n') why.pop_back();
        return false;
    }
    bool Recheck(std::string& why) override {
        return CheckRoot<Libxml2Traits>(xmlDocGetRootElement(document_), expected_, why);
    }
    bool Verify(std::string& why) override {
        Digest found;
        if (xmlNode* top = xmlDocGetRootElement(document_)) WalkXml<Libxml2Traits>(top, found);
        return Matches(found, expected_, why);
    }
    void Free() override {
        if (document_ != nullptr) xmlFreeDoc(document_);
        document_ = nullptr;
    }

private:
    const std::string& xml_;
    const Expected& expected_;
    xmlDoc* document_ = nullptr;
};

// ---- expat: no tree, only counting handlers ----

class ExpatReader : public Reader {
public:
    ExpatReader(const std::string& xml, const Expected& expected)
        : xml_(xml), expected_(expected) {}
    ~ExpatReader() override { Free(); }

    bool Load(std::string& why) override {
        counts_ = Counts();
        parser_ = XML_ParserCreate(nullptr);
        XML_SetUserData(parser_, &counts_);
        XML_SetElementHandler(parser_, Start, End);
        XML_SetCharacterDataHandler(parser_, Text);
        if (XML_Parse(parser_, xml_.data(), static_cast<int>(xml_.size()), 1) != XML_STATUS_ERROR)
            return true;
        why = std::string("expat: ") + XML_ErrorString(XML_GetErrorCode(parser_)) + " at line " +
              std::to_string(XML_GetCurrentLineNumber(parser_));
        return false;
    }
    bool Recheck(std::string& why) override { return Verify(why); }
    // Counts only: every generated tag is one element, plus the <doc> element around them.
    bool Verify(std::string& why) override {
        if (counts_.starts == expected_.tags + 1 && counts_.ends == counts_.starts) return true;
        why = "saw " + std::to_string(counts_.starts) + " element starts and " +
              std::to_string(counts_.ends) + " ends, generated " +
              std::to_string(expected_.tags) + " tags";
        return false;
    }
    void Free() override {
        if (parser_ != nullptr) XML_ParserFree(parser_);
        parser_ = nullptr;
    }

private:
    struct Counts {
        uint64_t starts = 0;
        uint64_t ends = 0;
        uint64_t textBytes = 0;
    };
    static void XMLCALL Start(void* data, const XML_Char*, const XML_Char**) {
        ++static_cast<Counts*>(data)->starts;
    }
    static void XMLCALL End(void* data, const XML_Char*) { ++static_cast<Counts*>(data)->ends; }
    static void XMLCALL Text(void* data, const XML_Char*, int length) {
        static_cast<Counts*>(data)->textBytes += static_cast<uint64_t>(length);
    }

    const std::string& xml_;
    const Expected& expected_;
    XML_Parser parser_ = nullptr;
    Counts counts_;
};

// ---- RapidJSON ----

class RapidjsonReader : public Reader {
public:
    RapidjsonReader(const std::string& json, const Expected& expected)
        : json_(json), expected_(expected) {}

    bool Load(std::string& why) override {
        document_ = std::make_unique<rapidjson::Document>();
        document_->Parse(json_.data(), json_.size());
        if (!document_->HasParseError()) return true;
        why = std::string("RapidJSON: ") + rapidjson::GetParseError_En(document_->GetParseError()) +
              " at offset " + std::to_string(document_->GetErrorOffset());
        return false;
    }
    bool Recheck(std::string& why) override {
        const auto count = document_->IsObject() ? document_->MemberCount() : 0;
        if (count == static_cast<rapidjson::SizeType>(expected_.rootCount)) return true;
        why = "root holds " + std::to_string(count) + " members, generated " +
              std::to_string(expected_.rootCount);
        return false;
    }
    bool Verify(std::string& why) override {
        if (!document_->IsObject()) {
            why = "the document is not an object";
            return false;
        }
        struct Frame {
            rapidjson::Value::ConstMemberIterator at, end;
        };
        std::vector<Frame> stack{{document_->MemberBegin(), document_->MemberEnd()}};
        Digest found;
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.at == frame.end) {
                stack.pop_back();
                continue;
            }
            const auto& member = *frame.at++;
            const auto depth = static_cast<uint32_t>(stack.size() - 1);
            const char* name = member.name.GetString();
            const size_t nameLength = member.name.GetStringLength();
            const rapidjson::Value& value = member.value;
            if (value.IsObject()) {
                found.Add(depth, name, nameLength, "", 0);
                stack.push_back({value.MemberBegin(), value.MemberEnd()});
            } else if (value.IsString()) {
                found.Add(depth, name, nameLength, value.GetString(), value.GetStringLength());
            } else if (value.IsNull()) {
                found.Add(depth, name, nameLength, "", 0);
            } else {
                why = "a member is neither an object, a string nor null";
                return false;
            }
        }
        return Matches(found, expected_, why);
    }
    void Free() override { document_.reset(); }

private:
    const std::string& json_;
    const Expected& expected_;
    std::unique_ptr<rapidjson::Document> document_;
};

// ---- simdjson ----

// simdjson's DOM parser over the JSON form. simdjson reads up to SIMDJSON_PADDING bytes past
// the text, so the reader keeps a padded copy of it (made before any load, as a program would
// read its file into such a buffer) and parses that without a further copy. The parser is
// kept from load to load: the tree lives in its buffers, which it allocates on its first load
// and reuses, as simdjson is meant to be used; freeing drops nothing. Its depth limit (1024 by
// default) is raised to the deepest tree the input's tags could make, one level a tag and one
// for the outer object, on the first load, where it allocates anyway.
class SimdjsonReader : public Reader {
public:
    SimdjsonReader(const std::string& json, const Expected& expected)
        : json_(json), expected_(expected) {}

    bool Load(std::string& why) override {
        const size_t depth = static_cast<size_t>(expected_.tags) + 2;
        if (parser_.max_depth() < depth || parser_.capacity() < json_.size()) {
            if (const simdjson::error_code error = parser_.allocate(json_.size(), depth)) {
                why = std::string("simdjson: ") + simdjson::error_message(error);
                return false;
            }
        }
        if (const simdjson::error_code error = parser_.parse(json_).get(root_)) {
            why = std::string("simdjson: ") + simdjson::error_message(error);
            return false;
        }
        return true;
    }
    bool Recheck(std::string& why) override {
        simdjson::dom::object top;
        const size_t count = root_.get_object().get(top) ? 0 : top.size();
        if (count == static_cast<size_t>(expected_.rootCount)) return true;
        why = "root holds " + std::to_string(count) + " members, generated " +
              std::to_string(expected_.rootCount);
        return false;
    }
    bool Verify(std::string& why) override {
        simdjson::dom::object top;
        if (root_.get_object().get(top)) {
            why = "the document is not an object";
            return false;
        }
        struct Frame {
            simdjson::dom::object::iterator at, end;
        };
        std::vector<Frame> stack{{top.begin(), top.end()}};
        Digest found;
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.at == frame.end) {
                stack.pop_back();
                continue;
            }
            const std::string_view name = frame.at.key();
            const simdjson::dom::element value = frame.at.value();
            ++frame.at;
            const auto depth = static_cast<uint32_t>(stack.size() - 1);
            simdjson::dom::object object;
            std::string_view text;
            if (!value.get_object().get(object)) {
                found.Add(depth, name.data(), name.size(), "", 0);
                stack.push_back({object.begin(), object.end()});
            } else if (!value.get_string().get(text)) {
                found.Add(depth, name.data(), name.size(), text.data(), text.size());
            } else if (value.is_null()) {
                found.Add(depth, name.data(), name.size(), "", 0);
            } else {
                why = "a member is neither an object, a string nor null";
                return false;
            }
        }
        return Matches(found, expected_, why);
    }
    void Free() override { root_ = simdjson::dom::element(); }

private:
    const simdjson::padded_string json_;
    const Expected& expected_;
    simdjson::dom::parser parser_;
    simdjson::dom::element root_;
};

// ---- printers ----

class MarllibPrinter : public Printer {
public:
    explicit MarllibPrinter(const std::string& marl) : marl_(marl) {}

    bool Prepare(std::string& why) override {
        document_ = MarlLib::LoadText(marl_.data(), static_cast<int32_t>(marl_.size()));
        if (document_ && document_->TagCount() > 0) return true;
        why = "the document to print is empty";
        return false;
    }
    void Print(FILE* stream) override { document_->Print(stream); }
    bool Verify(const char* text, size_t length, std::string& why) override {
        if (length == marl_.size() && std::memcmp(text, marl_.data(), length) == 0) return true;
        size_t at = 0;
        while (at < length && at < marl_.size() && text[at] == marl_[at]) ++at;
        why = "printed " + std::to_string(length) + " bytes, the loaded text has " +
              std::to_string(marl_.size()) + "; first difference at byte " + std::to_string(at);
        return false;
    }

private:
    const std::string& marl_;
    std::unique_ptr<MarlClass::Document> document_;
};

// Gives every element under root that holds elements the lines of marllib's printer, as
// whitespace text around its children: a line per element, indented by MarlFormat's width
// for its depth, closing lines included. pugixml's own indentation has no cap, so this is how
// it writes the same text as marllib for a deep tree. Leaves (elements with text) keep theirs.
void AddMarlLines(pugi::xml_node root) {
    const auto blanks = [](size_t depth) {
        return "\n" + std::string(MarlFormat::IndentWidth(depth), ' ');
    };
    // Depth-first without recursion, so that a tree of any depth takes no deep stack.
    std::vector<std::pair<pugi::xml_node, size_t>> open{{root, 0}};
    while (!open.empty()) {
        auto [element, depth] = open.back();
        open.pop_back();
        if (element.first_child().type() == pugi::node_pcdata) continue;
        for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
            element.insert_child_before(pugi::node_pcdata, child)
                .set_value(blanks(depth + 1).c_str());
            open.push_back({child, depth + 1});
        }
        element.append_child(pugi::node_pcdata).set_value(blanks(depth).c_str());
    }
    root.parent().append_child(pugi::node_pcdata).set_value("\n");
}

class PugixmlPrinter : public Printer {
public:
    PugixmlPrinter(const std::string& xml, const Expected& expected, const char* indent)
        : xml_(xml), expected_(expected), indent_(indent) {}

    bool Prepare(std::string& why) override {
        const pugi::xml_parse_result result = document_.load_buffer(xml_.data(), xml_.size());
        if (!result) {
            why = std::string("pugixml: ") + result.description();
            return false;
        }
        if (indent_ == nullptr) AddMarlLines(document_.document_element());
        return true;
    }
    void Print(FILE* stream) override {
        pugi::xml_writer_file writer(stream);
        if (indent_ == nullptr) {
            document_.save(writer, "", pugi::format_raw | pugi::format_no_declaration);
        } else {
            document_.save(writer, indent_, pugi::format_indent | pugi::format_no_declaration);
        }
    }
    // pugixml writes its own layout (<a /> for an empty element, say): read it back instead.
    // (Whitespace-only text is dropped on reading, so the lines of AddMarlLines go too.)
    bool Verify(const char* text, size_t length, std::string& why) override {
        pugi::xml_document again;
        const pugi::xml_parse_result result = again.load_buffer(text, length);
        if (!result) {
            why = std::string("reading the output back: ") + result.description();
            return false;
        }
        Digest found;
        WalkXml<PugiTraits>(again.document_element(), found);
        return Matches(found, expected_, why);
    }

private:
    const std::string& xml_;
    const Expected& expected_;
    const char* indent_;  // null: marllib's lines, written raw
    pugi::xml_document document_;
};

// libxml2 reports errors on stderr by default; the benchmark reads them from xmlGetLastError.
void QuietLibxml2(void*, const char*, ...) {}

}  // namespace

Reader* NewMarllibMemory(const std::string& marl, const Expected& expected) {
    return new MarllibReader(marl.data(), static_cast<int32_t>(marl.size()), expected);
}
Reader* NewMarllibFile(const std::string& path, const Expected& expected) {
    return new MarllibReader(path.c_str(), 0, expected);
}
Reader* NewDocumentLoad(const std::string& path, const Expected& expected) {
    return new DocumentLoadReader(path, expected);
}
Reader* NewSourceLoad(const std::string& path, const Expected& expected, bool firstTagAtStart,
                      bool placed) {
    return new SourceLoadReader(path, expected, firstTagAtStart, placed);
}
Reader* NewTextRead(const std::string& path, const std::string& marl) {
    return new TextReadReader(path, marl);
}
Reader* NewSurvey(const std::string& marl, const Expected& expected) {
    return new SurveyReader(marl, expected);
}
Reader* NewMemchrFloor(const std::string& marl, const Expected& expected) {
    return new MemchrFloor(marl, expected);
}
Reader* NewMemcpyFloor(const std::string& marl) { return new MemcpyFloor(marl); }
Reader* NewPugixml(const std::string& xml, const Expected& expected) {
    return new PugixmlReader(xml, expected);
}
Reader* NewTinyxml2(const std::string& xml, const Expected& expected) {
    return new Tinyxml2Reader(xml, expected);
}
Reader* NewLibxml2(const std::string& xml, const Expected& expected) {
    return new Libxml2Reader(xml, expected);
}
Reader* NewExpat(const std::string& xml, const Expected& expected) {
    return new ExpatReader(xml, expected);
}
Reader* NewRapidjson(const std::string& json, const Expected& expected) {
    return new RapidjsonReader(json, expected);
}
Reader* NewSimdjson(const std::string& json, const Expected& expected) {
    return new SimdjsonReader(json, expected);
}
Printer* NewMarllibPrinter(const std::string& marl) { return new MarllibPrinter(marl); }
Printer* NewPugixmlPrinter(const std::string& xml, const Expected& expected,
                           const char* indent) {
    return new PugixmlPrinter(xml, expected, indent);
}

void InitReaders() {
    xmlInitParser();
    xmlSetGenericErrorFunc(nullptr, QuietLibxml2);
}

std::string PeerVersions() {
    char text[320];
    const std::string simdjsonKernel = simdjson::get_active_implementation()->name();
    std::snprintf(text, sizeof text,
                  "pugixml %d.%d, tinyxml2 %d.%d.%d, libxml2 %s, %s, RapidJSON %s, "
                  "simdjson %d.%d.%d (%s kernel)",
                  PUGIXML_VERSION / 1000, PUGIXML_VERSION / 10 % 100,
                  TIXML2_MAJOR_VERSION, TIXML2_MINOR_VERSION,
                  TIXML2_PATCH_VERSION, LIBXML_DOTTED_VERSION, XML_ExpatVersion(),
                  RAPIDJSON_VERSION_STRING, int{simdjson::SIMDJSON_VERSION_MAJOR},
                  int{simdjson::SIMDJSON_VERSION_MINOR}, int{simdjson::SIMDJSON_VERSION_REVISION},
                  simdjsonKernel.c_str());
    return text;
}

}  // namespace bench
