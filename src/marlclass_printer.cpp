// Document::Print and Document::PrintTag: the format's printer over the document's tables,
// into a stdio stream.
#include <cstddef>
#include <cstdio>
#include <string_view>

#include "marlclass_document.h"
#include "marllib_format.hpp"

namespace MarlClass {

namespace {

// Writes to the stream. Print reports no write errors, so every write counts as done (and the
// printer's checks of its output fold away).
struct UncheckedWrite {
    FILE* stream;
    bool operator()(const char* bytes, size_t count) const {
        std::fwrite(bytes, 1, count, stream);
        return true;
    }
};
using TextOutput = MarlFormat::BufferedOutput<UncheckedWrite>;

// The document's tables as the format's printer walks them. A collection's entries are a
// cursor along its chain of tags, the walk's only state for each level.
class DocumentTree {
public:
    explicit DocumentTree(const Document& document) : document(document) {}

    struct Entries {
        const Document* document;
        int32_t next;
        bool done() const { return next == Tag::kNoNext; }
        int32_t take() {
            const int32_t taken = next;
            next = document->TagAt(taken)->Next();
            return taken;
        }
    };
    // The format's printer reads these members (cppcheck does not follow it there).
    struct Node {
        // cppcheck-suppress unusedStructMember
        std::string_view name;
        // cppcheck-suppress unusedStructMember
        std::string_view value;
        // cppcheck-suppress unusedStructMember
        const Collection* below;  // a container's collection
    };

    Entries entries(const Collection& collection) const {
        return {&document, collection.First()};
    }
    Node node(int32_t index) const {
        const Tag& tag = *document.TagAt(index);
        const std::string_view name(tag.Name(), static_cast<std::size_t>(tag.NameLength()));
        if (!tag.IsLeaf()) return {name, {}, document.CollectionAt(tag.CollectionIndex())};
        if (tag.Value() == nullptr) return {name, {}, nullptr};
        return {name, {tag.Value(), static_cast<std::size_t>(tag.ValueLength())}, nullptr};
    }

private:
    const Document& document;
};

}  // namespace

void Document::Print(FILE* stream) const {
    TextOutput out(UncheckedWrite{stream});
    DocumentTree tree(*this);
    MarlFormat::PrintEntries(tree, tree.entries(root), 0, out);
}

void Document::PrintTag(FILE* stream, int32_t index) const {
    if (TagAt(index) == nullptr) return;
    TextOutput out(UncheckedWrite{stream});
    DocumentTree tree(*this);
    MarlFormat::PrintTag(tree, index, out);
}

}  // namespace MarlClass
