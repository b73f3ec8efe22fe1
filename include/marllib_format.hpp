// marllib_format.hpp: the facts of the Marl text format, each stated once, for every reader
// and writer of the text: the library's reader and printer, the marl tool and the C++ layer of
// marllib.hpp. The special bytes, the name limit, the shortest text that can hold a tag, the
// indentation of printed text, how names and values are escaped in the text and decoded from
// it, and the one printer that lays a tree out as text. Header-only C++17; it needs nothing of
// the library but marllib.h's name limit.
//
// MarlFormat is the library's own namespace for these facts; marllib.hpp's layer for hosts is
// the lower-case `marl`.
#ifndef MARLLIB_FORMAT_HPP
#define MARLLIB_FORMAT_HPP

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "marllib.h"

namespace MarlFormat {

// Inside a name, the escape byte and the byte after it stand for one byte (see Unescape).
constexpr char kEscape = static_cast<char>(0x80);
// Opens and closes a value; doubled inside a value, it stands for one quote byte.
constexpr char kQuote = '"';
// A decoded name holds at most this many bytes; a longer one is cut.
constexpr int32_t kNameMax = MARLLIB_NAME_MAX;
// Closes the innermost open container.
constexpr std::string_view kCloseTag = "</>";
// Every tag is a '<' followed by at least three bytes ("<a/>", "</>" and a line end, ...), so
// shorter text holds no tag and is not read at all.
constexpr int32_t kShortestTagText = 4;

// Printed text indents each level of nesting by kIndentStep blanks, up to kIndentLevels
// levels; deeper lines get the same indentation as that level. The reader skips blanks
// whatever their number, and the cap keeps printed text linear in the size of the document:
// a million nested containers would otherwise take a million lines of up to two million
// blanks each.
constexpr int32_t kIndentStep = 2;
constexpr int32_t kIndentLevels = 64;

// The blanks that indent a line depth levels deep.
constexpr std::size_t IndentWidth(std::size_t depth) {
    constexpr auto deepest = static_cast<std::size_t>(kIndentLevels);
    return static_cast<std::size_t>(kIndentStep) * (depth < deepest ? depth : deepest);
}

// The bytes that end a name ('=', '/', '>'), in the order of the digits that stand for them
// after an escape byte ('1', '2', '3').
constexpr char kNameEnds[3] = {'=', '/', '>'};
constexpr char kFirstEscapeDigit = '1';

constexpr bool EndsName(char c) {
    return c == kNameEnds[0] || c == kNameEnds[1] || c == kNameEnds[2];
}

// What an escape byte followed by x stands for: '=', '/', '>' for '1', '2', '3', and x itself
// for any other byte (so an escaped escape byte is one escape byte).
constexpr char Unescape(char x) {
    const int digit = x - kFirstEscapeDigit;
    return digit >= 0 && digit < 3 ? kNameEnds[digit] : x;
}

// The second byte of the escape pair that a name byte is written as, or 0 for a byte that is
// written as it is: the bytes that end a name and the escape byte itself.
constexpr char EscapeFor(char c) {
    for (int digit = 0; digit < 3; ++digit) {
        if (c == kNameEnds[digit]) return static_cast<char>(kFirstEscapeDigit + digit);
    }
    return c == kEscape ? kEscape : 0;
}

// ---- Decoding, as the reader does ----

// The length of a name without escapes once it is cut to kNameMax bytes.
constexpr int32_t CutNameLength(int32_t length) { return length < kNameMax ? length : kNameMax; }

// Decodes length raw name bytes into out (room for kNameMax bytes) and returns the decoded
// length, 0..kNameMax: the name is cut to its first kNameMax decoded bytes. A lone escape
// byte at the very end stands for itself.
inline int32_t DecodeName(char* out, const char* raw, int32_t length) {
    int32_t i = 0;
    int32_t o = 0;
    while (i < length && o < kNameMax) {
        if (raw[i] != kEscape) {
            out[o++] = raw[i++];
        } else if (i + 1 < length) {
            out[o++] = Unescape(raw[i + 1]);
            i += 2;
        } else {
            out[o++] = kEscape;
            break;
        }
    }
    return o;
}

// The number of bytes that length raw name bytes decode to before the cut: more than
// kNameMax means that the reader cuts the name.
inline int32_t DecodedNameLength(const char* raw, int32_t length) {
    int32_t decoded = 0;
    for (int32_t i = 0; i < length; ++i, ++decoded) {
        if (raw[i] == kEscape && i + 1 < length) ++i;
    }
    return decoded;
}

// Collapses each pair of quote bytes in length raw value bytes into one, writing to out (room
// for length bytes), and returns the collapsed length. A lone quote byte at the very end is
// kept as it is.
inline int32_t DecodeValue(char* out, const char* raw, int32_t length) {
    int32_t o = 0;
    for (int32_t i = 0; i < length; ++i) {
        if (raw[i] == kQuote && i + 1 < length) ++i;  // the first of a pair stands for nothing
        out[o++] = raw[i];
    }
    return o;
}

// ---- Encoding, as the printer does ----
// Both hand the text to put(const char* bytes, std::size_t count) in runs, so that plain
// bytes, nearly all of them, are passed on a run at a time.

// Writes length name bytes so that the reader decodes them back: every byte that would end
// the name, and the escape byte, as an escape pair.
template <typename Put>
void EncodeName(const char* name, int32_t length, Put&& put) {
    int32_t plain = 0;  // start of the run of bytes not yet written
    for (int32_t i = 0; i < length; ++i) {
        const char escaped = EscapeFor(name[i]);
        if (escaped == 0) continue;
        put(name + plain, static_cast<std::size_t>(i - plain));
        const char pair[2] = {kEscape, escaped};
        put(pair, std::size_t{2});
        plain = i + 1;
    }
    put(name + plain, static_cast<std::size_t>(length - plain));
}

// Writes length value bytes, without the quotes around them, with every quote byte doubled.
template <typename Put>
void EncodeValue(const char* value, int32_t length, Put&& put) {
    const char* run = value;
    const char* const end = value + length;
    while (const auto* quote = static_cast<const char*>(
               std::memchr(run, kQuote, static_cast<std::size_t>(end - run)))) {
        put(run, static_cast<std::size_t>(quote + 1 - run));  // up to and with the quote
        put(&kQuote, std::size_t{1});
        run = quote + 1;
    }
    put(run, static_cast<std::size_t>(end - run));
}

// ---- Printing: one tag per line ----
//
// Printed text holds one tag per line, each line ended by one line feed and indented by
// IndentWidth of its depth: a container's opening line, its entries one level deeper, then its
// "</>" line at the container's own indentation; a leaf as <NAME/> when it holds no value and
// as <NAME="VALUE"> when it does. Names and values are encoded as above, so that the text
// loads back into the same tree. An empty collection prints nothing.
//
// The printer walks any tree through an accessor `tree` with two calls:
//   tree.entries(c)  the entries of collection c, in order, as a cursor: done() tells whether
//                    all were taken, take() gives the next
//   tree.node(t)     what is printed of entry t: .name and .value (std::string_views, the value
//                    empty when t holds none, both valid until the next node call), and .below,
//                    empty (false) for a leaf, and for a container something whose * the
//                    entries call takes, naming its collection
// and writes to an output `out` with two calls: out.Put(bytes, count) writes, and out.Ok()
// tells whether every write so far went through. Printing stops after the first line that
// did not, and then returns false. The walk keeps its levels in a list, not on the call stack,
// so any depth of nesting prints.

// The blanks of the deepest indentation; shallower lines take a prefix.
struct Blanks {
    char bytes[IndentWidth(kIndentLevels)];
    constexpr Blanks() : bytes() {
        // cppcheck-suppress useStlAlgorithm ; std::fill is not constexpr in C++17
        for (char& byte : bytes) byte = ' ';
    }
};
inline constexpr Blanks kBlanks{};

// Where the lines of printed text start and how they end: printed text's own lines have no
// lead and end in a line feed (PrintedLines, which costs nothing per line); lines inserted
// into a text that is kept (LineLayout) take the indentation of their place in it as their
// lead, and the text's own line end.
struct PrintedLines {
    static constexpr bool kPlain = true;
};
struct LineLayout {
    static constexpr bool kPlain = false;
    std::string_view lead;        // before each line's indentation
    std::string_view end = "\n";  // after each line
    std::string_view step = {kBlanks.bytes, IndentWidth(1)};  // one level of indentation
};

// The lines of printed text, written to an output.
template <typename Output, typename Layout = PrintedLines>
class LineWriter {
public:
    explicit LineWriter(Output& output, const Layout& lines = Layout())
        : out(output), layout(lines) {}

    void Open(std::size_t depth, std::string_view name) {
        Start(depth, name);
        Finish(kContainerEnd);
    }
    void Leaf(std::size_t depth, std::string_view name, std::string_view value) {
        Start(depth, name);
        if (value.empty()) {
            Finish(kBareEnd);
            return;
        }
        out.Put(kValueOpen, sizeof kValueOpen);
        EncodeValue(value.data(), static_cast<int32_t>(value.size()), Pieces());
        Finish(kValueClose);
    }
    void Close(std::size_t depth) {
        Indent(depth);
        Finish(kClose);
    }

private:
    // What stands around names and values; the last byte of each line's end is its line feed.
    static constexpr char kContainerEnd[] = {'>', '\n'};
    static constexpr char kBareEnd[] = {'/', '>', '\n'};
    static constexpr char kValueOpen[] = {'=', kQuote};
    static constexpr char kValueClose[] = {kQuote, '>', '\n'};
    static constexpr char kClose[] = {'<', '/', '>', '\n'};

    void Indent(std::size_t depth) {
        if constexpr (Layout::kPlain) {
            out.Put(kBlanks.bytes, IndentWidth(depth));
        } else {
            out.Put(layout.lead.data(), layout.lead.size());
            const std::size_t levels = IndentWidth(depth) / IndentWidth(1);
            for (std::size_t level = 0; level < levels; ++level) {
                out.Put(layout.step.data(), layout.step.size());
            }
        }
    }
    void Start(std::size_t depth, std::string_view name) {
        Indent(depth);
        out.Put("<", 1);
        EncodeName(name.data(), static_cast<int32_t>(name.size()), Pieces());
    }
    template <std::size_t N>
    void Finish(const char (&ending)[N]) {
        if constexpr (Layout::kPlain) {
            out.Put(ending, N);
        } else {
            out.Put(ending, N - 1);
            out.Put(layout.end.data(), layout.end.size());
        }
    }
    // The encoders' put.
    auto Pieces() {
        return [this](const char* bytes, std::size_t count) { out.Put(bytes, count); };
    }

    Output& out;
    const Layout layout;
};

// Writes the entries of a collection, given as tree.entries gives them, and everything below
// them, the entries `depth` levels deep, in lines of the given layout. False when a write
// failed.
template <typename Tree, typename Entries, typename Output, typename Layout = PrintedLines>
bool PrintEntries(Tree& tree, Entries top, std::size_t depth, Output& out,
                  const Layout& layout = Layout()) {
    LineWriter<Output, Layout> line(out, layout);
    Entries frontier = std::move(top);  // the entries being written, kept apart from
    std::vector<Entries> enclosing;     // those of the containers around them, outermost first
    std::size_t level = depth;          // the frontier's depth
    for (;;) {
        if (!frontier.done()) {
            const auto node = tree.node(frontier.take());
            if (node.below) {
                line.Open(level, node.name);
                enclosing.push_back(std::move(frontier));
                frontier = tree.entries(*node.below);
                ++level;
            } else {
                line.Leaf(level, node.name, node.value);
            }
        } else {
            if (enclosing.empty()) return out.Ok();
            frontier = std::move(enclosing.back());
            enclosing.pop_back();
            line.Close(--level);
        }
        if (!out.Ok()) return false;
    }
}

// Writes one tag as the entries of its collection are written, from no indentation: a leaf's
// line, or a container's opening line, its entries one level deeper and its closing line.
template <typename Tree, typename Tag, typename Output>
bool PrintTag(Tree& tree, const Tag& tag, Output& out) {
    LineWriter<Output> line(out);
    const auto node = tree.node(tag);
    if (!node.below) {
        line.Leaf(0, node.name, node.value);
        return out.Ok();
    }
    line.Open(0, node.name);
    if (!PrintEntries(tree, tree.entries(*node.below), 1, out)) return false;
    line.Close(0);
    return out.Ok();
}

// An output that collects bytes and hands them to write(bytes, count) in large pieces, write
// returning false when it failed: a call to a stream for every piece of every line (a stdio
// call takes the stream's lock) would cost more than the printing. Flush hands on what is
// left and tells whether every write went through.
template <typename Write>
class BufferedOutput {
public:
    explicit BufferedOutput(Write writer) : write(std::move(writer)) {}
    ~BufferedOutput() { Flush(); }
    BufferedOutput(const BufferedOutput&) = delete;
    BufferedOutput& operator=(const BufferedOutput&) = delete;

    void Put(const char* bytes, std::size_t count) {
        if (count > sizeof buffer - used) {
            Flush();
            if (count > sizeof buffer) {
                ok = write(bytes, count) && ok;
                return;
            }
        }
        std::memcpy(buffer + used, bytes, count);
        used += count;
    }
    bool Ok() const { return ok; }

    bool Flush() {
        if (used > 0) ok = write(buffer, used) && ok;
        used = 0;
        return ok;
    }

private:
    Write write;
    std::size_t used = 0;
    bool ok = true;
    char buffer[16 * 1024] = {};
};

// The printer's output into a string.
struct StringOutput {
    std::string text;
    void Put(const char* bytes, std::size_t size) { text.append(bytes, size); }
    static bool Ok() { return true; }
};

// Writes to a stdio stream; false for a short write (the stream's error flag tells why).
struct FileWrite {
    std::FILE* file;
    bool operator()(const char* bytes, std::size_t count) const {
        return std::fwrite(bytes, 1, count, file) == count;
    }
};
// The printer's output into a stdio stream, in large pieces.
struct FileOutput : BufferedOutput<FileWrite> {
    explicit FileOutput(std::FILE* file) : BufferedOutput<FileWrite>(FileWrite{file}) {}
};

}  // namespace MarlFormat

#endif  // MARLLIB_FORMAT_HPP
