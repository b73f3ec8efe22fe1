// marl from-json: a document from JSON, in the form that marl json writes or as plain JSON.
// The JSON is parsed by simdjson (its on-demand parser, which gives numbers as they are
// written); a marl built without it says so.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "input.h"
#include "marllib.hpp"
#include "marllib_source.hpp"
#include "output.h"

#if defined(MARL_HAVE_SIMDJSON)
#include <simdjson.h>
#endif

namespace MarlTool {

const char kFromJsonUsage[] =
    "usage: marl from-json [-o FILE] [--] [INPUT]\n"
    "\n"
    "Reads JSON and prints the document it stands for as Marl text, as 'marl print' does.\n"
    "A top-level array is read as the form that 'marl json' writes, so that\n"
    "'marl from-json <(marl json F)' prints what 'marl print F' prints. A top-level object is\n"
    "read as plain JSON: its members become entries in order; a string is a leaf's value;\n"
    "a number, true or false a leaf whose value is its JSON text as written; null a leaf\n"
    "without value; an object a container; an array one entry of the member's name for\n"
    "each element (an array in an array: a container of that name again).\n"
    "INPUT '-', or no INPUT, reads standard input.\n"
    "\n"
    "options:\n"
    "  -o, --output FILE   write to FILE instead of standard output, as 'marl print -o' does:\n"
    "                      a failed write leaves FILE as it was\n"
    "  -h, --help          show this help\n"
    "\n"
    "exit status: 0 success; 1 the JSON has no Marl form (an empty name, a name of more than\n"
    "64 bytes, nesting deeper than 1000 levels), and nothing is written; 2 INPUT cannot be\n"
    "read or is not JSON, FILE cannot be written, or the command line is wrong.\n";

namespace {

const option kFromJsonOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

#if defined(MARL_HAVE_SIMDJSON)

namespace json = simdjson::ondemand;

// The deepest nesting read: each level of a document is two of the form's (an object, then
// the array of its entries), and the reading goes down the call stack.
constexpr int kMostLevels = 1000;

// JSON that cannot be read, or that has no Marl form; where, as an offset into the text.
struct Refusal {
    bool unreadable;  // not JSON at all
    std::string why;
    std::size_t at;
};

// Reads JSON into a document, entry by entry.
class Reader {
public:
    Reader(const simdjson::padded_string& text, marl::Document& document)
        : text_(text), document_(document) {}

    void Read() {
        if (const simdjson::error_code failure = parser_.allocate(text_.size(), 2 * kMostLevels + 4)) {
            Fail(failure, 0);
        }
        json::document doc;
        Check(parser_.iterate(text_).get(doc));
        doc_ = &doc;
        json::json_type type;
        Check(doc.type().get(type));
        if (type == json::json_type::array) {
            json::array top;
            Check(doc.get_array().get(top));
            Entries(top, marl::Document::root, 1);
        } else if (type == json::json_type::object) {
            json::object top;
            Check(doc.get_object().get(top));
            Members(top, marl::Document::root, 1);
        } else {
            NoForm("the top level is neither an array nor an object");
        }
        // Anything after the top-level value, but blanks, is not JSON.
        const char* after = nullptr;
        if (doc.current_location().get(after) == simdjson::SUCCESS) {
            Fail(simdjson::TRAILING_CONTENT, static_cast<std::size_t>(after - text_.data()));
        }
    }

private:
    // The form of marl json: an array of entries.
    void Entries(json::array entries, marl::collection into, int level) {
        Deeper(level);
        for (auto element : entries) {
            json::object entry;
            Check(element.get_object().get(entry));
            Entry(entry, into, level);
        }
    }

    // {"NAME": value}, or the two members of a name or value that is not UTF-8.
    void Entry(json::object entry, marl::collection into, int level) {
        int members = 0;
        std::string firstKey;   // "name" or "name64", with a string: kept until it is known
        std::string firstText;  // whether a second member follows
        std::size_t firstAt = 0;
        for (auto field : entry) {
            std::string_view key;
            nameAt_ = static_cast<std::size_t>(field.key().raw() - text_.data()) - 1;  // its '"'
            Check(field.unescaped_key().get(key));
            json::value value;
            Check(field.value().get(value));
            json::json_type type;
            Check(value.type().get(type));
            if (++members == 1) {
                if ((key == "name" || key == "name64") && type == json::json_type::string) {
                    std::string_view text;
                    Check(value.get_string().get(text));
                    firstKey = key;
                    firstText = text;
                    firstAt = nameAt_;
                    continue;
                }
                Plain(std::string(key), value, type, into, level);
                continue;
            }
            if (members > 2 || firstKey.empty()) NoForm("an entry has more than one member");
            nameAt_ = firstAt;
            const std::string name = firstKey == "name" ? firstText : Base64(firstText);
            Second(name, key, value, type, into, level);
        }
        if (members == 0) NoForm("an entry has no member");
        // {"name": "x"} alone is a plain leaf named "name".
        if (members == 1 && !firstKey.empty()) Leaf(into, firstKey, firstText);
    }

    // An entry's one member, in the form of marl json.
    void Plain(const std::string& name, json::value value, json::json_type type,
               marl::collection into, int level) {
        switch (type) {
            case json::json_type::string:
            case json::json_type::null: return Member(name, value, into, level);
            case json::json_type::array: {
                json::array entries;
                Check(value.get_array().get(entries));
                return Entries(entries, Container(into, name), level + 1);
            }
            default: NoForm("an entry's value is neither a string, null nor an array");
        }
    }

    // The second member of an entry whose name or value is not UTF-8.
    void Second(const std::string& name, std::string_view key, json::value value,
                json::json_type type, marl::collection into, int level) {
        if (key == "entries" && type == json::json_type::array) {
            json::array entries;
            Check(value.get_array().get(entries));
            return Entries(entries, Container(into, name), level + 1);
        }
        if (key == "value" && type == json::json_type::null) return NullLeaf(into, name, value);
        if ((key == "value" || key == "value64") && type == json::json_type::string) {
            std::string_view text;
            Check(value.get_string().get(text));
            return Leaf(into, name, key == "value" ? std::string(text) : Base64(text));
        }
        NoForm("an entry of two members takes \"value\", \"value64\" or \"entries\" second");
    }

    // Plain JSON: an object's members, in order.
    void Members(json::object members, marl::collection into, int level) {
        Deeper(level);
        for (auto field : members) {
            std::string_view key;
            nameAt_ = static_cast<std::size_t>(field.key().raw() - text_.data()) - 1;  // its '"'
            Check(field.unescaped_key().get(key));
            const std::string name(key);
            json::value value;
            Check(field.value().get(value));
            Member(name, value, into, level);
        }
    }

    void Member(const std::string& name, json::value value, marl::collection into, int level) {
        json::json_type type;
        Check(value.type().get(type));
        switch (type) {
            case json::json_type::string: {
                std::string_view text;
                Check(value.get_string().get(text));
                return Leaf(into, name, text);
            }
            case json::json_type::null: return NullLeaf(into, name, value);
            case json::json_type::boolean: {
                bool truth = false;
                if (value.get_bool().get(truth) != simdjson::SUCCESS) {
                    Fail(value.raw_json_token().front() == 't' ? simdjson::T_ATOM_ERROR
                                                               : simdjson::F_ATOM_ERROR,
                         Here());
                }
                return Leaf(into, name, truth ? "true" : "false");
            }
            case json::json_type::number: {
                std::string_view token = value.raw_json_token();
                while (!token.empty() && IsBlank(token.back())) token.remove_suffix(1);
                if (!IsNumber(token)) Fail(simdjson::NUMBER_ERROR, Here());
                return Leaf(into, name, token);
            }
            case json::json_type::object: {
                json::object members;
                Check(value.get_object().get(members));
                return Members(members, Container(into, name), level + 1);
            }
            case json::json_type::array: {
                Deeper(level + 1);
                json::array elements;
                Check(value.get_array().get(elements));
                for (auto element : elements) {
                    json::value each;
                    Check(element.get(each));
                    Element(name, each, into, level + 1);
                }
                return;
            }
        }
    }

    // A leaf without value, for a null. The on-demand parser tells a value's type by its first
    // byte only, so the rest is checked here: "nul" is not null.
    void NullLeaf(marl::collection into, const std::string& name, json::value& value) {
        bool null = false;
        if (value.is_null().get(null) != simdjson::SUCCESS || !null) {
            Fail(simdjson::N_ATOM_ERROR, Here());
        }
        Leaf(into, name, {});
    }

    // An element of an array, as an entry of its member's name.
    void Element(const std::string& name, json::value value, marl::collection into, int level) {
        json::json_type type;
        Check(value.type().get(type));
        if (type != json::json_type::array) return Member(name, value, into, level);
        Deeper(level + 1);
        const marl::collection inner = Container(into, name);
        json::array elements;
        Check(value.get_array().get(elements));
        for (auto element : elements) {
            json::value each;
            Check(element.get(each));
            Element(name, each, inner, level + 1);
        }
    }

    void Leaf(marl::collection into, const std::string& name, std::string_view value) {
        CheckName(name);
        document_.add_leaf(into, name, value);
    }
    marl::collection Container(marl::collection into, const std::string& name) {
        CheckName(name);
        return document_.collection_of(document_.add_container(into, name));
    }

    // A name that no tag can have is refused at the member that gave it.
    void CheckName(const std::string& name) {
        if (name.empty()) throw Refusal{false, "a name is empty", nameAt_};
        if (name.size() > static_cast<std::size_t>(MARLLIB_NAME_MAX)) {
            throw Refusal{false,
                          "a name of " + std::to_string(name.size()) +
                              " bytes is longer than the 64 that a tag holds",
                          nameAt_};
        }
    }
    void Deeper(int level) {
        if (level > kMostLevels) {
            NoForm("nesting deeper than " + std::to_string(kMostLevels) + " levels");
        }
    }

    // The bytes that base64 text stands for (RFC 4648, padded); no Marl form otherwise.
    std::string Base64(std::string_view text) {
        const auto sextet = [](char c) -> int {
            if (c >= 'A' && c <= 'Z') return c - 'A';
            if (c >= 'a' && c <= 'z') return c - 'a' + 26;
            if (c >= '0' && c <= '9') return c - '0' + 52;
            if (c == '+') return 62;
            if (c == '/') return 63;
            return -1;
        };
        if (text.size() % 4 != 0) NoForm("base64 text is not padded to a multiple of 4");
        std::string bytes;
        for (std::size_t at = 0; at < text.size(); at += 4) {
            uint32_t group = 0;
            int pads = 0;
            for (std::size_t i = 0; i < 4; ++i) {
                const char c = text[at + i];
                const bool pad = c == '=' && at + 4 == text.size() && i >= 2;
                if (pad || pads > 0) {
                    if (!pad) NoForm("base64 text goes on after its padding");
                    ++pads;
                    group <<= 6;
                    continue;
                }
                const int value = sextet(c);
                if (value < 0) NoForm("a byte that base64 does not use");
                group = (group << 6) | static_cast<uint32_t>(value);
            }
            bytes += static_cast<char>(group >> 16);
            if (pads < 2) bytes += static_cast<char>((group >> 8) & 0xFF);
            if (pads < 1) bytes += static_cast<char>(group & 0xFF);
        }
        return bytes;
    }

    static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    // Whether token is a JSON number as RFC 8259 writes one: -?(0|[1-9][0-9]*)(.[0-9]+)?
    // ([eE][+-]?[0-9]+)?. The parser gives the raw text of a number unchecked, and a number
    // of any size is JSON, so its text is checked here rather than by converting it.
    static bool IsNumber(std::string_view token) {
        std::size_t at = 0;
        const auto digits = [&] {
            const std::size_t from = at;
            while (at < token.size() && token[at] >= '0' && token[at] <= '9') ++at;
            return at > from;
        };
        const auto next = [&](const char* any) {
            if (at >= token.size() || std::string_view(any).find(token[at]) == std::string_view::npos)
                return false;
            ++at;
            return true;
        };
        next("-");
        if (next("0")) {
            // no digit may follow a leading zero
        } else if (!digits()) {
            return false;
        }
        if (next(".") && !digits()) return false;
        if (next("eE")) {
            next("+-");
            if (!digits()) return false;
        }
        return at == token.size();
    }

    std::size_t Here() const {
        const char* at = nullptr;
        if (doc_ == nullptr || doc_->current_location().get(at) != simdjson::SUCCESS) {
            return text_.size();
        }
        return static_cast<std::size_t>(at - text_.data());
    }
    void Check(simdjson::error_code failure) {
        if (failure != simdjson::SUCCESS) Fail(failure, Here());
    }
    [[noreturn]] void Fail(simdjson::error_code failure, std::size_t at) {
        // Deeper than the parser was made for: JSON, but no document nests so deep.
        if (failure == simdjson::DEPTH_ERROR) {
            throw Refusal{false, "nesting deeper than " + std::to_string(kMostLevels) + " levels", at};
        }
        // The parser finds open arrays and objects before it reads a value, and reports them at
        // the first one; what is missing is missing at the end.
        if (failure == simdjson::INCOMPLETE_ARRAY_OR_OBJECT) {
            at = text_.size();
            while (at > 0 && IsBlank(text_.data()[at - 1])) --at;
        }
        throw Refusal{true, simdjson::error_message(failure), at};
    }
    [[noreturn]] void NoForm(const std::string& why) { throw Refusal{false, why, Here()}; }

    const simdjson::padded_string& text_;
    marl::Document& document_;
    json::parser parser_;
    json::document* doc_ = nullptr;
    std::size_t nameAt_ = 0;  // where the member whose name is read last starts
};

#endif  // MARL_HAVE_SIMDJSON

}  // namespace

int RunFromJson(int argc, char** argv) {
    std::string output = "-";
    std::vector<std::string> operands;
    const int parsed = ParseOptions(argc, argv, {":ho:", kFromJsonOptions, kFromJsonUsage},
                                    operands, [&](int, const char* argument) {
                                        output = argument;
                                        return true;
                                    });
    if (parsed >= 0) return parsed;
    if (operands.size() > 1) {
        return WrongUsage("from-json takes one INPUT, not " + std::to_string(operands.size()),
                          "marl from-json --help");
    }
#if defined(MARL_HAVE_SIMDJSON)
    const std::string input = operands.empty() ? "-" : operands[0];
    std::string bytes;
    if (!Read(input, bytes)) return kTrouble;
    const simdjson::padded_string text(bytes);
    marl::Document document = marl::Document::create();
    try {
        Reader(text, document).Read();
    } catch (const Refusal& refusal) {
        const marl::position at =
            marl::line_index(bytes).at(static_cast<int32_t>(std::min(refusal.at, bytes.size())));
        std::fprintf(stderr, "%s:%d:%d: error: %s%s\n", input == "-" ? "<stdin>" : input.c_str(),
                     at.line, at.column, refusal.unreadable ? "not JSON: " : "no Marl form: ",
                     refusal.why.c_str());
        return refusal.unreadable ? kTrouble : kFailed;
    }
    return WriteFile(output, [&](std::FILE* stream) { return document.write(stream); })
               ? kSuccess
               : kTrouble;
#else
    (void)output;
    std::fprintf(stderr, "marl: from-json needs a JSON reader, and this marl was built without "
                         "one (simdjson)\n");
    return kTrouble;
#endif
}

}  // namespace MarlTool
