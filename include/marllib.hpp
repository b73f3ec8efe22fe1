// marllib.hpp: a C++17 layer over marllib's C interface, in this header alone.
//
// Every call below goes to one of the twelve marllib_* functions of marllib.h; nothing C++
// crosses the library boundary, so this header works with any marllib library of the same
// major version, whichever compiler built it. (The lower-case namespace `marl` is this layer;
// the capitalised `Marl` of marllib.h holds the library's own empty base types, which hosts
// never use.)
//
//     marl::Document doc = marl::Document::load("server.marl");
//     int port = doc.value_or(doc.at("server/port"), 8080);
//     for (marl::tag user : doc.children(*doc.at("server/users"), "user"))
//         std::cout << doc.value(user) << '\n';
//     doc.set_value(*doc.at("server/port"), 9090);
//     doc.save("server.marl");
//
// A marl::Document is a document handle and nothing more: copies name the same document, and
// a Document that goes out of scope leaves its document in the library. The library destroys
// documents only all at once: marl::close_all() (marllib_Close) ends every document, and with
// that every Document value held anywhere. Using one afterwards throws marl::error
// (errc::invalid_handle) until new documents are made, and then names whichever new document
// got its handle.
//
// marl::tag and marl::collection wrap the library's indices (numbered from 0 in creation
// order) as two distinct types, so that one cannot be passed where the other is meant;
// Document::root is the document's top level. Names and values are byte strings: any byte is
// allowed, and a name is 1 to 64 bytes.
//
// Looking something up never throws for "not found": it gives an empty std::optional or an
// empty list. Misuse does throw marl::error, a std::runtime_error whose what() names the
// document and the tag or collection, and whose code() tells which kind of failure it was.
// Allocation failure stays std::bad_alloc. Like the library, this layer is for one thread at
// a time.
#ifndef MARLLIB_HPP
#define MARLLIB_HPP

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
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
#include "marllib_edit.hpp"
#include "marllib_file.hpp"
#include "marllib_format.hpp"
#include "marllib_path.hpp"
#include "marllib_reader.hpp"

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
    if (path.find('\0') != std::string::npos) {
        throw error(errc::unreadable_file, "marllib: a file path cannot hold a zero byte");
    }
}
[[noreturn]] inline void cannot_read(const std::string& path, int reason) {
    throw error(errc::unreadable_file,
                "marllib: cannot read '" + path + "': " + MarlFile::Reason(reason),
                std::error_code(reason, std::generic_category()));
}

// The error of a failed MarlFile::ReplaceFile on path, worded as MarlFile::WriteReason words
// it, with its errno (or Windows' own error) as the cause.
[[noreturn]] inline void cannot_write(const std::string& path, int reason,
                                      const MarlFile::WriteFailure& failure) {
    const std::error_code cause =
        failure.windowsCode != 0
            ? std::error_code(static_cast<int>(failure.windowsCode), std::system_category())
            : std::error_code(reason, std::generic_category());
    throw error(errc::unwritable_file,
                "marllib: cannot write '" + path + "': " + MarlFile::WriteReason(reason, failure),
                cause);
}

}  // namespace detail

// Writes the file at path whole or not at all through MarlFile::ReplaceFile: fill(stream)
// writes the content into a stream that replace_file owns (fill neither closes nor keeps it)
// and returns false when a write failed. On any failure the file and its folder stay as they
// were, and replace_file throws errc::unwritable_file, whose cause() is the system's reason
// and whose what() reads "marllib: cannot write 'PATH': REASON", or, where the folder refused
// the new file, "marllib: cannot write 'PATH': cannot make a new file in FOLDER: REASON". An
// exception from fill leaves the same and goes on to the caller.
// - Kept: an existing file's permission bits, its set-user-ID, set-group-ID and sticky bits
//   and, where the process may give them, its owner and group. A symbolic link, or a chain of
//   them, is followed to the file at its end, which is replaced; the links stay (POSIX;
//   Windows writes to the path as given). A new file (also at the end of a dangling link)
//   gets the permissions that new files get (0666 less the umask).
// - How: the text goes to a new file beside the target (made with O_EXCL, so that no file or
//   link already there is written through), which is flushed, synced to the disk, closed and
//   renamed over the target in one step; the folder is synced after. A failure at any point
//   removes the new file. While it exists, SIGINT, SIGTERM and SIGHUP are held back; they
//   arrive once it is renamed or removed. (Windows: _O_EXCL, _commit and MoveFileEx with
//   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH; its own error is then the cause.)
// - A target that exists and is neither a file nor a folder, such as a device or a pipe, is
//   written directly, as a shell's '>' would.
// - Refused, with nothing written: an empty path or one holding a zero byte (EINVAL); a target
//   whose status cannot be had for any reason but that it does not exist, with that reason
//   (ELOOP for a loop of links or a link to itself); a folder (EISDIR); an existing file that
//   the process may not write, although its folder would let it be replaced (EACCES, or EPERM
//   for an immutable one); a folder that does not let the new file be made (EACCES, EPERM,
//   EROFS, ...: the wording with FOLDER, as the followed path writes it; a folder that is not
//   there gives ENOENT or ENOTDIR without it).
// - Later failures give the system's reason: a write, flush or sync (ENOSPC, EFBIG, EIO, ...)
//   or the rename.
inline void replace_file(const std::string& path, MarlFile::FillFunction fill) {
    MarlFile::WriteFailure failure;
    const int reason = path.find('\0') != std::string::npos
                           ? EINVAL
                           : MarlFile::ReplaceFile(path.c_str(), fill, &failure);
    if (reason != 0) detail::cannot_write(path, reason, failure);
}

namespace detail {
// The format printer's output into a string.
struct string_output {
    std::string text;
    void Put(const char* bytes, std::size_t size) { text.append(bytes, size); }
    static bool Ok() { return true; }
};
// The format's encoders' put, into a string.
struct appender {
    std::string& to;
    void operator()(const char* bytes, std::size_t count) const { to.append(bytes, count); }
};
}  // namespace detail

class Source;
namespace detail {
class tree_match;
}  // namespace detail

class Document {
public:
    // The document's top level.
    static constexpr collection root{MARLLIB_ROOT};

    // Adopts a handle that the C interface gave out.
    explicit Document(int32_t handle) noexcept : handle_(handle) {}

    // A new, empty document.
    static Document create() { return Document(marllib_Create()); }

    // A document read from the Marl file at path. Throws errc::unreadable_file, with the
    // system's reason, when the file's bytes cannot be had; malformed text still gives a
    // document (see marllib_Load).
    static Document load(const std::string& path) {
        detail::check_path(path);
        const int32_t handle = marllib_Load(path.c_str(), 0);
        if (handle == MARLLIB_LOAD_UNREADABLE) detail::cannot_read(path, MarlFile::Reported());
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

    // Adds a leaf and then sets its value. Every argument is checked first, so a refused call
    // adds nothing; but if setting the value itself fails (only allocation can fail there),
    // the leaf stays, without value: the library removes nothing, so the add cannot be undone.
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

    // The collection that container `t` holds.
    collection collection_of(tag t) const { return of(t); }

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
    std::vector<tag> children(collection c, std::string_view name) const {
        return named(c, name);
    }
    std::vector<tag> children(tag container, std::string_view name) const {
        length_of(name, "a name");
        const std::optional<collection> held = below(container);
        return held ? named(*held, name) : std::vector<tag>();
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

    // The tag at `path` below collection `from` (by default the top level): names joined by
    // '/', with a leading '/' allowed, name[N] for the N-th entry of that name (counting from
    // 1), and '\' escaping '/', '[' and '\' inside a name, as the marl tool reads them. No tag
    // there gives an empty optional; a malformed path throws errc::bad_path.
    std::optional<tag> at(std::string_view path, collection from = root) const {
        const std::optional<std::vector<path_step>> steps = parse_path(path);
        if (!steps) {
            throw error(errc::bad_path,
                        "marllib: '" + std::string(path) + "' is not a well-formed path");
        }
        return follow_path(
            *steps, from,
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
        struct stream_output {
            std::ostream& out;
            void Put(const char* bytes, std::size_t size) {
                out.write(bytes, static_cast<std::streamsize>(size));
            }
            bool Ok() const { return static_cast<bool>(out); }
        } output{out};
        print(root, output);
    }
    // The same to a stdio stream; false when a write failed (the stream's error then tells why).
    bool write(std::FILE* out) const { return write_to(out, root); }
    // One tag the same way, from no indentation: a leaf's line, or a container's lines and
    // everything below it.
    bool write(std::FILE* out, tag t) const { return write_to(out, t); }

    std::string to_string() const {
        detail::string_output output;
        print(root, output);
        return std::move(output.text);
    }

    // Writes the document to the file at path through marl::replace_file: a failed save
    // leaves the file as it was, and a save keeps its mode and links. Throws
    // errc::unwritable_file with the system's reason.
    void save(const std::string& path) const {
        replace_file(path, [this](std::FILE* file) { return write(file); });
    }

    friend bool operator==(const Document& a, const Document& b) noexcept {
        return a.handle_ == b.handle_;
    }
    friend bool operator!=(const Document& a, const Document& b) noexcept { return !(a == b); }

private:
    // Source prints the tags it adds to a text as this class prints them, and tree_match
    // walks the document as the printer does.
    friend class Source;
    friend class detail::tree_match;

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

    std::vector<tag> named(collection c, std::string_view name) const {
        const int32_t length = length_of(name, "a name");
        std::vector<int32_t> found(static_cast<std::size_t>(count(c)));
        if (found.empty()) return {};
        const int32_t got = marllib_GetTagsByName(handle_, c.index(), name.data(), length,
                                                  found.data(), static_cast<int32_t>(found.size()));
        found.resize(static_cast<std::size_t>(got > 0 ? got : 0));
        return std::vector<tag>(found.begin(), found.end());
    }

    // The nth entry (from 1) named `name` of c, found by walking c to it: the first as find
    // finds it, a later one through a list as long as n (no longer than c).
    std::optional<tag> nth(collection c, std::string_view name, int32_t n) const {
        if (n == 1) return find(c, name);
        const int32_t entries = count(c);
        // A name longer than a tag can hold matches no tag.
        if (n < 1 || n > entries || name.size() > static_cast<std::size_t>(MARLLIB_NAME_MAX)) {
            return std::nullopt;
        }
        std::vector<int32_t> found(static_cast<std::size_t>(n));
        const int32_t got = marllib_GetTagsByName(handle_, c.index(), name.data(),
                                                  static_cast<int32_t>(name.size()), found.data(), n);
        if (got < n) return std::nullopt;
        return tag(found.back());
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

    // The document as the format's printer walks it.
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

        // left_out: tags, sorted by index, that the view leaves out with all they hold.
        explicit tree_view(const Document& doc, const std::vector<int32_t>* left_out = nullptr)
            : doc_(doc), left_out_(left_out), value_(256, '\0') {}
        entries_left entries(collection c) const {
            entries_left left{doc_.entries(c)};
            if (left_out_ != nullptr && !left_out_->empty()) {
                const auto out = [this](tag t) {
                    return std::binary_search(left_out_->begin(), left_out_->end(), t.index());
                };
                left.tags.erase(std::remove_if(left.tags.begin(), left.tags.end(), out),
                                left.tags.end());
            }
            return left;
        }
        // Names and values are copied into buffers of the view's own, reused from tag to tag.
        node_view node(tag t) {
            const std::optional<collection> below = doc_.below(t);
            return {name(t), below ? std::string_view() : value(t), below};
        }

    private:
        std::string_view name(tag t) {
            const int32_t length = marllib_GetName(doc_.handle_, t.index(), name_);
            return {name_, static_cast<std::size_t>(length > 0 ? length : 0)};
        }
        std::string_view value(tag t) {
            const auto room = static_cast<int32_t>(value_.size());
            const int32_t length = marllib_GetValue(doc_.handle_, t.index(), &value_[0], room);
            if (length <= 0) return {};  // no value, or one set with a negative length: no bytes
            if (length > room) {
                value_.resize(static_cast<std::size_t>(length));
                marllib_GetValue(doc_.handle_, t.index(), &value_[0], length);
            }
            return {value_.data(), static_cast<std::size_t>(length)};
        }

        const Document& doc_;
        const std::vector<int32_t>* left_out_;
        char name_[MARLLIB_NAME_MAX] = {};
        std::string value_;
    };

    // Prints the entries of collection `from`, or the one tag `from`, to an output of the
    // format's printer; false when a write failed (printing then stops).
    template <typename From, typename Output>
    bool print(From from, Output& output) const {
        tree_view tree(*this);
        if constexpr (std::is_same_v<From, collection>) {
            return MarlFormat::PrintEntries(tree, tree.entries(from), 0, output);
        } else {
            return MarlFormat::PrintTag(tree, from, output);
        }
    }

    int32_t handle_;
};

// ---- Where: a document together with the text it came from ----

enum class severity { error, warning, note };

// A finding about a text, at a place in it: what marl check reports.
struct diagnostic {
    severity level;
    position where;
    std::string message;
};

// The findings of each severity about a text, also those that were counted but not kept.
struct problem_counts {
    std::size_t errors = 0;
    std::size_t warnings = 0;
    std::size_t notes = 0;
    std::size_t total() const { return errors + warnings + notes; }
};

namespace detail {

inline const char* label(severity level) {
    switch (level) {
        case severity::error: return "error";
        case severity::warning: return "warning";
        case severity::note: break;
    }
    return "note";
}

inline const char* describe(problem why) {
    switch (why) {
        case problem::TagCutOff: return "tag cut off by the end of the input";
        case problem::BadClose: return "'</' is not followed by '>'";
        case problem::BadLeafEnd: return "'/' after a name is not followed by '>'";
        case problem::ShortValue: return "value too short: fewer than 3 bytes follow '='";
        case problem::BadQuote: return "quote in a value is followed by neither a quote nor '>'";
        case problem::UnclosedValue: return "the input ends inside a value";
        case problem::UnclosedName: return "the input ends inside a name";
        case problem::None: break;
    }
    return "malformed tag";
}

// Reads a text as marllib_Load does and notes, in the order found, what it skips, cuts or
// leaves open (malformed tags, cut names, stray and missing closing tags, unread bytes), and
// what looks like text that was never meant as the tag it became (a '<' in a note, a value
// without its opening quote), each at a byte offset; and the '<' of every tag the loader
// makes, in the order it makes them. It keeps the first `most_kept` findings and counts all.
class text_survey {
public:
    struct finding {
        severity level;
        int32_t offset;
        std::string message;
    };

    // tags_expected: room to reserve for the tags' places, when their number is known.
    text_survey(std::string_view text, std::size_t tags_expected, std::size_t most_kept)
        : text_(text), most_kept_(most_kept) {
        tags.reserve(tags_expected);
        if (text.size() < static_cast<std::size_t>(MarlFormat::kShortestTagText)) {
            short_input();
            return;
        }
        const read_end end = read(text, [this](const event& e) { take(e); });
        finish(end);
    }

    std::vector<int32_t> tags;      // the '<' of each tag, by tag index
    std::vector<finding> findings;  // the first most_kept, in the order found
    problem_counts counts;          // of all the findings

private:
    struct open_container {
        int32_t offset;  // its '<'
        span name;       // as written
    };

    void take(const event& e) {
        switch (e.kind) {
            case event_kind::Leaf:
            case event_kind::Tree:
                tags.push_back(e.text.begin);
                check_name(e);
                if (e.kind == event_kind::Tree) open_.push_back({e.text.begin, e.raw_name});
                if (e.raw_value.begin >= 0) check_value_start(e.raw_value.begin - 1);
                return;
            case event_kind::End: close(e.text.begin); return;
            case event_kind::Invalid:
                if (e.why == problem::TagCutOff) return cut_off(e.text.begin);
                if (e.why == problem::BadQuote || e.why == problem::UnclosedValue) {
                    check_value_start(e.raw_name.end + 1);  // the byte after the '='
                }
                // A stray quote is reported where it stands; everything else at its tag's '<'.
                note(severity::error, e.why == problem::BadQuote ? e.text.end - 1 : e.text.begin,
                     describe(e.why));
                return;
        }
    }

    void close(int32_t offset) {
        if (open_.empty()) {
            note(severity::warning, offset, "'</>' closes no open container");
            return;
        }
        open_.pop_back();
    }

    // A '<' with fewer than three bytes after it, which the reader leaves unread. A "</>"
    // there still closes what it closes in the tree the text means, which is the tree the
    // reader builds: the container stays open to the end either way. A whole tag there is
    // lost, though.
    void cut_off(int32_t offset) {
        const std::string_view rest = text_.substr(static_cast<std::size_t>(offset));
        if (rest == "</>") return close(offset);
        const bool whole = rest.size() == 3 && rest[1] != '/' && rest[2] == '>';
        note(severity::error, offset,
             std::string(describe(problem::TagCutOff)) +
                 (whole ? ": the reader needs 3 bytes after a '<', so a line end after it "
                          "would keep it"
                        : ""));
    }

    void check_name(const event& e) {
        const std::string_view raw = text_.substr(
            static_cast<std::size_t>(e.raw_name.begin),
            static_cast<std::size_t>(e.raw_name.end - e.raw_name.begin));
        // Decoding never makes a name longer, so only a long raw name can be cut.
        if (raw.size() > static_cast<std::size_t>(MarlFormat::kNameMax)) {
            const int32_t decoded = MarlFormat::DecodedNameLength(
                raw.data(), static_cast<int32_t>(raw.size()));
            if (decoded > MarlFormat::kNameMax) {
                note(severity::warning, e.text.begin,
                     "name of " + std::to_string(decoded) + " bytes is cut to its first " +
                         std::to_string(MarlFormat::kNameMax) + " bytes");
            }
        }
        if (const char* const odd = odd_name(raw)) note(severity::warning, e.text.begin, odd);
    }

    // What a name's bytes tell of how the tag came about, when they look like text that was
    // never meant as a name; nullptr for a name that looks meant.
    static const char* odd_name(std::string_view raw) {
        const auto blank = [](char c) { return c == ' ' || c == '\t'; };
        if (raw.substr(0, 3) == "!--") {
            return "name starts with '!--': Marl has no comments; notes go between tags, "
                   "without '<'";
        }
        if (raw.find_first_of("\r\n") != std::string_view::npos) {
            return "name holds a line end: a '<' in a note starts a tag";
        }
        if (raw.find('<') != std::string_view::npos) {
            return "name holds a '<': a '<' in a note starts a tag";
        }
        if (blank(raw.front())) {
            return "name starts with a blank: a '<' in a note starts a tag, and blanks after "
                   "'<' belong to the name";
        }
        if (blank(raw.back())) {
            return "name ends with a blank: blanks before '=', '/' or '>' belong to the name";
        }
        return nullptr;
    }

    // The byte after a name's '=' opens its value whatever it is, so a value written without
    // its opening quote (<port=8080>) reads on to the next quote byte.
    void check_value_start(int32_t opening) {
        if (text_[static_cast<std::size_t>(opening)] == MarlFormat::kQuote) return;
        note(severity::error, opening,
             "value does not start with '\"': the byte after '=' is taken as its opening "
             "quote");
    }

    // Input too short for the reader to look at: a '<' in it starts a tag that is cut off,
    // reported as it is where the reader does look.
    void short_input() {
        const std::size_t at = text_.find('<');
        if (at != std::string_view::npos) cut_off(static_cast<int32_t>(at));
    }

    // What stopped reading, and what stays open.
    void finish(const read_end& end) {
        if (end.why == problem::UnclosedName) {
            note(severity::error, end.last, describe(problem::UnclosedName));
        }
        const int32_t unread = static_cast<int32_t>(text_.size()) - end.position;
        if (unread > 0) {
            note(severity::note, end.position,
                 "reading stops here; " + std::to_string(unread) + " byte" +
                     (unread == 1 ? " is" : "s are") + " never read");
        }
        for (auto it = open_.rbegin(); it != open_.rend(); ++it) never_closed(*it);
    }

    void never_closed(const open_container& open) {
        if (findings.size() >= most_kept_) return note(severity::warning, open.offset, {});
        char name[MarlFormat::kNameMax];
        const int32_t length = MarlFormat::DecodeName(
            name, text_.data() + open.name.begin, open.name.end - open.name.begin);
        note(severity::warning, open.offset,
             "container '" + printable({name, static_cast<std::size_t>(length)}) +
                 "' is never closed");
    }

    // Counts every finding, and keeps the first most_kept.
    void note(severity level, int32_t offset, std::string message) {
        ++(level == severity::error     ? counts.errors
           : level == severity::warning ? counts.warnings
                                        : counts.notes);
        if (findings.size() < most_kept_) findings.push_back({level, offset, std::move(message)});
    }

    std::string_view text_;
    std::size_t most_kept_;
    std::vector<open_container> open_;
};

// Follows a text's events, in text order, against the tree of a document that the text is
// meant to load into: the same names, values, nesting and order, with some tags (sorted
// indices) left out together with what they hold. Stops at the first difference.
class tree_match {
public:
    tree_match(const Document& doc, const std::vector<int32_t>& left_out) : tree_(doc, &left_out) {
        open_.push_back(tree_.entries(Document::root));
    }

    void take(const event& e) {
        if (differs_ >= 0) return;
        switch (e.kind) {
            case event_kind::Tree:
            case event_kind::Leaf: {
                if (open_.back().done()) return differ(e, "a tag more than the document has");
                const auto node = tree_.node(open_.back().take());
                const bool container = e.kind == event_kind::Tree;
                if (container != node.below.has_value() || e.name != node.name ||
                    (!container && e.value != node.value)) {
                    return differ(e, "'" + printable(node.name) + "' would read otherwise");
                }
                if (container) open_.push_back(tree_.entries(*node.below));
                return;
            }
            case event_kind::End:
                if (open_.size() == 1) return;  // closes nothing, in either
                if (!open_.back().done()) return differ(e, "a container would end early");
                open_.pop_back();
                return;
            case event_kind::Invalid: return;
        }
    }

    // The offset of the first difference (-1 for none) once the text is read, and what it is.
    int32_t finish(int32_t size) {
        while (differs_ < 0 && !open_.empty()) {
            if (!open_.back().done()) {
                differs_ = size;
                why_ = "tags would be missing";
            }
            open_.pop_back();
        }
        return differs_;
    }
    const std::string& why() const { return why_; }

private:
    void differ(const event& e, std::string why) {
        differs_ = e.text.begin;
        why_ = std::move(why);
    }

    Document::tree_view tree_;
    std::vector<Document::tree_view::entries_left> open_;  // the levels open, the top level first
    int32_t differs_ = -1;
    std::string why_;
};

}  // namespace detail

// A loaded document together with the text it came from, so that a program can tell its
// users where a tag stands: the line and column of every loaded tag, the problems of the text
// as marl check reports them, and errors worded as marl check words them, which editors and
// CI annotations that understand "FILE:LINE:COL:" pick up.
//
//     const marl::Source src = marl::Source::load("config.marl");
//     const marl::tag port = *src.document().at("server/port");
//     if (src.value_as<int>(port) > 65535) throw src.error_at(port, "port out of range");
//
// The positions come from the same reader the library ran over the same bytes. A Source holds
// the text, 4 bytes per loaded tag and, once a position is asked for, 4 bytes per line.
// Editing the document changes no loaded tag's position; a tag added later has none.
class Source {
public:
    // Every finding is kept unless a load asks for fewer.
    static constexpr std::size_t all_problems = static_cast<std::size_t>(-1);

    // The file at path, read whole; fails as Document::load does (errc::unreadable_file).
    // problems() keeps the first most_problems findings (a text with millions of stray
    // "</>" has millions); counted() counts them all.
    static Source load(const std::string& path, std::size_t most_problems = all_problems) {
        detail::check_path(path);
        std::string text;
        if (const int reason = MarlFile::ReadFile(path.c_str(), text)) {
            detail::cannot_read(path, reason);
        }
        return Source(std::move(text), path, most_problems);
    }
    // Text in memory, named `name` in messages.
    static Source load_text(std::string text, std::string name = "<text>",
                            std::size_t most_problems = all_problems) {
        return Source(std::move(text), std::move(name), most_problems);
    }

    Document document() const { return document_; }
    const std::string& name() const { return name_; }  // the path, or the name given
    const std::string& text() const { return text_; }  // the bytes as read

    // The line and column of the tag's '<'; nothing for a tag added after the load.
    std::optional<position> where(tag t) const {
        if (t.index() < 0 || static_cast<std::size_t>(t.index()) >= tags_.size()) {
            return std::nullopt;
        }
        return lines().at(tags_[static_cast<std::size_t>(t.index())]);
    }

    // What marl check reports for the text, in its order, as far as the load kept them.
    const std::vector<diagnostic>& problems() const { return problems_; }
    // The number of findings of each severity, kept or not.
    const problem_counts& counted() const { return counted_; }

    // "NAME:LINE:COL: error: message", as marl check writes it (without the line end).
    std::string describe(const diagnostic& d) const {
        return name_ + ":" + std::to_string(d.where.line) + ":" + std::to_string(d.where.column) +
               ": " + detail::label(d.level) + ": " + d.message;
    }

    // An error (errc::bad_value) whose what() is "NAME:LINE:COL: error: message" for the tag's
    // place ("NAME: error: message" for a tag added later), for a host to throw.
    error error_at(tag t, std::string_view message) const {
        const std::optional<position> at = where(t);
        const std::string text(message);
        return error(errc::bad_value, at ? describe({severity::error, *at, text})
                                         : name_ + ": " + detail::label(severity::error) +
                                               ": " + text);
    }

    // Document::value_as; a value that does not read throws errc::bad_value with its place:
    // "config.marl:3:3: error: 'port' is not a valid int: "80a"", or "... 'port' is out of
    // range for short: "70000"". The message shows the value's first 40 bytes at most.
    template <typename T>
    T value_as(tag t) const {
        static_assert(detail::is_scalar_value<T>, "value_as reads numbers and bools");
        const std::string value = document_.value(t);
        T result{};
        const detail::reading read = detail::read_value(value, result);
        if (read == detail::reading::ok) return result;
        const std::string kind = read == detail::reading::out_of_range
                                     ? "is out of range for "
                                     : "is not a valid ";
        throw error_at(t, "'" + detail::printable(document_.name(t)) + "' " + kind +
                              detail::type_name<T>() + ": \"" + detail::shown_value(value) +
                              "\"");
    }

    // ---- Writing the text back, edited ----
    //
    // save, write and to_string write the text with the document's changes made to it, and
    // every other byte as it was: notes between tags, spacing, line ends, escapes, malformed
    // tags, cut names.
    // - A renamed tag gets only its name rewritten, a leaf whose value changed only its value
    //   (<name/> once it holds none), encoded as the printer encodes them.
    // - A tag added to a collection of the text goes on a line of its own after the line on
    //   which the collection's last entry from the text ends (a note on the rest of that line
    //   stays with the entry), or just before the collection's "</>" where that line holds it
    //   or the collection had no entry. The line takes the indentation of that entry's first
    //   line (for no entry, the container's and the printer's two blanks) and the text's own
    //   line end; what the tag holds is laid out as the printer lays it out, below that line.
    //   A container that the text never closes takes its new tags at the end of the text.
    // - A tag given to remove() loses its bytes, a container's up to its "</>", and the whole
    //   lines it stood on when it stood alone on them.
    // What is written loads back into the document's tree, less the removed tags, and this is
    // checked before anything is written. Where the text cannot keep its bytes and give that
    // tree, such as a tag added after a value that the text leaves open (which swallows
    // everything after it), they throw errc::lost_edit, worded as marl check words its
    // findings ("config.marl:9:1: error: ..."), and write nothing. Positions (where) keep
    // naming places in the text as it was read.

    // Leaves tag t, with everything it holds, out of what save, write and to_string write:
    // an edit of the text. The document keeps the tag, as documents remove nothing.
    void remove(tag t) {
        document_.name(t);  // throws unless the tag exists
        const auto at = std::lower_bound(removed_.begin(), removed_.end(), t.index());
        if (at == removed_.end() || *at != t.index()) removed_.insert(at, t.index());
    }

    std::string to_string() const { return edited(); }
    void write(std::ostream& out) const {
        const std::string text = edited();
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    // Writes the file at path through marl::replace_file, which keeps its mode and links and
    // leaves it as it was on failure (errc::unwritable_file).
    void save(const std::string& path) const {
        const std::string text = edited();
        replace_file(path, [&text](std::FILE* file) {
            return std::fwrite(text.data(), 1, text.size(), file) == text.size();
        });
    }

private:
    Source(std::string text, std::string name, std::size_t most_problems)
        : name_(std::move(name)), text_(std::move(text)), document_(Document::load_text(text_)) {
        const std::size_t made = tag_count(document_);
        detail::text_survey survey(text_, made, most_problems);
        counted_ = survey.counts;
        // The reader here and the library's must be one: the same tags from the same bytes.
        if (survey.tags.size() != made) {
            throw error(errc::other_library,
                        "marllib: the library made another number of tags from '" + name_ +
                            "' than marllib.hpp's reader found: the headers are not those of "
                            "the library's own version");
        }
        tags_ = std::move(survey.tags);
        problems_.reserve(survey.findings.size());
        for (detail::text_survey::finding& found : survey.findings) {
            problems_.push_back({found.level, lines().at(found.offset), std::move(found.message)});
        }
    }

    // The number of tags in doc, in as many calls as a binary search takes: tags are numbered
    // 0, 1, 2, ... with no gaps.
    static std::size_t tag_count(const Document& doc) {
        const auto exists = [&doc](int64_t index) {
            return marllib_GetName(doc.handle(), static_cast<int32_t>(index), nullptr) >= 0;
        };
        constexpr int64_t kMost = int64_t{1} << 31;  // more than any document can hold
        int64_t low = 0;                             // tags 0 .. low - 1 exist
        int64_t high = 1;  // the first missing tag is at high - 1 or below, once it misses
        while (high < kMost && exists(high - 1)) {
            low = high;
            high *= 2;
        }
        while (low < high) {  // the first missing tag is in [low, high - 1]
            const int64_t middle = low + (high - low) / 2;
            if (exists(middle)) {
                low = middle + 1;
            } else {
                high = middle;
            }
        }
        return static_cast<std::size_t>(low);
    }

    // The lines of the text, found once a position is first asked for.
    const line_index& lines() const {
        if (!lines_) lines_.emplace(text_);
        return *lines_;
    }

    bool removed(tag t) const {
        return std::binary_search(removed_.begin(), removed_.end(), t.index());
    }

    // The text with the document's changes made to it; see save.
    std::string edited() const {
        const text_layout layout(text_);
        const auto loaded = static_cast<int32_t>(tags_.size());
        assert(layout.tags().size() == tags_.size());  // the reader that Source was made with
        std::vector<text_edit> edits;
        std::vector<end_entries> at_end(layout.open_at_end().size() + 1);  // by depth
        struct level {
            collection held;
            int32_t container;  // its tag; -1 for the top level
        };
        std::vector<level> todo{{Document::root, -1}};
        while (!todo.empty()) {
            const level here = todo.back();
            todo.pop_back();
            int32_t last = -1;  // the collection's last entry from the text
            std::vector<tag> added;
            for (const tag t : document_.children(here.held)) {
                if (t.index() >= loaded) {
                    if (!removed(t)) added.push_back(t);
                    continue;
                }
                last = t.index();
                if (removed(t)) {
                    const span gone = layout.removal(t.index());
                    edits.push_back({gone.begin, gone.end, {}});
                    continue;
                }
                edit_tag(layout, t, edits);
                if (layout.place(t.index()).container) {
                    todo.push_back({document_.collection_of(t), t.index()});
                }
            }
            if (added.empty()) continue;
            const text_layout::opening opening = layout.opening_for(here.container, last);
            if (opening.at < 0) {
                at_end[depth_at_end(layout, here.container)] = {std::move(added), last};
                continue;
            }
            check_room(layout, opening.at, added.front());
            std::string lines = opening.before;
            lines += print_lines(added, lead_for(layout, here.container, last), layout);
            lines += opening.after;
            edits.push_back({opening.at, opening.at, std::move(lines)});
        }
        end_lines(layout, at_end, edits);
        std::string out = apply_edits(text_, edits);
        check_loads_back(out, edits, layout.line_end());
        return out;
    }

    // A loaded tag's new name and value, where they changed.
    void edit_tag(const text_layout& layout, tag t, std::vector<text_edit>& edits) const {
        const text_layout::tag_place& at = layout.place(t.index());
        const std::string name = document_.name(t);
        char was[MARLLIB_NAME_MAX];
        const int32_t length =
            MarlFormat::DecodeName(was, text_.data() + at.name.begin, at.name.end - at.name.begin);
        if (name != std::string_view(was, static_cast<std::size_t>(length))) {
            std::string bytes;
            MarlFormat::EncodeName(name.data(), static_cast<int32_t>(name.size()),
                                   detail::appender{bytes});
            edits.push_back({at.name.begin, at.name.end, std::move(bytes)});
        }
        if (at.container) return;
        const std::string value = document_.value(t);
        std::string old;
        if (at.value.begin >= 0) {
            old.resize(static_cast<std::size_t>(at.value.end - at.value.begin));
            old.resize(static_cast<std::size_t>(MarlFormat::DecodeValue(
                &old[0], text_.data() + at.value.begin, at.value.end - at.value.begin)));
        }
        if (value == old) return;
        std::string bytes;
        MarlFormat::EncodeValue(value.data(), static_cast<int32_t>(value.size()),
                                detail::appender{bytes});
        if (!value.empty() && at.value.begin >= 0) {  // the bytes between the quotes
            edits.push_back({at.value.begin, at.value.end, std::move(bytes)});
        } else if (value.empty()) {  // from after the name: <name/>
            edits.push_back({at.name.end, at.end, "/>"});
        } else {
            edits.push_back({at.name.end, at.end, "=\"" + bytes + "\">"});
        }
    }

    // The indentation of new entries of a collection: that of its last entry's first line,
    // or, for none, its container's and the text's own step more.
    std::string lead_for(const text_layout& layout, int32_t container, int32_t last) const {
        if (last >= 0) return std::string(layout.indentation(layout.place(last).begin));
        if (container < 0) return {};
        return std::string(layout.indentation(layout.place(container).begin)) +
               std::string(layout.step());
    }

    // Tags laid out as the printer lays them out, each line starting with lead.
    std::string print_lines(const std::vector<tag>& tags, const std::string& lead,
                            const text_layout& layout) const {
        Document::tree_view tree(document_, &removed_);
        detail::string_output out;
        MarlFormat::PrintEntries(tree, Document::tree_view::entries_left{tags}, 0, out,
                                 MarlFormat::LineLayout{lead, layout.line_end(), layout.step()});
        return std::move(out.text);
    }

    // New entries of a collection that go at the end of the text, with the collection's last
    // entry from the text (-1 for none).
    struct end_entries {
        std::vector<tag> tags;
        int32_t last = -1;
    };

    // Where a container that the text leaves open stands among those open at its end: 1 for
    // the outermost; 0 for the top level.
    static std::size_t depth_at_end(const text_layout& layout, int32_t container) {
        const std::vector<int32_t>& open = layout.open_at_end();
        const auto at = std::find(open.begin(), open.end(), container);
        return at == open.end() ? 0 : static_cast<std::size_t>(at - open.begin()) + 1;
    }

    // The tags that go at the end of the text, deepest first: the entries of the containers
    // left open, each closed once something that stands outside it follows.
    void end_lines(const text_layout& layout, const std::vector<end_entries>& at_end,
                   std::vector<text_edit>& edits) const {
        const auto first = std::find_if(at_end.begin(), at_end.end(),
                                        [](const end_entries& e) { return !e.tags.empty(); });
        if (first == at_end.end()) return;
        const auto outermost = static_cast<std::size_t>(first - at_end.begin());
        check_room(layout, layout.size(), first->tags.front());
        const std::vector<int32_t>& open = layout.open_at_end();
        // A removed container takes the text to its end with it: nothing in it is closed.
        std::size_t depth =
            std::find_if(open.begin(), open.end(), [this](int32_t t) { return removed(tag(t)); }) -
            open.begin();
        std::string lines;
        for (;; --depth) {
            const end_entries& entries = at_end[depth];
            const int32_t container = depth == 0 ? -1 : open[depth - 1];
            if (!entries.tags.empty()) {
                const std::string lead = lead_for(layout, container, entries.last);
                lines += print_lines(entries.tags, lead, layout);
            }
            if (depth == outermost) break;
            lines += std::string(layout.indentation(layout.place(container).begin)) + "</>";
            lines += layout.line_end();
        }
        text_layout::opening end = layout.opening_at_end();
        if (end.drops_last_end) lines.resize(lines.size() - layout.line_end().size());
        edits.push_back({end.at, end.at, end.before + lines});
    }

    // New lines at offset would be read; otherwise throws, naming the place that stops it.
    void check_room(const text_layout& layout, int32_t offset, tag first) const {
        if (layout.stop() < 0 || offset <= layout.stop()) return;
        throw error(errc::lost_edit,
                    describe({severity::error, lines().at(layout.stop()),
                              "cannot add '" + detail::printable(document_.name(first)) +
                                  "' after this tag, since nothing after it is read: " +
                                  detail::describe(layout.stop_problem())}));
    }

    // The edited text loads back into the document, or this throws where it would not.
    // The reader takes a '<' with fewer than kShortestTagText bytes after it for a tag cut
    // off; where an edit brought the end that close to a tag (removing what followed it, or
    // shortening its name), the text gets a line end after it.
    void check_loads_back(std::string& out, const std::vector<text_edit>& edits,
                          std::string_view line_end) const {
        for (bool first = true;; first = false) {
            detail::tree_match match(document_, removed_);
            const read_end end = read(out, [&match](const event& e) { match.take(e); });
            const int32_t differs = match.finish(static_cast<int32_t>(out.size()));
            if (differs < 0) return;
            // Text too short to be read at all is cut off at its first '<'.
            const bool short_text =
                out.size() < static_cast<std::size_t>(MarlFormat::kShortestTagText);
            const std::size_t at = short_text ? std::min(out.find('<'), out.size())
                                              : static_cast<std::size_t>(end.last);
            const std::size_t cut = out.size() - at;
            const bool ended_so =
                text_.size() >= cut && text_.compare(text_.size() - cut, cut, out, at, cut) == 0;
            if (first && (short_text || end.why == problem::TagCutOff) && !ended_so) {
                out += line_end;
                continue;
            }
            throw error(
                errc::lost_edit,
                describe({severity::error, lines().at(original_offset(edits, differs)),
                          "the edited text would not load back as the document: " + match.why()}));
        }
    }

    std::string name_;
    std::string text_;
    Document document_;
    std::vector<int32_t> tags_;  // the '<' of each loaded tag, by tag index
    std::vector<diagnostic> problems_;
    problem_counts counted_;
    mutable std::optional<line_index> lines_;
    std::vector<int32_t> removed_;  // the tags remove() took out, sorted by index
};

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
