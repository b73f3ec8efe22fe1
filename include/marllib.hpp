// marllib.hpp: a C++17 layer over marllib's C interface, in this header alone.
//
// Every call below goes to one of the twelve marllib_* functions of marllib.h; nothing C++
// crosses the library boundary, so this header works with any marllib library of the same
// major version, whichever compiler built it.
//
//     marl::Document doc = marl::Document::load("rooms.marl");
//     if (auto hall = doc.find(marl::Document::root, "hall")) {
//         for (int32_t tag : doc.tags(doc.collection(*hall))) std::cout << doc.name(tag) << '\n';
//     }
//     marl::close_all();
//
// A marl::Document is a document handle and nothing more: copies name the same document, and
// a Document that goes out of scope leaves its document in the library. The library destroys
// documents only all at once: marl::close_all() (marllib_Close) ends every document, and with
// that every Document value held anywhere. Using one afterwards throws marl::error
// (errc::invalid_handle) until new documents are made, and then names whichever new document
// got its handle.
//
// Tags and collections are the library's indices (int32_t), numbered from 0 in creation order;
// Document::root (MARLLIB_ROOT) is the document's top level. Names and values are byte strings:
// any byte is allowed, and a name is 1 to 64 bytes.
//
// Failures throw marl::error, a std::runtime_error whose what() says what went wrong and whose
// code() tells which kind of failure it was. Allocation failure stays std::bad_alloc. Like the
// library, this layer is for one thread at a time.
//
// Everything here is in namespace marl (lower case). The Marl namespace (capital M) of
// marllib.h holds the library's own empty base types, which a host never uses.
#ifndef MARLLIB_HPP
#define MARLLIB_HPP

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "marllib.h"

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
};

class error : public std::runtime_error {
public:
    error(errc code, const std::string& what) : std::runtime_error(what), code_(code) {}
    errc code() const noexcept { return code_; }

private:
    errc code_;
};

// Ends every document (marllib_Close): all Document values become invalid at once, and the
// next document made gets handle 0 again.
inline void close_all() noexcept { marllib_Close(); }

class Document {
public:
    // The collection index of a document's top level.
    static constexpr int32_t root = MARLLIB_ROOT;

    // Adopts a handle that the C interface gave out.
    explicit Document(int32_t handle) noexcept : handle_(handle) {}

    // A new, empty document.
    static Document create() { return Document(marllib_Create()); }

    // A document read from the Marl file at path. Throws errc::unreadable_file when the file's
    // bytes cannot be had; malformed text still gives a document (see marllib_Load).
    static Document load(const std::string& path) {
        if (path.find('\0') != std::string::npos) {
            throw error(errc::unreadable_file, "marllib: a file path cannot hold a zero byte");
        }
        const int32_t handle = marllib_Load(path.c_str(), 0);
        if (handle < 0) {
            throw error(errc::unreadable_file, "marllib: cannot read the file '" + path + "'");
        }
        return Document(handle);
    }

    // A document read from Marl text in memory; empty text gives an empty document.
    static Document load_text(std::string_view text) {
        if (text.empty()) return create();  // a length of 0 would make marllib_Load read a file
        return Document(marllib_Load(text.data(), length_of(text, "the text")));
    }

    int32_t handle() const noexcept { return handle_; }

    // Adds a container or a leaf at the end of `collection` and returns its tag index.
    int32_t add_container(int32_t collection, std::string_view name) {
        return add(collection, name, false);
    }
    int32_t add_leaf(int32_t collection, std::string_view name) {
        return add(collection, name, true);
    }
    int32_t add_leaf(int32_t collection, std::string_view name, std::string_view value) {
        length_of(value, "a value");  // refused before the tag is added
        const int32_t tag = add(collection, name, true);
        set_value(tag, value);
        return tag;
    }

    bool is_leaf(int32_t tag) const {
        const int32_t result = marllib_GetCollection(handle_, tag);
        if (result == get_collection_leaf) return true;
        if (result >= 0) return false;
        throw tag_error(result == MARLLIB_INVALID_HANDLE, tag);
    }

    // The collection that container `tag` owns.
    int32_t collection(int32_t tag) const {
        const int32_t result = marllib_GetCollection(handle_, tag);
        if (result >= 0) return result;
        if (result == get_collection_leaf) {
            throw error(errc::not_a_container, where(tag) + " is a leaf and has no collection");
        }
        throw tag_error(result == MARLLIB_INVALID_HANDLE, tag);
    }

    // The tags of `collection`, in order.
    std::vector<int32_t> tags(int32_t collection = root) const {
        std::vector<int32_t> tags(static_cast<std::size_t>(count(collection)));
        if (!tags.empty()) {
            marllib_GetTags(handle_, collection, tags.data(), static_cast<int32_t>(tags.size()));
        }
        return tags;
    }

    std::string name(int32_t tag) const {
        char field[MARLLIB_NAME_MAX];
        const int32_t length = marllib_GetName(handle_, tag, field);
        if (length < 0) throw tag_error(length == MARLLIB_INVALID_HANDLE, tag);
        return std::string(field, static_cast<std::size_t>(length));
    }

    void set_name(int32_t tag, std::string_view name) {
        const int32_t length = name_length(name);
        if (marllib_SetName(handle_, tag, name.data(), length)) return;
        throw tag_error(marllib_GetName(handle_, tag, nullptr) == MARLLIB_INVALID_HANDLE, tag);
    }

    // The value of leaf `tag`; empty for a leaf without one.
    std::string value(int32_t tag) const {
        const int32_t length = marllib_GetValue(handle_, tag, nullptr, 0);
        if (length < 0) {
            // Either a failure or a leaf whose value was set with a negative length through the
            // C interface, which holds no bytes: the tag's kind tells which.
            if (is_leaf(tag)) return std::string();
            throw error(errc::not_a_leaf, where(tag) + " is a container and has no value");
        }
        std::string value(static_cast<std::size_t>(length), '\0');
        if (length > 0) marllib_GetValue(handle_, tag, &value[0], length);
        return value;
    }

    void set_value(int32_t tag, std::string_view value) {
        const int32_t length = length_of(value, "a value");
        if (marllib_SetValue(handle_, tag, value.data(), length)) return;
        const int32_t kind = marllib_GetCollection(handle_, tag);
        if (kind >= 0) {
            throw error(errc::not_a_leaf, where(tag) + " is a container and takes no value");
        }
        throw tag_error(kind == MARLLIB_INVALID_HANDLE, tag);
    }

    // The first tag of `collection` named `name`, if there is one.
    std::optional<int32_t> find(int32_t collection, std::string_view name) const {
        const int32_t length = length_of(name, "a name");
        if (count(collection) == 0) return std::nullopt;
        const int32_t tag = marllib_GetTagByName(handle_, collection, name.data(), length);
        if (tag < 0) return std::nullopt;
        return tag;
    }

    // Every tag of `collection` named `name`, in order.
    std::vector<int32_t> find_all(int32_t collection, std::string_view name) const {
        const int32_t length = length_of(name, "a name");
        std::vector<int32_t> found(static_cast<std::size_t>(count(collection)));
        if (found.empty()) return found;
        const int32_t got = marllib_GetTagsByName(handle_, collection, name.data(), length,
                                                  found.data(), static_cast<int32_t>(found.size()));
        found.resize(static_cast<std::size_t>(got > 0 ? got : 0));
        return found;
    }

    friend bool operator==(const Document& a, const Document& b) noexcept {
        return a.handle_ == b.handle_;
    }
    friend bool operator!=(const Document& a, const Document& b) noexcept { return !(a == b); }

private:
    // marllib_GetCollection's result for a leaf. The other failures this layer tells apart by
    // sign and by MARLLIB_INVALID_HANDLE alone.
    static constexpr int32_t get_collection_leaf = -3;

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

    std::string document() const { return "document " + std::to_string(handle_); }
    std::string where(int32_t tag) const {
        return "marllib: tag " + std::to_string(tag) + " of " + document();
    }

    error handle_error() const {
        return error(errc::invalid_handle,
                     "marllib: " + document() + " does not exist (never made, or closed)");
    }

    error tag_error(bool invalid_handle, int32_t tag) const {
        if (invalid_handle) return handle_error();
        return error(errc::no_such_tag,
                     "marllib: " + document() + " has no tag " + std::to_string(tag));
    }

    // The number of tags in `collection`; throws unless both the document and it exist.
    int32_t count(int32_t collection) const {
        const int32_t count = marllib_GetTags(handle_, collection, nullptr, 0);
        if (count >= 0) return count;
        if (count == MARLLIB_INVALID_HANDLE) throw handle_error();
        throw error(errc::no_such_collection,
                    "marllib: " + document() + " has no collection " + std::to_string(collection));
    }

    int32_t add(int32_t collection, std::string_view name, bool leaf) {
        // Checked first: a container refused for its name would leave its new collection behind.
        const int32_t length = name_length(name);
        const int32_t tag = marllib_AddTag(handle_, collection, name.data(), length, leaf);
        if (tag >= 0) return tag;
        if (tag == MARLLIB_INVALID_HANDLE) throw handle_error();
        throw error(errc::no_such_collection,
                    "marllib: " + document() + " has no collection " + std::to_string(collection));
    }

    int32_t handle_;
};

}  // namespace marl

#endif  // MARLLIB_HPP
