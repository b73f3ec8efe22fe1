// marllib_reader.hpp: the reader of Marl text, the very one that marllib_Load runs, for C++
// hosts and tools that want to see what it sees: every construct as an event, with its byte
// offsets, and the problem of every malformed one. Header-only C++17; it needs nothing of the
// library.
//
//     const marl::line_index lines(text);
//     marl::read(text, [&](const marl::event& e) {
//         if (e.kind == marl::event_kind::Tree) {
//             const marl::position at = lines.at(e.text.begin);
//             std::printf("%d:%d: container %.*s\n", at.line, at.column,
//                         static_cast<int>(e.name.size()), e.name.data());
//         }
//     });
//
// Layers, each usable alone:
// - MarlParser::Handler receives the events of a text (Leaf, Tree, End, Invalid) with decoded
//   names and values. MarlParser::BasicEntityHandler decodes the raw names and values that the
//   parser slices out of the text and passes them on to a handler.
// - MarlParser::BasicParser<Handler> reads the text one construct at a time and raises at most
//   one event per step; after each step it tells where it is and why the last construct was
//   malformed. The library's loader runs it over its document builder.
// - marl::read runs a parser to the end and hands each event, with the offsets of its bytes,
//   to a function; marl::line_index turns an offset into a line and a column.
#ifndef MARLLIB_READER_HPP
#define MARLLIB_READER_HPP

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "marllib_format.hpp"
#include "marllib_scan.hpp"

// Tells the optimiser a fact that the code around it guarantees, so that the checks of a
// callee folded into the reader (a name's length, say) go away; checked in debug builds.
#if !defined(NDEBUG)
#define MARLLIB_ASSUME(fact) assert(fact)
#elif defined(__GNUC__)
#define MARLLIB_ASSUME(fact) (static_cast<bool>(fact) ? void(0) : __builtin_unreachable())
#elif defined(_MSC_VER)
#define MARLLIB_ASSUME(fact) __assume(fact)
#else
#define MARLLIB_ASSUME(fact) void(0)
#endif

namespace MarlParser {

// Why the last Invalid event was raised, or why reading stopped without one.
enum class Problem {
    None,
    TagCutOff,       // fewer than 3 bytes follow a '<'
    BadClose,        // "</" followed by a byte other than '>'
    BadLeafEnd,      // '/' after a name followed by something other than '>', or by nothing
    ShortValue,      // fewer than 3 bytes follow the '=' after a name
    BadQuote,        // a quote byte in a value followed by a byte other than '"' or '>'
    UnclosedValue,   // the input ends inside a value (or right after its closing quote)
    UnclosedName,    // the input ends inside a name; no event is raised for this
};

// ---- The events ----

// Receives one event per tag, in text order. Names and values are counted bytes that are
// valid only during the call; a handler that keeps them copies them.
class Handler {
public:
    Handler() = default;
    virtual ~Handler() = default;
    Handler(const Handler&) = delete;
    Handler& operator=(const Handler&) = delete;

    // <NAME/> (value null or empty, length 0) and <NAME="VALUE">.
    virtual void Leaf(const char* name, int32_t nameLength, const char* value,
                      int32_t valueLength) = 0;
    // <NAME>: a container opens.
    virtual void Tree(const char* name, int32_t nameLength) = 0;
    // </>: the innermost open container closes.
    virtual void End() = 0;
    // A malformed construct.
    virtual void Invalid() = 0;
};

// What a leaf without value gets: a valid pointer to no bytes.
inline constexpr char kNoValue[1] = {0};

// True when length bytes at bytes (which may be null) hold byte.
inline bool Holds(const char* bytes, int32_t length, char byte) {
    return bytes != nullptr && length > 0 &&
           std::memchr(bytes, static_cast<unsigned char>(byte), static_cast<size_t>(length)) !=
               nullptr;
}

// The decoding path of BasicEntityHandler, for names with escapes and values with quote bytes:
// decodes and raises the event on target, through the Handler interface (Interface is always
// Handler). Rare, so out of the reading loop where that is cheap: templates, so that the
// library can compile them in a unit of their own (see below), and still one definition here.
template <typename Interface>
void LeafDecoded(Interface& target, const char* name, int32_t nameLength, const char* value,
                 int32_t valueLength, bool nameEscapes, bool valueQuotes) {
    char buffer[MarlFormat::kNameMax];
    int32_t decodedLength = MarlFormat::CutNameLength(nameLength);
    if (nameEscapes) {
        decodedLength = MarlFormat::DecodeName(buffer, name, nameLength);
        name = buffer;
    }
    if (value == nullptr || valueLength <= 0) {
        target.Leaf(name, decodedLength, kNoValue, 0);
        return;
    }
    // Most values hold no quote byte and reach the target straight from the input.
    if (!valueQuotes) {
        target.Leaf(name, decodedLength, value, valueLength);
        return;
    }
    const std::unique_ptr<char[]> collapsed(new char[static_cast<size_t>(valueLength)]);
    const int32_t collapsedLength = MarlFormat::DecodeValue(collapsed.get(), value, valueLength);
    target.Leaf(name, decodedLength, collapsed.get(), collapsedLength);
}

template <typename Interface>
void TreeDecoded(Interface& target, const char* name, int32_t nameLength) {
    char buffer[MarlFormat::kNameMax];
    const int32_t decodedLength = MarlFormat::DecodeName(buffer, name, nameLength);
    target.Tree(buffer, decodedLength);
}

#if defined(MARLLIB_BUILDING)
// The library compiles the decoding path once, in its own unit (marlparser_entity.cpp), and
// its optimiser folds it into the loader only when it links the units: the reading loop then
// keeps more of its state in registers, some 3 instructions a tag fewer than when it is folded in
// from the start.
extern template void LeafDecoded<Handler>(Handler&, const char*, int32_t, const char*, int32_t,
                                          bool, bool);
extern template void TreeDecoded<Handler>(Handler&, const char*, int32_t);
#endif

// Decodes what the parser slices out of the text and forwards every event to its target:
// names lose their escapes and are cut to 64 bytes, values lose their doubled quote bytes
// (the rules are MarlFormat's). The target always sees a non-null value pointer, also for a
// leaf without value. The target is not owned.
//
// Target is a Handler; the events reach it through the Handler interface unless Target is a
// final class, when the calls are direct (the library's own builder is one). EntityHandler
// forwards to any Handler.
template <typename Target>
class BasicEntityHandler final : public Handler {
public:
    // What a reader of the raw bytes already knows about them, so that they need no second
    // look: whether the name holds an escape byte, whether the value holds a quote byte.
    struct Scanned {
        bool nameEscapes;
        bool valueQuotes;
    };

    explicit BasicEntityHandler(Target* to) : target(to) {}

    // Kept so that an EntityHandler is a Handler: they scan the bytes, then go the scanned way.
    void Leaf(const char* name, int32_t nameLength, const char* value,
              int32_t valueLength) override {
        Leaf(name, nameLength, value, valueLength,
             Scanned{Holds(name, nameLength, MarlFormat::kEscape),
                     Holds(value, valueLength, MarlFormat::kQuote)});
    }
    void Tree(const char* name, int32_t nameLength) override {
        Tree(name, nameLength, Holds(name, nameLength, MarlFormat::kEscape));
    }
    // The same events from a reader that has scanned the raw bytes itself. Names without
    // escapes and values without quotes, the usual case, pass straight through.
    void Leaf(const char* name, int32_t nameLength, const char* value, int32_t valueLength,
              Scanned scanned) {
        if (scanned.nameEscapes || scanned.valueQuotes) {
            LeafDecoded<Handler>(*target, name, nameLength, value, valueLength,
                                 scanned.nameEscapes, scanned.valueQuotes);
            return;
        }
        const int32_t cut = MarlFormat::CutNameLength(nameLength);
        if (value == nullptr || valueLength <= 0) {
            target->Leaf(name, cut, kNoValue, 0);
        } else {
            target->Leaf(name, cut, value, valueLength);
        }
    }
    void Tree(const char* name, int32_t nameLength, bool nameEscapes) {
        if (nameEscapes) {
            TreeDecoded<Handler>(*target, name, nameLength);
            return;
        }
        target->Tree(name, MarlFormat::CutNameLength(nameLength));
    }
    void End() override { target->End(); }
    void Invalid() override { target->Invalid(); }

private:
    Target* target;
};

using EntityHandler = BasicEntityHandler<Handler>;

// ---- The parser ----

// Reads Marl text in a caller's buffer one construct at a time and reports each as an event
// to a handler, through its own BasicEntityHandler, so the handler receives decoded names and
// values. Where Target is a final class the events reach it by direct calls, which the compiler
// can fold into the reading loop (the library's own loader reads this way; where the parser is
// a local of that loop, the compiler also drops the stores of the diagnostic views that
// nothing reads).
template <typename Target>
class BasicParser {
public:
    // A parser over length bytes at data, or null when handler or data is null or length is
    // below MarlFormat::kShortestTagText (such input holds no tag). Neither the handler nor
    // the bytes are owned; both must outlive the parser, and the bytes stay unchanged while it
    // is used.
    static std::unique_ptr<BasicParser> Create(Target* handler, const char* data, int32_t length);

    // Makes none of Create's checks: handler is not null, and data holds length bytes.
    BasicParser(Target* target, const char* text, int32_t length)
        : handler(target), data(text), end(text + length), cursor(text) {}
    BasicParser(const BasicParser&) = delete;
    BasicParser& operator=(const BasicParser&) = delete;

    // Reads the next construct and raises at most one event for it. True while input is
    // left to read; once it returns false the caller stops.
    bool Parse();

    // Read-only views of the last step, for diagnostics. They change nothing that is read.
    int32_t Position() const { return static_cast<int32_t>(cursor - data); }
    int32_t ConstructStart() const { return constructStart; }  // the '<' of the last construct
    Problem LastProblem() const { return problem; }           // None after a good construct
    int32_t RawNameStart() const { return nameStart; }        // the last name as written
    int32_t RawNameLength() const { return nameLength; }
    // The last leaf's value as written, between its quotes; a start of -1 for a leaf without.
    int32_t RawValueStart() const { return valueStart; }
    int32_t RawValueLength() const { return valueLength; }

private:
    // When this many bytes are left from the cursor, a step reads the whole of a usual tag
    // without a test for the end of the input: the search for '<' looks at the near bytes,
    // the name at the group after its first byte, and then come its end byte and one more.
    static constexpr ptrdiff_t kRoomy = Scan::kNear + Scan::kGroup + 2;

    bool RaiseInvalid(Problem why, bool more);
    // The steps from a tag's '<' on. Roomy: the step began with kRoomy bytes left and found
    // its '<' among the near bytes (a name: that it ended within its first group), so the
    // reads that the tests for the end of the input guard are known to be in bounds.
    template <bool kRoomyStep>
    bool ReadTag(const char* open);
    template <bool kRoomyStep>
    bool ReadName(const char* name);
    template <bool kRoomyName>
    bool EndName(const char* name, const char* at, bool escapes);
    bool ReadValue(const char* name, const char* equals, bool nameEscapes);
    bool More() const { return cursor < end; }
    int32_t Offset(const char* at) const { return static_cast<int32_t>(at - data); }

    // The reader walks the text with a pointer rather than an index: the hot loop then needs
    // no conversions between the two for every byte it looks at.
    BasicEntityHandler<Target> handler;  // decodes, and forwards to the caller's handler
    const char* data;
    const char* end;     // data + length
    const char* cursor;  // the next byte to read

    int32_t constructStart = 0;
    Problem problem = Problem::None;
    int32_t nameStart = 0;
    int32_t nameLength = 0;
    int32_t valueStart = -1;
    int32_t valueLength = 0;
};

using Parser = BasicParser<Handler>;

// ---- The steps, inline so that each handler type gets a reader of its own ----

template <typename Target>
std::unique_ptr<BasicParser<Target>> BasicParser<Target>::Create(Target* handler,
                                                               const char* data,
                                                               int32_t length) {
    if (handler == nullptr || data == nullptr || length < MarlFormat::kShortestTagText) {
        return nullptr;
    }
    return std::make_unique<BasicParser>(handler, data, length);
}

template <typename Target>
bool BasicParser<Target>::RaiseInvalid(Problem why, bool more) {
    problem = why;
    handler.Invalid();
    return more;
}

template <typename Target>
bool BasicParser<Target>::Parse() {
    if (cursor >= end) return false;
    problem = Problem::None;

    // Everything up to the next '<' is skipped. Most tags start among the near bytes.
    const char* open = nullptr;
    if (end - cursor >= kRoomy) {
        open = Scan::FindOpenNear(cursor);
        if (open != nullptr) return ReadTag<true>(open);
        open = Scan::FindByte(cursor + Scan::kNear, end, '<');
    } else {
        open = Scan::FindOpen(cursor, end);
    }
    if (open == nullptr) {
        cursor = end;
        return false;
    }
    // No tag takes fewer bytes from its '<' on; this also makes the reads of the next two
    // bytes safe without further tests.
    if (end - open < MarlFormat::kShortestTagText) {
        constructStart = Offset(open);
        cursor = end;
        return RaiseInvalid(Problem::TagCutOff, false);
    }
    return ReadTag<false>(open);
}

template <typename Target>
template <bool kRoomyStep>
bool BasicParser<Target>::ReadTag(const char* const open) {
    constructStart = Offset(open);
    if (open[1] != '/') return ReadName<kRoomyStep>(open + 1);
    cursor = open + 2;
    if (*cursor == '>') {
        ++cursor;
        handler.End();
        return kRoomyStep || More();
    }
    return RaiseInvalid(Problem::BadClose, true);
}

template <typename Target>
template <bool kRoomyStep>
bool BasicParser<Target>::ReadName(const char* const name) {
    // The first name byte is taken whatever it is; the name runs to the first '>', '/' or '='.
    bool escapes = *name == MarlFormat::kEscape;
    if (kRoomyStep) {
        if (const char* const at = Scan::ScanNameGroup(name + 1)) {
            return EndName<true>(name, at, escapes);
        }
    }
    const char* const at = Scan::ScanName(name + 1, end, escapes);  // before escapes is read
    return EndName<false>(name, at, escapes);
}

template <typename Target>
template <bool kRoomyName>
bool BasicParser<Target>::EndName(const char* const name, const char* const at,
                                  const bool escapes) {
    assert(at > name && at <= end);
    assert(!kRoomyName || end - at >= 2);
    cursor = at;
    nameStart = Offset(name);
    const auto length = static_cast<int32_t>(at - name);
    MARLLIB_ASSUME(length >= 1);  // a name has at least one byte
    // A name that ended in its first group is too short to be cut: the cut folds away.
    MARLLIB_ASSUME(!kRoomyName || length <= Scan::kGroup + 1);
    nameLength = length;
    if (!kRoomyName && at == end) {
        problem = Problem::UnclosedName;
        return false;
    }

    switch (*at) {
        case '>':
            ++cursor;
            handler.Tree(name, length, escapes);
            return kRoomyName || More();
        case '/':
            ++cursor;
            if ((kRoomyName || More()) && *cursor == '>') {
                // The cursor stays on the '>', which the next step skips as text.
                valueStart = -1;
                valueLength = 0;
                handler.Leaf(name, length, nullptr, 0, {escapes, false});
                return true;
            }
            return RaiseInvalid(Problem::BadLeafEnd, kRoomyName || More());
        default:
            return ReadValue(name, at, escapes);
    }
}

template <typename Target>
bool BasicParser<Target>::ReadValue(const char* const name, const char* const equals,
                                    const bool nameEscapes) {
    // The shortest value text is three bytes: opening byte, closing quote, '>'.
    if (end - equals <= 3) {
        cursor = equals + 1;
        return RaiseInvalid(Problem::ShortValue, More());
    }
    // The byte after '=' opens the value and is not examined.
    const char* const value = equals + 2;
    cursor = value;
    bool doubled = false;
    for (;;) {
        const char* const quote = Scan::FindByte(cursor, end, MarlFormat::kQuote);
        if (quote == nullptr) {
            cursor = end;
            return RaiseInvalid(Problem::UnclosedValue, false);
        }
        cursor = quote + 1;
        if (cursor == end) return RaiseInvalid(Problem::UnclosedValue, false);
        if (*cursor != MarlFormat::kQuote) break;
        // A doubled quote byte stands for one quote byte inside the value.
        doubled = true;
        if (++cursor == end) return RaiseInvalid(Problem::UnclosedValue, false);
    }
    if (*cursor != '>') return RaiseInvalid(Problem::BadQuote, false);
    ++cursor;
    const auto length = static_cast<int32_t>(cursor - value - 2);
    const auto nameBytes = static_cast<int32_t>(equals - name);
    MARLLIB_ASSUME(length >= 0 && nameBytes >= 1);
    valueStart = Offset(value);
    valueLength = length;
    handler.Leaf(name, nameBytes, value, length, {nameEscapes, doubled});
    return More();
}

}  // namespace MarlParser

namespace marl {

using problem = MarlParser::Problem;

// What a construct of the text is: the operations of MarlParser::Handler.
enum class event_kind { Tree, Leaf, End, Invalid };

// Bytes [begin, end) of the text.
struct span {
    int32_t begin = 0;
    int32_t end = 0;
};

// One construct of the text, as the reader saw it.
struct event {
    event_kind kind = event_kind::Invalid;
    std::string_view name;   // Tree and Leaf: decoded, 1 to 64 bytes (a longer name is cut)
    std::string_view value;  // Leaf: decoded; empty for a leaf without value (or an empty one)
    span text;               // from the construct's '<' to the byte after it, where reading
                             // goes on (for Invalid: where it goes on, or the end)
    span raw_name;           // Tree and Leaf, and Invalid after a name ('/' not followed by
                             // '>', or a broken value): the name as written, escapes and all
    span raw_value;          // Leaf with a value: its bytes between the quotes, as written;
                             // begin -1 for a leaf without one, and for the other kinds
    problem why = problem::None;  // Invalid: what is wrong with the construct
};

// How a read ended.
struct read_end {
    int32_t position = 0;  // the first byte never read: the text's size when read through
    int32_t last = 0;      // the '<' of the last construct read (0 when none was)
    problem why = problem::None;  // UnclosedName when the text ends inside a name (no event
                                  // is raised for that; `last` is its '<'), otherwise the
                                  // last event's problem
};

namespace detail {

// Turns the parser's handler events into marl::event values for on_event.
template <typename OnEvent>
class event_relay final : public MarlParser::Handler {
public:
    explicit event_relay(OnEvent& on_event) : on_event_(on_event) {}
    void attach(const MarlParser::BasicParser<event_relay>* parser) { parser_ = parser; }

    void Leaf(const char* name, int32_t nameLength, const char* value,
              int32_t valueLength) override {
        event e = start(event_kind::Leaf);
        e.name = std::string_view(name, static_cast<size_t>(nameLength));
        e.value = std::string_view(value, static_cast<size_t>(valueLength));
        e.raw_name = {parser_->RawNameStart(), parser_->RawNameStart() + parser_->RawNameLength()};
        const int32_t raw = parser_->RawValueStart();
        e.raw_value = {raw, raw < 0 ? raw : raw + parser_->RawValueLength()};
        if (raw < 0) ++e.text.end;  // the parser stays on the '>' of a leaf without value
        on_event_(std::as_const(e));
    }
    void Tree(const char* name, int32_t nameLength) override {
        event e = start(event_kind::Tree);
        e.name = std::string_view(name, static_cast<size_t>(nameLength));
        e.raw_name = {parser_->RawNameStart(), parser_->RawNameStart() + parser_->RawNameLength()};
        on_event_(std::as_const(e));
    }
    void End() override { on_event_(static_cast<const event&>(start(event_kind::End))); }
    void Invalid() override {
        event e = start(event_kind::Invalid);
        e.why = parser_->LastProblem();
        if (follows_name(e.why)) {
            e.raw_name = {parser_->RawNameStart(),
                          parser_->RawNameStart() + parser_->RawNameLength()};
        }
        on_event_(std::as_const(e));
    }

private:
    // Whether the parser raises this problem once it has read the construct's name.
    static bool follows_name(problem why) {
        return why == problem::BadLeafEnd || why == problem::ShortValue ||
               why == problem::BadQuote || why == problem::UnclosedValue;
    }

    event start(event_kind kind) const {
        event e;
        e.kind = kind;
        e.text = {parser_->ConstructStart(), parser_->Position()};
        e.raw_value = {-1, -1};
        return e;
    }

    OnEvent& on_event_;
    const MarlParser::BasicParser<event_relay>* parser_ = nullptr;
};

}  // namespace detail

// Reads text from front to back, as marllib_Load does, and calls on_event(const event&) for
// each construct in text order. Text of fewer than 4 bytes holds no tag and is not read (no
// events; the end is 0). The names and values an event points to are valid only during the
// call. A text longer than 2^31 - 1 bytes is read up to that length, as no document can be
// larger.
template <typename OnEvent>
read_end read(std::string_view text, OnEvent&& on_event) {
    const auto length = static_cast<int32_t>(
        std::min<size_t>(text.size(), static_cast<size_t>(INT32_MAX)));
    if (length < MarlFormat::kShortestTagText) return {};
    detail::event_relay<OnEvent> relay(on_event);
    MarlParser::BasicParser<detail::event_relay<OnEvent>> parser(&relay, text.data(), length);
    relay.attach(&parser);
    while (parser.Parse()) {
    }
    return {parser.Position(), parser.ConstructStart(), parser.LastProblem()};
}

// Writes text in its printed form, byte for byte what the library's printer writes for the
// document that text loads into, without making the document: the same lines through the
// format's one printer (MarlFormat::LineWriter), the containers that the text leaves open
// closed at its end, and what the loader drops (malformed tags, closing tags with nothing
// open, the text between tags) dropped. out is an output of that printer: out.Put(bytes,
// count) and out.Ok(). False when a write failed; the rest of the text is then read but not
// written.
template <typename Output>
bool print_text(std::string_view text, Output& out) {
    MarlFormat::LineWriter<Output> line(out);
    std::size_t depth = 0;  // the containers open
    read(text, [&](const event& e) {
        if (!out.Ok()) return;
        switch (e.kind) {
            case event_kind::Tree: line.Open(depth++, e.name); break;
            case event_kind::Leaf: line.Leaf(depth, e.name, e.value); break;
            case event_kind::End:
                if (depth > 0) line.Close(--depth);
                break;
            case event_kind::Invalid: break;
        }
    });
    while (depth > 0 && out.Ok()) line.Close(--depth);
    return out.Ok();
}

}  // namespace marl

#undef MARLLIB_ASSUME

#endif  // MARLLIB_READER_HPP
