// marllib_edit.hpp: the places in a Marl text where it can be changed and still be read as
// intended, for editing a text in place rather than printing it anew: where each tag's bytes
// stand, where a new entry of a collection goes, which bytes a removed tag takes with it, and
// where nothing more can be added; and a list of replacements applied in one pass.
//
// It is the machinery of marllib_source.hpp's marl::Source, which saves edited documents with
// it, and all of it is in marl::detail: a host edits through Source. What a read of the whole
// text must keep is small (text_places: four bytes a tag and eight a container); everything
// else is read again, one construct at a time, where an edit needs it. Header-only C++17, over
// the reader of marllib_reader.hpp.
#ifndef MARLLIB_EDIT_HPP
#define MARLLIB_EDIT_HPP

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "marllib_format.hpp"
#include "marllib_reader.hpp"

namespace marl {
namespace detail {

// The bytes [begin, end) of a text are replaced by `bytes`: an insertion when the range is
// empty, a removal when the bytes are.
struct text_edit {
    int32_t begin;
    int32_t end;
    std::string bytes;
};

inline std::size_t length_of(int32_t begin, int32_t end) {
    return static_cast<std::size_t>(end - begin);
}

// Writes text with the edits applied. The edits' ranges may touch but not overlap; they may
// come in any order (edits at one place keep theirs).
inline std::string apply_edits(std::string_view text, std::vector<text_edit>& edits) {
    std::stable_sort(edits.begin(), edits.end(),
                     [](const text_edit& a, const text_edit& b) { return a.begin < b.begin; });
    std::size_t size = text.size();
    for (const text_edit& edit : edits) size += edit.bytes.size() - length_of(edit.begin, edit.end);
    std::string out;
    out.reserve(size);
    int32_t copied = 0;  // text before this is written
    for (const text_edit& edit : edits) {
        assert(edit.begin >= copied && edit.end >= edit.begin);
        out.append(text.substr(static_cast<std::size_t>(copied), length_of(copied, edit.begin)));
        out += edit.bytes;
        copied = edit.end;
    }
    out.append(text.substr(static_cast<std::size_t>(copied)));
    return out;
}

// Where, in the text that edits were applied to, the byte at `offset` of the edited text came
// from: its own place, or the start of the edit that wrote it. Edits as apply_edits left them.
inline int32_t original_offset(const std::vector<text_edit>& edits, int32_t offset) {
    int64_t shift = 0;  // edited minus original, before the edit at hand
    for (const text_edit& edit : edits) {
        const int64_t start = edit.begin + shift;  // where the edit's bytes start, edited
        if (offset < start) break;
        if (offset < start + static_cast<int64_t>(edit.bytes.size())) return edit.begin;
        shift += static_cast<int64_t>(edit.bytes.size()) - (edit.end - edit.begin);
    }
    return static_cast<int32_t>(offset - shift);
}

// One construct as the reader reads it, without its decoded name and value.
struct construct {
    event_kind kind = event_kind::Invalid;
    span text;       // from its '<' to where reading goes on
    span raw_name;   // as event's
    span raw_value;  // as event's
    problem why = problem::None;
};

// The construct that the reader reads next from `from`, a place where a read of the whole text
// stands between constructs (the start of a tag, or where a construct ended), exactly as that
// read reads it there; false when no '<' follows. Offsets are the text's. The parser keeps no
// state but its place, so reading on from there reads what the whole read reads.
inline bool read_next(std::string_view text, int32_t from, construct& next) {
    bool found = false;
    const auto take = [&](const event& e) {
        found = true;
        next = {e.kind, e.text, e.raw_name, e.raw_value, e.why};
    };
    event_relay<decltype(take)> relay(take);
    const auto rest = static_cast<int32_t>(text.size()) - from;
    MarlParser::BasicParser<event_relay<decltype(take)>> parser(&relay, text.data() + from, rest);
    relay.attach(&parser);
    parser.Parse();
    if (!found) return false;
    const auto shift = [from](span& s) {
        if (s.begin >= 0) s = {s.begin + from, s.end + from};
    };
    shift(next.text);
    shift(next.raw_name);
    shift(next.raw_value);
    return true;
}

// What a read of a whole text tells of where it can be edited, gathered as it reads: the '<'
// of each tag, by tag index; the "</>" of each container that the text closes, and the
// containers that it leaves open; where reading ended, and where nothing after is read as it
// was meant. The reader hands it each construct through the calls below, in text order.
class text_places {
public:
    void tree(int32_t open) {
        open_.push_back(static_cast<int32_t>(tags_.size()));
        tags_.push_back(open);
        last_problem_ = problem::None;
    }
    void leaf(int32_t open) {
        tags_.push_back(open);
        last_problem_ = problem::None;
    }
    // A "</>" at close, which closes the innermost open container, if any.
    void end(int32_t close) {
        if (!open_.empty()) {
            containers_.push_back({open_.back(), close});
            open_.pop_back();
        }
        last_problem_ = problem::None;
    }
    // A construct the reader found malformed.
    void invalid(int32_t open, problem why) {
        last_problem_ = why;
        last_invalid_ = open;
        if (why == problem::ShortValue && short_value_ < 0) short_value_ = open;
    }
    // The end of the read of text: how it ended.
    void finish(std::string_view text, const read_end& end) {
        size_ = static_cast<int32_t>(text.size());
        read_ = end.position;
        for (const int32_t t : open_) containers_.push_back({t, -1});
        std::sort(containers_.begin(), containers_.end());
        open_at_end_ = std::move(open_);
        open_.clear();
        find_stop(text, end);
    }

    const std::vector<int32_t>& tags() const { return tags_; }
    // Whether tag t is a container, and its "</>" (-1 where the text never closes it).
    bool is_container(int32_t t) const { return container(t) != containers_.end(); }
    int32_t close_of(int32_t t) const {
        const auto at = container(t);
        return at == containers_.end() ? -1 : at->second;
    }
    // The containers, by tag index, each with its "</>" (-1 for none).
    const std::vector<std::pair<int32_t, int32_t>>& containers() const { return containers_; }
    // The containers that the text never closes, outermost first.
    const std::vector<int32_t>& open_at_end() const { return open_at_end_; }
    // The first byte that the read never reached: the text's size when it read through.
    int32_t read_to() const { return read_; }
    // The '<' of the construct after which the reader reads nothing more as it was meant, or
    // -1: a text that ends inside a name or a value, in a tag cut off, or after a value too
    // short, or a stray quote that stops the reading. Bytes put after it would be lost.
    int32_t stop() const { return stop_; }
    problem stop_problem() const { return stop_problem_; }

private:
    std::vector<std::pair<int32_t, int32_t>>::const_iterator container(int32_t t) const {
        const auto at = std::lower_bound(
            containers_.begin(), containers_.end(), t,
            [](const std::pair<int32_t, int32_t>& c, int32_t tag) { return c.first < tag; });
        return at != containers_.end() && at->first == t ? at : containers_.end();
    }

    void find_stop(std::string_view text, const read_end& end) {
        const auto stop_at = [this](int32_t at, problem why) {
            if (stop_ >= 0 && stop_ <= at) return;
            stop_ = at;
            stop_problem_ = why;
        };
        if (end.why == problem::UnclosedName) stop_at(end.last, end.why);  // raises no event
        switch (last_problem_) {
            case problem::TagCutOff:
            case problem::UnclosedValue:
            case problem::BadQuote: stop_at(last_invalid_, last_problem_); break;
            default: break;
        }
        // More bytes after a value too short would make it long enough; it is near the end.
        if (short_value_ >= 0) stop_at(short_value_, problem::ShortValue);
        // Text too short to be read at all: a '<' in it starts a tag cut off.
        const std::size_t open = text.find('<');
        if (size_ < MarlFormat::kShortestTagText && open != std::string_view::npos) {
            stop_at(static_cast<int32_t>(open), problem::TagCutOff);
        }
    }

    std::vector<int32_t> tags_;
    std::vector<std::pair<int32_t, int32_t>> containers_;  // (tag, its "</>"), as they close
    std::vector<int32_t> open_;                            // the containers open, as read
    std::vector<int32_t> open_at_end_;
    problem last_problem_ = problem::None;  // the last construct's
    int32_t last_invalid_ = -1;             // the last malformed construct's '<'
    int32_t short_value_ = -1;              // the first value too short
    int32_t size_ = 0;
    int32_t read_ = 0;
    int32_t stop_ = -1;
    problem stop_problem_ = problem::None;
};

// A text as the reader reads it, with the places that editing it needs: those that a read of
// the whole text kept, and what reading single constructs again tells.
class text_layout {
public:
    // Where a tag's bytes stand.
    struct tag_place {
        int32_t begin;  // its '<'
        int32_t end;    // after the tag: a container's after its "</>", or the text's
                        // size when the text never closes it
        int32_t close;  // a container's "</>", -1 for a leaf and where it is never closed
        span name;      // as written
        span value;     // a leaf's, as written between its quotes; begin -1 for none
        bool container;
    };

    // A place where lines go in: `before` the first of them, each line then ended by the
    // text's line end, and `after` the last; a line end that the text lacks at its end stays
    // missing (the lines' last end is dropped).
    struct opening {
        int32_t at;
        std::string before;
        std::string after;
        bool drops_last_end = false;
    };

    // places: those of a read of the whole of text.
    text_layout(std::string_view text, const text_places& places)
        : text_(text), places_(places) {
        line_end_ = first_line_end();
        step_ = indentation_step();
    }

    std::size_t tags() const { return places_.tags().size(); }
    // Tag t's place, read again from its '<'.
    tag_place place(int32_t t) const {
        const int32_t begin = places_.tags()[static_cast<std::size_t>(t)];
        construct tag;
        const bool read = read_next(text_, begin, tag);
        assert(read && tag.text.begin == begin);
        (void)read;
        if (tag.kind != event_kind::Tree) {
            return {begin, tag.text.end, -1, tag.raw_name, tag.raw_value, false};
        }
        const int32_t close = places_.close_of(t);
        const int32_t end = close < 0 ? size() : close + static_cast<int32_t>(MarlFormat::kCloseTag.size());
        return {begin, end, close, tag.raw_name, {-1, -1}, true};
    }
    bool is_container(int32_t t) const { return places_.is_container(t); }
    // The containers that the text never closes, outermost first.
    const std::vector<int32_t>& open_at_end() const { return places_.open_at_end(); }
    // The text's own line end: its first, or a line feed when it has none.
    std::string_view line_end() const { return line_end_; }
    // The text's own indentation step: what its containers' first entries add to their
    // container's indentation (the first that adds any), or two blanks when none does.
    std::string_view step() const { return step_; }
    int32_t size() const { return static_cast<int32_t>(text_.size()); }
    int32_t stop() const { return places_.stop(); }
    problem stop_problem() const { return places_.stop_problem(); }

    // The blanks (spaces and tabs) that start the line holding offset.
    std::string_view indentation(int32_t offset) const {
        const int32_t start = line_start(offset);
        int32_t blank = start;
        while (blank < size() && is_blank(at(blank))) ++blank;
        return text_.substr(static_cast<std::size_t>(start), length_of(start, blank));
    }

    // Where new entries of a collection go, on lines of their own: after the line on which
    // `last` (the collection's last entry in the text, -1 for none) ends, or just before the
    // "</>" of `container` (-1 for the top level) where that line also holds it or there is
    // no entry. Nothing (at -1) for the end of the text, whose lines the caller gathers.
    opening opening_for(int32_t container, int32_t last) const {
        const int32_t close = container < 0 ? -1 : places_.close_of(container);
        if (container >= 0 && close < 0) return {-1, {}, {}};  // never closed: the end
        if (last < 0) {
            // Only a container with no entry gets here: a top level with none ends at the end.
            if (close < 0) return {-1, {}, {}};
            return before_close(close);
        }
        // The first line end after the entry that no construct spans; a construct that starts
        // on the way pushes it on to the line on which that construct ends.
        int32_t from = place(last).end;
        for (;;) {
            const int32_t line_end = line_end_at(from);
            construct next;
            if (!construct_at(from, next) || next.text.begin >= line_end) {
                if (line_end == size()) return {-1, {}, {}};
                return {after_line_end(line_end), {}, {}};
            }
            if (next.text.begin == close) return before_close(close);
            from = std::max(from, next.text.end);
        }
    }

    // The opening at the very end of the text.
    opening opening_at_end() const {
        const bool ended = size() == 0 || is_line_end(text_.back());
        return {size(), ended ? std::string() : std::string(line_end_), {}, !ended && size() > 0};
    }

    // The bytes that removing tag t takes: from its '<' to its end, and where nothing but
    // blanks comes before it on its first line and no other construct after it on its last
    // (a note there is the tag's), those whole lines with their ends.
    span removal(int32_t t) const {
        const tag_place tag = place(t);
        span bytes{tag.begin, tag.end};
        const int32_t start = line_start(bytes.begin);
        const int32_t line_end = line_end_at(bytes.end);
        construct next;
        const bool alone = !construct_at(bytes.end, next) || next.text.begin >= line_end;
        if (all_blank(start, bytes.begin) && alone) {
            bytes = {start, line_end == size() ? line_end : after_line_end(line_end)};
        }
        return bytes;
    }

private:
    static bool is_blank(char c) { return c == ' ' || c == '\t'; }
    static bool is_line_end(char c) { return c == '\n' || c == '\r'; }
    char at(int32_t offset) const { return text_[static_cast<std::size_t>(offset)]; }

    // The construct that the read of the whole text read next from `from`, if it got there.
    bool construct_at(int32_t from, construct& next) const {
        return from < places_.read_to() && read_next(text_, from, next) &&
               next.text.begin < places_.read_to();
    }

    bool all_blank(int32_t from, int32_t to) const {
        for (int32_t i = from; i < to; ++i) {
            if (!is_blank(at(i))) return false;
        }
        return true;
    }
    int32_t line_start(int32_t offset) const {
        while (offset > 0 && !is_line_end(at(offset - 1))) --offset;
        return offset;
    }
    // The first line end at or after offset, or the text's size.
    int32_t line_end_at(int32_t offset) const {
        while (offset < size() && !is_line_end(at(offset))) ++offset;
        return offset;
    }
    // The byte after the line end at offset (CR LF is one line end).
    int32_t after_line_end(int32_t offset) const {
        const bool pair = at(offset) == '\r' && offset + 1 < size() && at(offset + 1) == '\n';
        return offset + (pair ? 2 : 1);
    }

    // Just before the "</>" at close: at the start of its line when only blanks come before
    // it there, otherwise right at it, on a line of its own again after the new lines.
    opening before_close(int32_t close) const {
        const int32_t start = line_start(close);
        if (all_blank(start, close)) return {start, {}, {}};
        return {close, std::string(line_end_), std::string(indentation(close))};
    }

    std::string_view first_line_end() const {
        const int32_t end = line_end_at(0);
        if (end == size()) return "\n";
        return text_.substr(static_cast<std::size_t>(end), length_of(end, after_line_end(end)));
    }

    std::string_view indentation_step() const {
        const std::vector<int32_t>& tags = places_.tags();
        for (const auto& [t, close] : places_.containers()) {
            const auto first = static_cast<std::size_t>(t) + 1;
            if (first >= tags.size() || (close >= 0 && tags[first] > close)) continue;
            const int32_t begin = tags[static_cast<std::size_t>(t)];
            const int32_t start = line_start(tags[first]);
            if (start <= begin || !all_blank(start, tags[first])) continue;
            const std::string_view outer = indentation(begin);
            const std::string_view inner = indentation(tags[first]);
            if (inner.size() > outer.size() && inner.substr(0, outer.size()) == outer) {
                return inner.substr(outer.size());
            }
        }
        return {MarlFormat::kBlanks.bytes, MarlFormat::IndentWidth(1)};
    }

    std::string_view text_;
    const text_places& places_;
    std::string_view line_end_;
    std::string_view step_;
};

}  // namespace detail
}  // namespace marl

#endif  // MARLLIB_EDIT_HPP
