// marllib.hpp: a C++17 layer over marllib's C interface, in this header alone: the Document
// face that a host of the twelve functions needs. Every call goes to one of the marllib_*
// functions of marllib.h; nothing C++ crosses the library boundary, so this header works with
// any marllib library of the same major version. Beside it: marllib_source.hpp (a document
// with its text: places, problems, edits that keep every byte), marllib_reader.hpp (the
// reader's events) and marllib_file.hpp (whole files).
//
//     marl::Document doc = marl::Document::load("server.marl");
//     int port = doc.value_or(doc.at("server/port"), 8080);
//     for (marl::tag user : doc.select("server/users/user[*]")) std::cout << doc.value(user);
//     doc.set_value(*doc.at("server/port"), 9090);
//     doc.save("server.marl");
//
// A marl::Document is a handle and nothing more: copies name the same document, and one that
// goes out of scope leaves its document in the library, which destroys documents only all at
// once: marl::close_all() (marllib_Close) ends every Document value held anywhere, and using
// one afterwards throws marl::error (errc::invalid_handle). marl::tag and marl::collection
// wrap the library's indices as two types, so that one cannot be passed where the other is
// meant; Document::root is the top level. Names and values are byte strings: any byte is
// allowed, and a name is 1 to 64 bytes. Looking something up never throws for "not found": it
// gives an empty std::optional or list. Misuse throws marl::error, a std::runtime_error whose
// what() names the document and the tag, and whose code() tells the kind of failure;
// allocation failure stays std::bad_alloc. Like the library, it is for one thread at a time.
#ifndef MARLLIB_HPP
#define MARLLIB_HPP

#include <array>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

#include "marllib.h"
#include "marllib_file.hpp"
#include "marllib_format.hpp"
#include "marllib_path.hpp"

namespace marl {

enum class errc {
    invalid_handle,      // the document was closed, or never made
    no_such_tag,         // a tag index that the document has not given out
    no_such_collection,  // a collection index that the document has not given out
    not_a_leaf,          // a value asked of, or given to, a container
    not_a_container,     // a collection asked of a leaf
    bad_name,            // a tag name of 0 or more than 64 bytes
    unreadable_file,     // Document::load could not read its file
    too_long,            // text, a name or a value of more than 2^31 - 1 bytes
    bad_value,           // value_as: the value is not entirely a number or a bool
    bad_path,            // at(): a path that is not well formed
    unwritable_file,     // Document::save could not write its file
    other_library,       // Source: the library read a text otherwise than these headers do
    lost_edit,           // Source: the text cannot take an edit and still load as edited
};

class error : public std::runtime_error {
public:
    error(errc code, const std::string& what, std::error_code cause = {})
        : std::runtime_error(what), code_(code), cause_(cause) {}
    errc code() const noexcept { return code_; }
    // For unreadable_file and unwritable_file, the system's reason (cause().message() words
    // it); empty otherwise.
    const std::error_code& cause() const noexcept { return cause_; }

private:
    errc code_;
    std::error_code cause_;
};

// Ends every document (marllib_Close): all Document values become invalid at once, and the
// next document made gets handle 0 again.
inline void close_all() noexcept { marllib_Close(); }

// A tag of a document: its index in the document's tag table. Built from an index only on
// purpose (explicitly), and turned back into one the same way.
class tag {
public:
    constexpr explicit tag(int32_t index) noexcept : index_(index) {}
    constexpr int32_t index() const noexcept { return index_; }
    constexpr explicit operator int32_t() const noexcept { return index_; }

    friend constexpr bool operator==(tag a, tag b) noexcept { return a.index_ == b.index_; }
    friend constexpr bool operator!=(tag a, tag b) noexcept { return a.index_ != b.index_; }
    friend constexpr bool operator<(tag a, tag b) noexcept { return a.index_ < b.index_; }

private:
    int32_t index_;
};

// A collection of a document: the ordered list of tags that a container (or, for
// Document::root, the document itself) holds.
class collection {
public:
    constexpr explicit collection(int32_t index) noexcept : index_(index) {}
    constexpr int32_t index() const noexcept { return index_; }
    constexpr explicit operator int32_t() const noexcept { return index_; }

    friend constexpr bool operator==(collection a, collection b) noexcept {
        return a.index_ == b.index_;
    }
    friend constexpr bool operator!=(collection a, collection b) noexcept {
        return a.index_ != b.index_;
    }
    friend constexpr bool operator<(collection a, collection b) noexcept {
        return a.index_ < b.index_;
    }

private:
    int32_t index_;
};

namespace detail {

// An output of the writers over a std::ostream: Put writes bytes, Ok tells whether all went.
struct ostream_output {
    std::ostream& out;
    void Put(const char* b, std::size_t n) { out.write(b, static_cast<std::streamsize>(n)); }
    bool Ok() const { return static_cast<bool>(out); }
};

// Whether T is read and written as a number or a bool by value_as and set_value. Character
// types are left out: set_value(t, 'x') writing "120" would surprise.
template <typename T>
constexpr bool is_scalar_value =
    std::is_arithmetic_v<T> && !std::is_same_v<T, char> && !std::is_same_v<T, wchar_t> &&
    !std::is_same_v<T, char16_t> && !std::is_same_v<T, char32_t>;

// Bytes in messages: printable ASCII as it is, every other byte (and '\\') as \xHH.
inline std::string printable(std::string_view bytes) {
    std::string shown;
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            shown += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            shown += hex;
        }
    }
    return shown;
}

// A value in messages: its first bytes as printable shows them, and "…" for any more, so that
// a message stays a line long whatever the value holds.
inline std::string shown_value(std::string_view value) {
    constexpr std::size_t kShownBytes = 40;
    if (value.size() <= kShownBytes) return printable(value);
    return printable(value.substr(0, kShownBytes)) + "\xE2\x80\xA6";  // U+2026
}

// How a value reads as a number or a bool.
enum class reading { ok, not_that_kind, out_of_range };

// Reads all of text as a T: a number as std::from_chars reads it, a bool as "true", "false",
// "1" or "0".
template <typename T>
reading read_value(std::string_view text, T& result) {
    if constexpr (std::is_same_v<T, bool>) {
        result = text == "true" || text == "1";
        return result || text == "false" || text == "0" ? reading::ok : reading::not_that_kind;
    } else {
        const char* const end = text.data() + text.size();
        const std::from_chars_result read = std::from_chars(text.data(), end, result);
        if (text.empty() || read.ptr != end) return reading::not_that_kind;
        if (read.ec == std::errc::result_out_of_range) return reading::out_of_range;
        return read.ec == std::errc() ? reading::ok : reading::not_that_kind;
    }
}

// T's name as C++ writes it, for messages.
template <typename T>
const char* type_name() {
    if constexpr (std::is_same_v<T, bool>) return "bool";
    else if constexpr (std::is_same_v<T, float>) return "float";
    else if constexpr (std::is_same_v<T, double>) return "double";
    else if constexpr (std::is_same_v<T, long double>) return "long double";
    else if constexpr (std::is_same_v<T, signed char>) return "signed char";
    else if constexpr (std::is_same_v<T, unsigned char>) return "unsigned char";
    else if constexpr (std::is_same_v<T, short>) return "short";
    else if constexpr (std::is_same_v<T, unsigned short>) return "unsigned short";
    else if constexpr (std::is_same_v<T, int>) return "int";
    else if constexpr (std::is_same_v<T, unsigned>) return "unsigned int";
    else if constexpr (std::is_same_v<T, long>) return "long";
    else if constexpr (std::is_same_v<T, unsigned long>) return "unsigned long";
    else if constexpr (std::is_same_v<T, long long>) return "long long";
    else if constexpr (std::is_same_v<T, unsigned long long>) return "unsigned long long";
    else return "number";
}

// A path that no file can have: one that holds a zero byte.
inline void check_path(const std::string& path) {
    if (path.find('\0') == std::string::npos) return;
    throw error(errc::unreadable_file, "marllib: a file path cannot hold a zero byte");
}
[[noreturn]] inline void cannot_read(const std::string& path, int reason) {
    throw error(errc::unreadable_file,
                "marllib: cannot read '" + path + "': " + marl::read_reason(reason),
                std::error_code(reason, std::generic_category()));
}

// The error of a failed marl::write_file on path, worded as marl::write_reason words
// it, with its errno (or Windows' own error) as the cause.
[[noreturn]] inline void cannot_write(const std::string& path, int reason,
                                      const marl::write_failure& failure) {
    const std::error_code cause =
        failure.windows_code != 0
            ? std::error_code(static_cast<int>(failure.windows_code), std::system_category())
            : std::error_code(reason, std::generic_category());
    throw error(errc::unwritable_file,
                "marllib: cannot write '" + path + "': " + marl::write_reason(reason, failure),
                cause);
}

}  // namespace detail

// Writes the file at path whole or not at all, as marl::write_file does (marllib_file.hpp says
// what it keeps, how, and what it refuses): fill(stream) writes the content into a stream that
// replace_file owns and returns false when a write failed. On any failure the file stays as it
// was, and this throws errc::unwritable_file, whose cause() is the system's reason and whose
// what() reads "marllib: cannot write 'PATH': REASON" (REASON as marl::write_reason words it).
// An empty path or one holding a zero byte is EINVAL; an exception from fill goes on.
inline void replace_file(const std::string& path, marl::fill_function fill) {
    marl::write_failure failure;
    const int reason = path.find('\0') != std::string::npos
                           ? EINVAL
                           : marl::write_file(path.c_str(), fill, &failure);
    if (reason != 0) detail::cannot_write(path, reason, failure);
}

class Document {
public:
    // The document's top level.
    static constexpr collection root{MARLLIB_ROOT};

    // Adopts a handle that the C interface gave out.
    explicit Document(int32_t handle) noexcept : handle_(handle) {}

    // A new, empty document.
    static Document create() { return Document(marllib_Create()); }

    // A document read from the Marl file at path; errc::unreadable_file, with the system's
    // reason, when its bytes cannot be had. Malformed text still gives a document.
    static Document load(const std::string& path) {
        detail::check_path(path);
        const int32_t handle = marllib_Load(path.c_str(), 0);
        if (handle == MARLLIB_LOAD_UNREADABLE) {
            detail::cannot_read(path, detail::reported_read_failure());
        }
        return Document(handle);
    }

    // A document read from Marl text in memory; empty text gives an empty document.
    static Document load_text(std::string_view text) {
        if (text.empty()) return create();  // a length of 0 would make marllib_Load read a file
        return Document(marllib_Load(text.data(), length_of(text, "the text")));
    }

    int32_t handle() const noexcept { return handle_; }

    // ---- Building ----

    // Adds a container or a leaf at the end of collection `into` (or of container `into`) and
    // returns it.
    tag add_container(collection into, std::string_view name) { return add(into, name, false); }
    tag add_container(tag into, std::string_view name) { return add_container(of(into), name); }
    tag add_leaf(collection into, std::string_view name) { return add(into, name, true); }
    tag add_leaf(tag into, std::string_view name) { return add_leaf(of(into), name); }

    // Adds a leaf and sets its value, every argument checked first, so a refused call adds
    // nothing; if setting the value fails (only allocation can), the leaf stays without one.
    tag add_leaf(collection into, std::string_view name, std::string_view value) {
        name_length(name);
        length_of(value, "a value");
        count(into);  // the document and the collection exist
        const tag added = add(into, name, true);
        set_value(added, value);
        return added;
    }
    tag add_leaf(tag into, std::string_view name, std::string_view value) {
        return add_leaf(of(into), name, value);
    }
    template <typename T, typename = std::enable_if_t<detail::is_scalar_value<T>>>
    tag add_leaf(collection into, std::string_view name, T value) {
        return add_leaf(into, name, std::string_view(text_of(value).data()));
    }
    template <typename T, typename = std::enable_if_t<detail::is_scalar_value<T>>>
    tag add_leaf(tag into, std::string_view name, T value) {
        return add_leaf(of(into), name, value);
    }

    void set_name(tag t, std::string_view name) {
        const int32_t length = name_length(name);
        if (marllib_SetName(handle_, t.index(), name.data(), length)) return;
        throw tag_error(marllib_GetName(handle_, t.index(), nullptr), t);
    }

    void set_value(tag t, std::string_view value) {
        const int32_t length = length_of(value, "a value");
        if (marllib_SetValue(handle_, t.index(), value.data(), length)) return;
        const int32_t kind = marllib_GetCollection(handle_, t.index());
        if (kind >= 0) {
            throw error(errc::not_a_leaf, where(t) + " is a container and takes no value");
        }
        throw tag_error(kind, t);
    }
    // Writes a number in its shortest form that reads back the same, and a bool as "true" or
    // "false".
    template <typename T, typename = std::enable_if_t<detail::is_scalar_value<T>>>
    void set_value(tag t, T value) {
        set_value(t, std::string_view(text_of(value).data()));
    }

    // ---- Reading ----

    std::string name(tag t) const {
        char field[MARLLIB_NAME_MAX];
        const int32_t length = marllib_GetName(handle_, t.index(), field);
        if (length < 0) throw tag_error(length, t);
        return std::string(field, static_cast<std::size_t>(length));
    }

    bool is_leaf(tag t) const { return !below(t); }

    collection collection_of(tag t) const { return of(t); }  // a container's own

    // The value of leaf `t`; empty for a leaf without one.
    std::string value(tag t) const {
        const int32_t length = marllib_GetValue(handle_, t.index(), nullptr, 0);
        if (length < 0) {
            // Either a failure or a leaf whose value was set with a negative length through the
            // C interface, which holds no bytes: the tag's kind tells which.
            if (is_leaf(t)) return std::string();
            throw error(errc::not_a_leaf, where(t) + " is a container and has no value");
        }
        std::string value(static_cast<std::size_t>(length), '\0');
        if (length > 0) marllib_GetValue(handle_, t.index(), &value[0], length);
        return value;
    }

    // The value of `t`, or `fallback` when there is no such tag or it holds no value.
    std::string value_or(std::optional<tag> t, std::string_view fallback) const {
        std::string found = t ? value(*t) : std::string();
        return found.empty() ? std::string(fallback) : found;
    }
    template <typename T, typename = std::enable_if_t<detail::is_scalar_value<T>>>
    T value_or(std::optional<tag> t, T fallback) const {
        if (!t) return fallback;
        const std::string text = value(*t);
        return text.empty() ? fallback : read_as<T>(*t, text);
    }

    // The value of `t` read as a number (decimal, as std::from_chars reads it) or a bool
    // ("true", "false", "1" or "0"). Throws errc::bad_value unless the whole value reads.
    template <typename T>
    T value_as(tag t) const {
        static_assert(detail::is_scalar_value<T>, "value_as reads numbers and bools");
        return read_as<T>(t, value(t));
    }

    // ---- Navigating ----

    // The entries of a collection, or of a container, in order. A leaf has none.
    std::vector<tag> children(collection c = root) const { return entries(c); }
    std::vector<tag> children(tag container) const {
        const std::optional<collection> held = below(container);
        return held ? entries(*held) : std::vector<tag>();
    }
    // The entries of one name, in order.
    std::vector<tag> children(collection c, std::string_view name) const { return named(c, name); }
    std::vector<tag> children(tag container, std::string_view name) const {
        length_of(name, "a name");
        const std::optional<collection> held = below(container);
        return held ? named(*held, name) : std::vector<tag>();
    }

    // The nth entry (from 1) named `name`, if there is one.
    std::optional<tag> find(collection c, std::string_view name, int32_t n) const {
        return nth(c, name, n);
    }
    // The first entry named `name`, if there is one.
    std::optional<tag> find(collection c, std::string_view name) const {
        const int32_t length = length_of(name, "a name");
        if (count(c) == 0) return std::nullopt;
        const int32_t found = marllib_GetTagByName(handle_, c.index(), name.data(), length);
        if (found < 0) return std::nullopt;
        return tag(found);
    }
    std::optional<tag> find(tag container, std::string_view name) const {
        length_of(name, "a name");
        const std::optional<collection> held = below(container);
        return held ? find(*held, name) : std::nullopt;
    }

    // The tags that `path` selects below collection `from` (by default the top level), in
    // text order, each once: the syntax of marl get (marllib_path.hpp), such as
    // "server/users/user[2]", "fleet/*/name", "**/port[*]" or "fleet/host[role=\"web\"]".
    // None gives an empty list; a malformed path throws errc::bad_path.
    std::vector<tag> select(std::string_view path, collection from = root) const {
        return select_path(steps_of(path), from, *this);
    }
    std::vector<tag> select(std::string_view path, tag from) const {
        return is_leaf(from) ? (steps_of(path), std::vector<tag>()) : select(path, of(from));
    }
    // The first tag that `path` selects, in text order; an empty optional for none.
    std::optional<tag> at(std::string_view path, collection from = root) const {
        const std::vector<path_step> steps = steps_of(path);
        if (!picks_one(steps)) {
            const std::vector<tag> all = select_path(steps, from, *this);
            return all.empty() ? std::nullopt : std::optional<tag>(all.front());
        }
        return follow_path(
            steps, from,
            [this](collection in, const path_step& step) { return nth(in, step.name, step.nth); },
            [this](tag t) { return below(t); });
    }
    std::optional<tag> at(std::string_view path, tag from) const {
        const std::optional<collection> held = below(from);
        return held ? at(path, *held) : std::nullopt;
    }

    // ---- Writing ----

    // Writes the document as Marl text, byte for byte as the library's own printer writes it:
    // one tag per line, two blanks of indentation per level (no deeper than 64 levels), names
    // escaped and quote bytes in values doubled, so that the text loads back into the same
    // tree. An empty document writes nothing.
    void write(std::ostream& out) const {
        detail::ostream_output output{out};
        print(root, output);
    }
    // The same to a stdio stream; false when a write failed (the stream's error then tells why).
    bool write(std::FILE* out) const { return write_to(out, root); }
    // One tag the same way, from no indentation, with everything below it.
    bool write(std::FILE* out, tag t) const { return write_to(out, t); }

    std::string to_string() const {
        MarlFormat::StringOutput output;
        print(root, output);
        return std::move(output.text);
    }

    // Writes the document to the file at path through marl::replace_file: whole or not at
    // all, keeping its mode and links; errc::unwritable_file with the system's reason.
    void save(const std::string& path) const {
        replace_file(path, [this](std::FILE* file) { return write(file); });
    }

    friend bool operator==(const Document& a, const Document& b) noexcept {
        return a.handle_ == b.handle_;
    }
    friend bool operator!=(const Document& a, const Document& b) noexcept { return !(a == b); }

private:
    static int32_t length_of(std::string_view bytes, const char* what) {
        if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
            throw error(errc::too_long, std::string("marllib: ") + what + " of " +
                                            std::to_string(bytes.size()) +
                                            " bytes is longer than 2147483647 bytes");
        }
        return static_cast<int32_t>(bytes.size());
    }

    static int32_t name_length(std::string_view name) {
        if (name.empty() || name.size() > static_cast<std::size_t>(MARLLIB_NAME_MAX)) {
            throw error(errc::bad_name, "marllib: a tag name must be 1 to 64 bytes long, not " +
                                            std::to_string(name.size()));
        }
        return static_cast<int32_t>(name.size());
    }

    // Text for set_value: room for any number, terminated.
    template <typename T>
    static std::array<char, 64> text_of(T value) {
        std::array<char, 64> text{};
        if constexpr (std::is_same_v<T, bool>) {
            std::strcpy(text.data(), value ? "true" : "false");
        } else {
            std::to_chars(text.data(), text.data() + text.size() - 1, value);
        }
        return text;
    }

    // text, the value of t, read as T; throws errc::bad_value unless all of it reads.
    template <typename T>
    T read_as(tag t, std::string_view text) const {
        T result{};
        const detail::reading read = detail::read_value(text, result);
        if (read == detail::reading::ok) return result;
        throw error(errc::bad_value,
                    where(t) + " holds \"" + detail::shown_value(text) + "\", which is " +
                        (read == detail::reading::out_of_range
                             ? std::string("out of range for ") + detail::type_name<T>()
                             : std::string("not ") + kind_of<T>()));
    }

    template <typename T>
    static const char* kind_of() {
        if constexpr (std::is_same_v<T, bool>) return "a bool (true, false, 1 or 0)";
        else if constexpr (std::is_floating_point_v<T>) return "a number";
        else if constexpr (std::is_signed_v<T>) return "an integer";
        else return "an unsigned integer";
    }

    std::string document() const { return "document " + std::to_string(handle_); }
    std::string where(tag t) const {
        return "marllib: tag " + std::to_string(t.index()) + " of " + document();
    }

    error handle_error() const {
        return error(errc::invalid_handle,
                     "marllib: " + document() + " does not exist (never made, or closed)");
    }

    // The error for a failed call on tag `t` whose C result was `result`.
    error tag_error(int32_t result, tag t) const {
        if (result == MARLLIB_INVALID_HANDLE) return handle_error();
        return error(errc::no_such_tag,
                     "marllib: " + document() + " has no tag " + std::to_string(t.index()));
    }

    // The collection that container t holds; nothing for a leaf, which holds none.
    std::optional<collection> below(tag t) const {
        const int32_t result = marllib_GetCollection(handle_, t.index());
        if (result >= 0) return collection(result);
        if (result == MARLLIB_GETCOLLECTION_LEAF) return std::nullopt;
        throw tag_error(result, t);
    }

    collection of(tag t) const {
        if (const std::optional<collection> held = below(t)) return *held;
        throw error(errc::not_a_container, where(t) + " is a leaf and has no collection");
    }

    // The number of tags in `c`; throws unless both the document and it exist.
    int32_t count(collection c) const {
        const int32_t result = marllib_GetTags(handle_, c.index(), nullptr, 0);
        if (result >= 0) return result;
        if (result == MARLLIB_INVALID_HANDLE) throw handle_error();
        throw error(errc::no_such_collection, "marllib: " + document() + " has no collection " +
                                                  std::to_string(c.index()));
    }

    std::vector<tag> entries(collection c) const {
        std::vector<int32_t> indices(static_cast<std::size_t>(count(c)));
        if (!indices.empty()) {
            marllib_GetTags(handle_, c.index(), indices.data(),
                            static_cast<int32_t>(indices.size()));
        }
        return std::vector<tag>(indices.begin(), indices.end());
    }

    // In room that grows with the matches (twice as large while they fill it), not with c.
    std::vector<tag> named(collection c, std::string_view name) const {
        const int32_t length = length_of(name, "a name");
        const int32_t entries = count(c);
        std::vector<int32_t> found;
        for (int32_t room = entries < 16 ? entries : 16; room > 0;) {
            found.resize(static_cast<std::size_t>(room));
            const int32_t got = marllib_GetTagsByName(handle_, c.index(), name.data(), length,
                                                      found.data(), room);
            found.resize(static_cast<std::size_t>(got > 0 ? got : 0));
            room = got < room || room == entries ? 0 : room > entries / 2 ? entries : room * 2;
        }
        return std::vector<tag>(found.begin(), found.end());
    }

    // The nth entry (from 1) named `name` of c: the first as find finds it, a later one
    // through a list as long as n (no longer than c).
    std::optional<tag> nth(collection c, std::string_view name, int32_t n) const {
        if (n == 1) return find(c, name);
        const int32_t length = length_of(name, "a name");
        if (n < 1 || n > count(c)) return std::nullopt;
        std::vector<int32_t> found(static_cast<std::size_t>(n));
        const int32_t got =
            marllib_GetTagsByName(handle_, c.index(), name.data(), length, found.data(), n);
        return got < n ? std::nullopt : std::optional<tag>(tag(found.back()));
    }

    static std::vector<path_step> steps_of(std::string_view path) {
        std::optional<std::vector<path_step>> steps = parse_path(path);
        if (steps) return std::move(*steps);
        throw error(errc::bad_path,
                    "marllib: '" + std::string(path) + "' is not a well-formed path");
    }

    tag add(collection into, std::string_view name, bool leaf) {
        // Checked first: a container refused for its name would leave its new collection behind.
        const int32_t length = name_length(name);
        const int32_t added = marllib_AddTag(handle_, into.index(), name.data(), length, leaf);
        if (added >= 0) return tag(added);
        if (added == MARLLIB_INVALID_HANDLE) throw handle_error();
        throw error(errc::no_such_collection, "marllib: " + document() + " has no collection " +
                                                  std::to_string(into.index()));
    }

    template <typename From>
    bool write_to(std::FILE* out, From from) const {
        MarlFormat::FileOutput output(out);
        const bool printed = print(from, output);
        return output.Flush() && printed;
    }

    // Prints the entries of collection `from`, or the one tag `from`, to an output of the
    // format's printer; false when a write failed (printing then stops).
    template <typename From, typename Output>
    bool print(From from, Output& output) const;

    int32_t handle_;
};

namespace detail {

// A document as the format's printer walks it (MarlFormat::PrintEntries), through the C
// functions: names and values are copied into buffers of the view's own, reused from tag to
// tag, so a walk allocates only for each collection's list of entries.
class tree_view {
public:
    struct entries_left {
        std::vector<tag> tags;
        std::size_t next = 0;
        bool done() const { return next == tags.size(); }
        tag take() { return tags[next++]; }
    };
    struct node_view {
        std::string_view name;
        std::string_view value;
        std::optional<collection> below;
    };

    explicit tree_view(const Document& doc) : doc_(doc), value_(256, '\0') {}
    entries_left entries(collection c) const { return {doc_.children(c)}; }
    node_view node(tag t) {
        // A tag that entries gave is the document's: a negative result is a leaf's.
        const int32_t held = marllib_GetCollection(doc_.handle(), t.index());
        if (held < 0) return {name(t), value(t), std::nullopt};
        return {name(t), std::string_view(), collection(held)};
    }

private:
    std::string_view name(tag t) {
        const int32_t length = marllib_GetName(doc_.handle(), t.index(), name_);
        return {name_, static_cast<std::size_t>(length > 0 ? length : 0)};
    }
    std::string_view value(tag t) {
        const auto room = static_cast<int32_t>(value_.size());
        const int32_t length = marllib_GetValue(doc_.handle(), t.index(), &value_[0], room);
        if (length <= 0) return {};  // no value, or one set with a negative length: no bytes
        if (length > room) {
            value_.resize(static_cast<std::size_t>(length));
            marllib_GetValue(doc_.handle(), t.index(), &value_[0], length);
        }
        return {value_.data(), static_cast<std::size_t>(length)};
    }

    const Document& doc_;
    char name_[MARLLIB_NAME_MAX] = {};
    std::string value_;
};

}  // namespace detail

template <typename From, typename Output>
bool Document::print(From from, Output& output) const {
    detail::tree_view tree(*this);
    if constexpr (std::is_same_v<From, collection>) {
        return MarlFormat::PrintEntries(tree, tree.entries(from), 0, output);
    } else {
        return MarlFormat::PrintTag(tree, from, output);
    }
}

}  // namespace marl

// Tags and collections as keys of unordered containers.
namespace std {
template <>
struct hash<marl::tag> {
    size_t operator()(marl::tag t) const noexcept { return hash<int32_t>()(t.index()); }
};
template <>
struct hash<marl::collection> {
    size_t operator()(marl::collection c) const noexcept { return hash<int32_t>()(c.index()); }
};
}  // namespace std

#endif  // MARLLIB_HPP
