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

// The document's tables as the format's printer walks them: a collection's entries as the
// tags themselves, so that each tag is looked up once.
class DocumentTree {
public:
    explicit DocumentTree(const Document& document) : document(document) {}

    class Entries {
    public:
        Entries(const Document& document, const Collection& collection)
            : document(&document), items(collection.Items()), count(collection.Count()) {}
        int32_t size() const { return count; }
        const Tag* operator[](std::size_t i) const { return document->TagAt(items[i]); }

    private:
        const Document* document;
        const int32_t* items;
        int32_t count;
    };

    Entries entries(const Collection& collection) const { return {document, collection}; }
    const Collection* below(const Tag* tag) const {
        return tag->IsLeaf() ? nullptr : document.CollectionAt(tag->CollectionIndex());
    }
    static std::string_view name(const Tag* tag) {
        return {tag->Name(), static_cast<std::size_t>(tag->NameLength())};
    }
    static std::string_view value(const Tag* tag) {
        if (tag->Value() == nullptr) return {};
        return {tag->Value(), static_cast<std::size_t>(tag->ValueLength())};
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
    const Tag* const tag = TagAt(index);
    if (tag == nullptr) return;
    TextOutput out(UncheckedWrite{stream});
    DocumentTree tree(*this);
    MarlFormat::PrintTag(tree, tag, out);
}

}  // namespace MarlClass
