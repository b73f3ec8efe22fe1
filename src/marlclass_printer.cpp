// The printer: Document::Print and Document::PrintTag write a document as Marl text, through
// the document's read-only accessors and the format's encoders.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "ds.h"
#include "marllib_format.hpp"
#include "marlclass_document.h"

namespace MarlClass {

namespace {

// Collects printed bytes and hands them to the stream in large writes: a stdio call for every
// piece of every line, each taking the stream's lock, would cost more than the printing.
class TextOutput {
public:
    explicit TextOutput(FILE* stream) : stream(stream) {}
    ~TextOutput() { Flush(); }
    TextOutput(const TextOutput&) = delete;
    TextOutput& operator=(const TextOutput&) = delete;

    void Put(const char* bytes, size_t length) {
        if (length > sizeof buffer - used) {
            Flush();
            if (length > sizeof buffer) {
                std::fwrite(bytes, 1, length, stream);
                return;
            }
        }
        std::memcpy(buffer + used, bytes, length);
        used += length;
    }
    void Put(const char* text) { Put(text, std::strlen(text)); }
    void Put(char byte) { Put(&byte, 1); }

private:
    void Flush() {
        if (used > 0) std::fwrite(buffer, 1, used, stream);
        used = 0;
    }

    FILE* stream;
    size_t used = 0;
    char buffer[16 * 1024] = {};
};

// The blanks of the deepest indentation; shallower lines take a prefix.
struct Blanks {
    char bytes[MarlFormat::IndentWidth(MarlFormat::kIndentLevels)];
    constexpr Blanks() : bytes() {
        // cppcheck-suppress useStlAlgorithm ; std::fill is not constexpr in C++17
        for (char& byte : bytes) byte = ' ';
    }
};
constexpr Blanks kBlanks{};

void Indent(TextOutput& out, int depth) {
    out.Put(kBlanks.bytes, MarlFormat::IndentWidth(static_cast<size_t>(depth)));
}

// What stands around a value: '=' and the opening quote, the closing quote and the tag's end.
constexpr char kValueOpen[] = {'=', MarlFormat::kQuote};
constexpr char kValueClose[] = {MarlFormat::kQuote, '>', '\n'};

void WriteTag(TextOutput& out, const Tag& tag, int depth) {
    const auto put = [&out](const char* bytes, size_t length) { out.Put(bytes, length); };
    Indent(out, depth);
    out.Put('<');
    MarlFormat::EncodeName(tag.Name(), tag.NameLength(), put);
    if (!tag.IsLeaf()) {
        out.Put(">\n");
    } else if (tag.Value() == nullptr) {
        out.Put("/>\n");
    } else {
        out.Put(kValueOpen, sizeof kValueOpen);
        MarlFormat::EncodeValue(tag.Value(), tag.ValueLength(), put);
        out.Put(kValueClose, sizeof kValueClose);
    }
}

// One level of the walk: a collection and the position of its next entry.
struct StackNode {
    const Collection* collection;
    int32_t position;
};

// The frames of the walk, by value in one array that doubles as it grows: owned here, so that
// it is released however the walk ends, and a container costs no allocation of its own.
class FrameStack {
public:
    FrameStack() = default;
    ~FrameStack() { delete[] frames; }
    FrameStack(const FrameStack&) = delete;
    FrameStack& operator=(const FrameStack&) = delete;
    DS::Collection<StackNode, int> View() { return {&count, &capacity, &frames}; }

private:
    int count = 0;
    int capacity = 0;
    StackNode* frames = nullptr;
};

// Writes the entries of collection, and everything under them, depth levels deep.
void PrintCollection(TextOutput& out, const Document& document, const Collection& collection,
                     int depth) {
    // The walk keeps its frames on the heap, so any depth of nesting prints. The innermost
    // one, the frontier, is kept apart from them.
    FrameStack stack;
    auto frames = stack.View();
    StackNode frontier{&collection, 0};
    for (;;) {
        const Collection& walked = *frontier.collection;
        if (frontier.position < walked.Count()) {
            const Tag& tag = *document.TagAt(walked.Items()[frontier.position]);
            WriteTag(out, tag, depth + frames.size());
            ++frontier.position;
            if (tag.IsLeaf()) continue;
            frames.reserve();
            frames.appendReserved(frontier);
            frontier = {document.CollectionAt(tag.CollectionIndex()), 0};
            continue;
        }
        if (frames.size() == 0) return;
        frontier = frames.pop();  // its position is already past the container just finished
        Indent(out, depth + frames.size());
        out.Put("</>\n");
    }
}

}  // namespace

void Document::Print(FILE* stream) const {
    TextOutput out(stream);
    PrintCollection(out, *this, root, 0);
}

void Document::PrintTag(FILE* stream, int32_t index) const {
    const Tag* const tag = TagAt(index);
    if (tag == nullptr) return;
    TextOutput out(stream);
    WriteTag(out, *tag, 0);
    if (tag->IsLeaf()) return;
    PrintCollection(out, *this, *CollectionAt(tag->CollectionIndex()), 1);
    out.Put("</>\n");
}

}  // namespace MarlClass
