#include "marlclass_document.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "ds.h"

namespace MarlClass {

Document::~Document() {
    // Tags and collections live in the arena and go with it; only bytes that a tag took from
    // the heap need freeing one by one, and a loaded document has none.
    if (heapBytes) {
        for (int32_t i = 0; i < tagCount; ++i) static_cast<Tag*>(tags[i])->~Tag();
    }
    delete[] tags;
    delete[] collections;
}

Tag* Document::TagAt(int32_t tag) const {
    if (tag < 0 || tag >= tagCount) return nullptr;
    return static_cast<Tag*>(tags[tag]);
}

const Collection* Document::CollectionAt(int32_t collection) const {
    if (collection == kRoot) return &root;
    if (collection < 0 || collection >= collectionCount) return nullptr;
    return static_cast<const Collection*>(collections[collection]);
}

Collection* Document::MutableCollectionAt(int32_t collection) {
    return const_cast<Collection*>(CollectionAt(collection));
}

DS::Collection<Marl::Tag*, int32_t> Document::TagTable() {
    return {&tagCount, &tagCapacity, &tags};
}

DS::Collection<Marl::Collection*, int32_t> Document::CollectionTable() {
    return {&collectionCount, &collectionCapacity, &collections};
}

Collection* Document::NewCollection() {
    return new (arena.Allocate(sizeof(Collection), alignof(Collection))) Collection(arena);
}

int32_t Document::CheckCollection(int32_t collection) const {
    if (collection >= collectionCount) return -1;
    if (collection < kRoot) return -2;
    return 0;
}

int32_t Document::AddTag(int32_t collection, const char* name, int32_t length, bool isLeaf) {
    if (isLeaf) return AddLeaf(collection, name, length, nullptr, 0);
    if (const int32_t failure = CheckCollection(collection)) return failure;

    auto collectionTable = CollectionTable();
    collectionTable.reserve();
    if (!Tag::ValidName(name, length)) {
        // A container refused for its name still leaves its new collection behind, unreferenced.
        collectionTable.appendReserved(NewCollection());
        return -3;
    }

    // Everything that can fail comes first and changes nothing that can be seen: room in the
    // tables, then the new objects. Only then is the tag linked in.
    Collection* const target = MutableCollectionAt(collection);
    TagTable().reserve();
    target->Reserve();
    Collection* const own = NewCollection();
    Tag* const tag = Tag::Create(arena, name, length, false, collectionCount);

    collectionTable.appendReserved(own);
    return Link(target, tag);
}

int32_t Document::AddLeaf(int32_t collection, const char* name, int32_t length,
                          const char* value, int32_t valueLength) {
    if (const int32_t failure = CheckCollection(collection)) return failure;
    if (!Tag::ValidName(name, length)) return -3;

    // As for a container: room first, then the tag, then the links.
    Collection* const target = MutableCollectionAt(collection);
    TagTable().reserve();
    target->Reserve();
    return Link(target, Tag::Create(arena, name, length, true, -1, value, valueLength));
}

int32_t Document::Link(Collection* target, Tag* tag) noexcept {
    target->AppendReserved(tagCount);
    TagTable().appendReserved(tag);
    return tagCount - 1;
}

int32_t Document::GetCollection(int32_t tag) const {
    const Tag* const found = TagAt(tag);
    if (found == nullptr) return -2;
    if (found->isLeaf) return -3;
    return found->collection;
}

bool Document::SetValue(int32_t tag, const char* value, int32_t length) {
    Tag* const found = TagAt(tag);
    if (found == nullptr || !found->SetValue(value, length)) return false;
    heapBytes = heapBytes || found->OwnsHeapBytes();
    return true;
}

int32_t Document::GetValue(int32_t tag, char* buffer, int32_t max) const {
    const Tag* const found = TagAt(tag);
    if (found == nullptr) return -1;
    if (!found->isLeaf) return -2;
    return found->GetValue(buffer, max);
}

bool Document::SetName(int32_t tag, const char* name, int32_t length) {
    Tag* const found = TagAt(tag);
    if (found == nullptr || !found->SetName(name, length)) return false;
    heapBytes = heapBytes || found->OwnsHeapBytes();
    return true;
}

int32_t Document::GetName(int32_t tag, char* buffer) const {
    const Tag* const found = TagAt(tag);
    if (found == nullptr) return -1;
    return found->GetName(buffer);
}

int32_t Document::GetTags(int32_t collection, int32_t* out, int32_t max) const {
    if (const int32_t failure = CheckCollection(collection)) return failure;
    const Collection* const list = CollectionAt(collection);
    if (out != nullptr && max > 0) {
        std::copy(list->items, list->items + std::min(max, list->count), out);
    }
    return list->count;
}

int32_t Document::GetTagsByName(int32_t collection, const char* name, int32_t length,
                                int32_t* out, int32_t max) const {
    if (out == nullptr || max <= 0 || CheckCollection(collection) != 0) return 0;
    const Collection* const list = CollectionAt(collection);
    int32_t written = 0;
    for (int32_t i = 0; i < list->count && written < max; ++i) {
        if (TagAt(list->items[i])->NameEquals(name, length)) out[written++] = list->items[i];
    }
    return written;
}

int32_t Document::GetTagByName(int32_t collection, const char* name, int32_t length) const {
    if (CheckCollection(collection) != 0) return -1;
    const Collection* const list = CollectionAt(collection);
    for (int32_t i = 0; i < list->count; ++i) {
        if (TagAt(list->items[i])->NameEquals(name, length)) return list->items[i];
    }
    return -1;
}

}  // namespace MarlClass

// ---- Printing ----

namespace MarlClass {

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

namespace {

constexpr char kNameEscape = static_cast<char>(0x80);

// Two blanks per level, up to kIndentLevels levels; deeper lines get the same indentation as
// that level. The reader skips blanks whatever their number, and the cap keeps the printed
// text linear in the size of the document: a million nested containers would otherwise take
// a million lines of up to two million blanks each.
constexpr int kIndentLevels = 64;

struct Blanks {
    char bytes[2 * kIndentLevels];
    constexpr Blanks() : bytes() {
        // cppcheck-suppress useStlAlgorithm ; std::fill is not constexpr in C++17
        for (char& byte : bytes) byte = ' ';
    }
};
constexpr Blanks kBlanks{};

void Indent(TextOutput& out, int depth) {
    out.Put(kBlanks.bytes, 2 * static_cast<size_t>(std::min(depth, kIndentLevels)));
}

// The escape pair's second byte for a name byte that the reader would not take as itself,
// or 0 for a byte that is written as it is.
char NameEscapeFor(char c) {
    switch (c) {
        case '=': return '1';
        case '/': return '2';
        case '>': return '3';
        case kNameEscape: return kNameEscape;
        default: return 0;
    }
}

void WriteName(TextOutput& out, const Tag& tag) {
    const char* const name = tag.name;
    const int32_t length = tag.nameLength;
    int32_t plain = 0;  // start of the run of bytes not yet written
    for (int32_t i = 0; i < length; ++i) {
        const char escaped = NameEscapeFor(name[i]);
        if (escaped == 0) continue;
        out.Put(name + plain, static_cast<size_t>(i - plain));
        const char pair[2] = {kNameEscape, escaped};
        out.Put(pair, 2);
        plain = i + 1;
    }
    out.Put(name + plain, static_cast<size_t>(length - plain));
}

// Writes the value with every quote byte doubled.
void WriteValue(TextOutput& out, const char* value, int32_t length) {
    const char* run = value;
    const char* const end = value + length;
    while (const auto* quote =
               static_cast<const char*>(std::memchr(run, '"', static_cast<size_t>(end - run)))) {
        out.Put(run, static_cast<size_t>(quote + 1 - run));  // up to and with the quote
        out.Put('"');
        run = quote + 1;
    }
    out.Put(run, static_cast<size_t>(end - run));
}

void WriteTag(TextOutput& out, const Tag& tag, int depth) {
    Indent(out, depth);
    out.Put('<');
    WriteName(out, tag);
    if (!tag.isLeaf) {
        out.Put(">\n");
    } else if (tag.value == nullptr) {
        out.Put("/>\n");
    } else {
        out.Put("=\"");
        WriteValue(out, tag.value, tag.valueLength);
        out.Put("\">\n");
    }
}

// The frames of the walk: owned here, so that they are released however Print ends.
class FrameStack {
public:
    ~FrameStack() {
        while (count > 0) delete View().pop();
        delete[] frames;
    }
    DS::Collection<StackNode*, int> View() { return {&count, &capacity, &frames}; }

private:
    int count = 0;
    int capacity = 0;
    StackNode** frames = nullptr;
};

}  // namespace

void Document::Print(FILE* stream) const {
    TextOutput out(stream);
    PrintCollection(out, root, 0);
}

void Document::PrintTag(FILE* stream, int32_t index) const {
    const Tag* const tag = TagAt(index);
    if (tag == nullptr) return;
    TextOutput out(stream);
    WriteTag(out, *tag, 0);
    if (tag->isLeaf) return;
    PrintCollection(out, *CollectionAt(tag->collection), 1);
    out.Put("</>\n");
}

void Document::PrintCollection(TextOutput& out, const Collection& collection, int depth) const {
    // The walk keeps its frames on the heap, so any depth of nesting prints.
    FrameStack stack;
    auto frames = stack.View();
    std::unique_ptr<StackNode> frontier(new StackNode{&collection, 0});
    for (;;) {
        const Collection& walked = *frontier->collection;
        if (frontier->position < walked.count) {
            const Tag& tag = *TagAt(walked.items[frontier->position]);
            WriteTag(out, tag, depth + frames.size());
            if (tag.isLeaf) {
                ++frontier->position;
                continue;
            }
            std::unique_ptr<StackNode> inner(new StackNode{CollectionAt(tag.collection), 0});
            frames.reserve();
            frames.appendReserved(frontier.release());
            frontier = std::move(inner);
            continue;
        }
        if (frames.size() == 0) return;
        frontier.reset(frames.pop());
        ++frontier->position;  // past the container just finished
        Indent(out, depth + frames.size());
        out.Put("</>\n");
    }
}

}  // namespace MarlClass
