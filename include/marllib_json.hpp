// marllib_json.hpp: a document as JSON, in a form that keeps all of it, for jq, scripts and
// programs in other languages. Header-only C++17 over marllib.hpp; it needs no JSON library.
//
//     std::cout << marl::to_json(doc);     // [{"server":[{"host":"0.0.0.0"},{"debug":null}]}]
//
// The form:
// - A document is a JSON array of its top-level entries, in text order.
// - An entry is an object with exactly one member: its key is the tag's name, and its value is
//   a string for a leaf with a value, null for a leaf without one, and an array of the
//   container's entries, in order, for a container.
// - Where a name or a value is not valid UTF-8, which a JSON string cannot hold, the entry is
//   an object of two members instead (which no plain entry has): first "name" with the name as
//   a string, or "name64" with its bytes in base64 (RFC 4648, with padding); then "value" (a
//   string or null), "value64" (the value's bytes in base64) or "entries" (an array).
//       {"name64":"Yf8=","value":"x"}   a leaf named "a", byte 0xFF, of value "x"
// It holds every document exactly: an empty value "" (which a document stores as no value)
// and null both read back as a leaf without value, repeated names and their order stay, a zero
// byte is \u0000 and a quote byte is a plain '"' (escaped as JSON escapes it). The text is
// strict UTF-8 JSON (RFC 8259): control bytes escaped, no lone surrogates.
#ifndef MARLLIB_JSON_HPP
#define MARLLIB_JSON_HPP

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "marllib.hpp"
#include "marllib_reader.hpp"

namespace marl {

// How the JSON text is laid out: one entry a line, two blanks of indentation a level
// (pretty), or with no blank at all (compact). Both end with a line end.
enum class json_layout { pretty, compact };

namespace detail {

// The length of the UTF-8 sequence that starts at bytes[at], or 0 where none starts there
// (RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF).
inline std::size_t utf8_sequence(std::string_view bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;  // the range of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong form
        if (lead == 0xED) high = 0x9F;  // no surrogate
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // no overlong form
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (at + length > bytes.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    }
    return length;
}

inline bool is_utf8(std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = utf8_sequence(bytes, at);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

// Writes JSON text for a tree given entry by entry, in text order: Open and Close around each
// container's entries, Leaf for each leaf. Output is the format printer's (Put, Ok).
template <typename Output>
class json_writer {
public:
    json_writer(Output& out, json_layout layout) : out_(out), pretty_(layout == json_layout::pretty) {
        put("[");
        firsts_.push_back(true);
    }

    void open(std::string_view name) {
        start_entry(name);
        put(pretty_ ? ": [" : ":[");
        firsts_.push_back(true);
    }
    void close() {
        const bool empty = firsts_.back();
        firsts_.pop_back();
        if (pretty_ && !empty) new_line();
        put("]}");
    }
    void leaf(std::string_view name, std::string_view value) {
        if (!is_utf8(name) || !is_utf8(value)) return bytes_leaf(name, value);
        start_entry(name);
        put(pretty_ ? ": " : ":");
        if (value.empty()) {
            put("null");
        } else {
            string(value);
        }
        put("}");
    }
    // Closes what is still open, and the array of the top level.
    void finish() {
        while (firsts_.size() > 1) close();
        if (pretty_ && !firsts_.back()) put("\n");
        put("]\n");
    }

private:
    static constexpr char kDigits[] = "0123456789abcdef";

    void put(std::string_view bytes) { out_.Put(bytes.data(), bytes.size()); }

    void new_line() {
        put("\n");
        for (std::size_t level = 0; level < firsts_.size(); ++level) put("  ");
    }

    // The comma before an entry but the first of its level, and the entry's own line.
    void next_entry() {
        if (!firsts_.back()) put(",");
        firsts_.back() = false;
        if (pretty_) new_line();
    }

    // {"NAME", or the two-member form's first member where the name is not UTF-8 (a
    // container's: it is written before its entries are known).
    void start_entry(std::string_view name) {
        next_entry();
        if (is_utf8(name)) {
            put("{");
            string(name);
            return;
        }
        put(pretty_ ? "{\"name64\": " : "{\"name64\":");
        base64(name);
        put(pretty_ ? ", \"entries\"" : ",\"entries\"");
    }

    void bytes_leaf(std::string_view name, std::string_view value) {
        next_entry();
        const char* const comma = pretty_ ? ", " : ",";
        const char* const colon = pretty_ ? ": " : ":";
        put(is_utf8(name) ? "{\"name\"" : "{\"name64\"");
        put(colon);
        if (is_utf8(name)) {
            string(name);
        } else {
            base64(name);
        }
        put(comma);
        put(is_utf8(value) ? "\"value\"" : "\"value64\"");
        put(colon);
        if (value.empty()) {
            put("null");
        } else if (is_utf8(value)) {
            string(value);
        } else {
            base64(value);
        }
        put("}");
    }

    // A JSON string of UTF-8 bytes: '"', '\' and the control bytes escaped, the rest as it is.
    void string(std::string_view bytes) {
        put("\"");
        std::size_t plain = 0;  // start of the run not yet written
        for (std::size_t at = 0; at < bytes.size(); ++at) {
            const auto c = static_cast<unsigned char>(bytes[at]);
            if (c >= 0x20 && c != '"' && c != '\\') continue;
            put(bytes.substr(plain, at - plain));
            plain = at + 1;
            switch (c) {
                case '"': put("\\\""); break;
                case '\\': put("\\\\"); break;
                case '\n': put("\\n"); break;
                case '\r': put("\\r"); break;
                case '\t': put("\\t"); break;
                default: {
                    const char escape[] = {'\\', 'u', '0', '0', kDigits[c >> 4], kDigits[c & 15]};
                    out_.Put(escape, sizeof escape);
                }
            }
        }
        put(bytes.substr(plain));
        put("\"");
    }

    // The bytes in base64, as a JSON string.
    void base64(std::string_view bytes) {
        static constexpr char kAlphabet[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string text = "\"";
        for (std::size_t at = 0; at < bytes.size(); at += 3) {
            const std::size_t left = bytes.size() - at;
            uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) << 16;
            if (left > 1) group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
            if (left > 2) group |= static_cast<unsigned char>(bytes[at + 2]);
            text += kAlphabet[(group >> 18) & 63];
            text += kAlphabet[(group >> 12) & 63];
            text += left > 1 ? kAlphabet[(group >> 6) & 63] : '=';
            text += left > 2 ? kAlphabet[group & 63] : '=';
        }
        text += '"';
        put(text);
    }

    Output& out_;
    bool pretty_;
    std::vector<bool> firsts_;  // by level, the top level first: whether no entry came yet
};

// The document's tree, through the C functions, to a json_writer.
template <typename Output>
bool write_json_to(const Document& doc, Output& out, json_layout layout) {
    json_writer<Output> json(out, layout);
    tree_view tree(doc);
    std::vector<tree_view::entries_left> open;
    open.push_back(tree.entries(Document::root));
    while (!open.empty() && out.Ok()) {
        if (open.back().done()) {
            open.pop_back();
            if (!open.empty()) json.close();
            continue;
        }
        const tree_view::node_view node = tree.node(open.back().take());
        if (node.below) {
            json.open(node.name);
            open.push_back(tree.entries(*node.below));
        } else {
            json.leaf(node.name, node.value);
        }
    }
    json.finish();
    return out.Ok();
}

}  // namespace detail

// Writes the document in the JSON form above to out (compact unless asked otherwise).
inline void write_json(const Document& doc, std::ostream& out,
                       json_layout layout = json_layout::compact) {
    detail::ostream_output output{out};
    detail::write_json_to(doc, output, layout);
}

// The document in the JSON form above, as a string.
inline std::string to_json(const Document& doc, json_layout layout = json_layout::compact) {
    MarlFormat::StringOutput output;
    detail::write_json_to(doc, output, layout);
    return std::move(output.text);
}

// Writes text's document in the JSON form above, without making the document, as
// marl::print_text writes its printed form: the tree that marllib_Load makes of the text, the
// containers that it leaves open closed at its end. out is an output of the format's printer
// (Put and Ok); false when a write failed.
template <typename Output>
bool write_json_text(std::string_view text, Output& out, json_layout layout) {
    detail::json_writer<Output> json(out, layout);
    std::size_t depth = 0;  // the containers open
    read(text, [&](const event& e) {
        if (!out.Ok()) return;
        switch (e.kind) {
            case event_kind::Tree:
                json.open(e.name);
                ++depth;
                break;
            case event_kind::Leaf: json.leaf(e.name, e.value); break;
            case event_kind::End:
                if (depth == 0) break;
                json.close();
                --depth;
                break;
            case event_kind::Invalid: break;
        }
    });
    json.finish();
    return out.Ok();
}

}  // namespace marl

#endif  // MARLLIB_JSON_HPP
