// marllib_edit.hpp: the places in a Marl text where it can be changed and still be read as
// intended, for editing a text in place rather than printing it anew. It knows, for a text
// read as marllib_Load reads it, where each tag's bytes stand, where a new entry of a
// collection goes, which bytes a removed tag takes with it, and where nothing more can be
// added; and it applies a list of replacements in one pass. marllib.hpp's marl::Source saves
// edited documents with it. Header-only C++17, over the reader of marllib_reader.hpp.
#ifndef MARLLIB_EDIT_HPP
#define MARLLIB_EDIT_HPP

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "marllib_format.hpp"
#include "marllib_reader.hpp"

namespace marl {

// The bytes [begin, end) of a text are replaced by `bytes`: an insertion when the range is
// empty, a removal when the bytes are.
struct text_edit {
    int32_t begin;
    int32_t end;
    std::string bytes;
};

// Writes text with the edits applied. The edits' ranges may touch but not overlap; they may
// come in any order (edits at one place keep theirs).
inline std::string apply_edits(std::string_view text, std::vector<text_edit>& edits) {
    std::stable_sort(edits.begin(), edits.end(),
                     [](const text_edit& a, const text_edit& b) { return a.begin < b.begin; });
    std::size_t size = text.size();
    for (const text_edit& edit : edits) size += edit.bytes.size() - (edit.end - edit.begin);
    std::string out;
    out.reserve(size);
    int32_t copied = 0;  // text before this is written
    for (const text_edit& edit : edits) {
        assert(edit.begin >= copied && edit.end >= edit.begin);
        out.append(text.substr(copied, static_cast<std::size_t>(edit.begin - copied)));
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

// A text as the reader reads it, with the places that editing it needs.
class text_layout {
public:
    // Where a tag's bytes stand, by tag index (tags are numbered in text order).
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

    explicit text_layout(std::string_view text) : text_(text) {
        std::vector<int32_t> open;  // the containers open, by tag index
        const read_end end = read(text, [&](const event& e) {
            constructs_.push_back(e.text);
            switch (e.kind) {
                case event_kind::Tree:
                case event_kind::Leaf: {
                    const bool container = e.kind == event_kind::Tree;
                    if (container) open.push_back(static_cast<int32_t>(tags_.size()));
                    tags_.push_back(
                        {e.text.begin, e.text.end, -1, e.raw_name, e.raw_value, container});
                    break;
                }
                case event_kind::End: close(open, e.text); break;
                case event_kind::Invalid:
                    // A "</>" that ends the text is too short for the reader, but the tree
                    // it means is the one read, and an edit after it gives it a line end.
                    if (e.why == problem::TagCutOff &&
                        text.substr(static_cast<std::size_t>(e.text.begin)) == "</>") {
                        close(open, e.text);
                        break;
                    }
                    last_problem_ = e.why;
                    if (e.why == problem::ShortValue && short_value_ < 0)
                        short_value_ = e.text.begin;
                    return;
            }
            last_problem_ = problem::None;
        });
        const auto size = static_cast<int32_t>(text.size());
        for (const int32_t t : open) tags_[static_cast<std::size_t>(t)].end = size;
        open_at_end_ = std::move(open);
        find_stop(end);
        line_end_ = first_line_end();
        step_ = indentation_step();
    }

    const std::vector<tag_place>& tags() const { return tags_; }
    const tag_place& place(int32_t t) const { return tags_[static_cast<std::size_t>(t)]; }
    // The containers that the text never closes, outermost first.
    const std::vector<int32_t>& open_at_end() const { return open_at_end_; }
    // The text's own line end: its first, or a line feed when it has none.
    std::string_view line_end() const { return line_end_; }
    // The text's own indentation step: what its containers' first entries add to their
    // container's indentation (the first that adds any), or two blanks when none does.
    std::string_view step() const { return step_; }
    int32_t size() const { return static_cast<int32_t>(text_.size()); }

    // The '<' of the construct after which the reader reads nothing more as it was meant, or
    // -1: a text that ends inside a name or a value, in a tag cut off, or after a value too
    // short, or a stray quote that stops the reading. Bytes put after it would be lost.
    int32_t stop() const { return stop_; }
    problem stop_problem() const { return stop_problem_; }

    // The blanks (spaces and tabs) that start the line holding offset.
    std::string_view indentation(int32_t offset) const {
        const int32_t start = line_start(offset);
        int32_t blank = start;
        while (blank < size() && is_blank(text_[static_cast<std::size_t>(blank)])) ++blank;
        return text_.substr(static_cast<std::size_t>(start),
                            static_cast<std::size_t>(blank - start));
    }

    // Where new entries of a collection go, on lines of their own: after the line on which
    // `last` (the collection's last entry in the text, -1 for none) ends, or just before the
    // "</>" of `container` (-1 for the top level) where that line also holds it or there is
    // no entry. Nothing (at -1) for the end of the text, whose lines the caller gathers.
    opening opening_for(int32_t container, int32_t last) const {
        const int32_t close = container < 0 ? -1 : place(container).close;
        if (container >= 0 && close < 0) return {-1, {}, {}};  // never closed: the end
        if (last < 0) {
            // Only a container with no entry gets here: a top level with none ends at the end.
            if (close < 0) return {-1, {}, {}};
            return before_close(close);
        }
        // The first line end after the entry that no construct spans; a construct that starts
        // on the way pushes it on to the line on which that construct ends.
        int32_t from = place(last).end;
        auto next = std::lower_bound(constructs_.begin(), constructs_.end(), from,
                                     [](const span& s, int32_t at) { return s.begin < at; });
        for (;;) {
            const int32_t line_end = line_end_at(from);
            if (next == constructs_.end() || next->begin >= line_end) {
                if (line_end == size()) return {-1, {}, {}};
                return {after_line_end(line_end), {}, {}};
            }
            if (next->begin == close) return before_close(close);
            from = std::max(from, next->end);
            ++next;
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
        span bytes{place(t).begin, place(t).end};
        const int32_t start = line_start(bytes.begin);
        const int32_t line_end = line_end_at(bytes.end);
        if (all_blank(start, bytes.begin) && !construct_in(bytes.end, line_end)) {
            bytes = {start, line_end == size() ? line_end : after_line_end(line_end)};
        }
        return bytes;
    }

private:
    void close(std::vector<int32_t>& open, span closing) {
        if (open.empty()) return;  // closes nothing
        tags_[static_cast<std::size_t>(open.back())].close = closing.begin;
        tags_[static_cast<std::size_t>(open.back())].end = closing.end;
        open.pop_back();
    }

    // Whether a construct starts in [from, to).
    bool construct_in(int32_t from, int32_t to) const {
        const auto next = std::lower_bound(constructs_.begin(), constructs_.end(), from,
                                           [](const span& s, int32_t at) { return s.begin < at; });
        return next != constructs_.end() && next->begin < to;
    }

    std::string_view indentation_step() const {
        for (std::size_t t = 0; t + 1 < tags_.size(); ++t) {
            const tag_place& container = tags_[t];
            const tag_place& first = tags_[t + 1];
            const bool holds = container.close < 0 || first.begin < container.close;
            if (!container.container || !holds) continue;
            const int32_t start = line_start(first.begin);
            if (start <= container.begin || !all_blank(start, first.begin)) continue;
            const std::string_view outer = indentation(container.begin);
            const std::string_view inner = indentation(first.begin);
            if (inner.size() > outer.size() && inner.substr(0, outer.size()) == outer) {
                return inner.substr(outer.size());
            }
        }
        return {MarlFormat::kBlanks.bytes, MarlFormat::IndentWidth(1)};
    }

    static bool is_blank(char c) { return c == ' ' || c == '\t'; }
    static bool is_line_end(char c) { return c == '\n' || c == '\r'; }

    bool all_blank(int32_t from, int32_t to) const {
        for (int32_t i = from; i < to; ++i) {
            if (!is_blank(text_[static_cast<std::size_t>(i)])) return false;
        }
        return true;
    }
    int32_t line_start(int32_t offset) const {
        while (offset > 0 && !is_line_end(text_[static_cast<std::size_t>(offset - 1)])) --offset;
        return offset;
    }
    // The first line end at or after offset, or the text's size.
    int32_t line_end_at(int32_t offset) const {
        while (offset < size() && !is_line_end(text_[static_cast<std::size_t>(offset)])) ++offset;
        return offset;
    }
    // The byte after the line end at offset (CR LF is one line end).
    int32_t after_line_end(int32_t offset) const {
        const bool pair = text_[static_cast<std::size_t>(offset)] == '\r' && offset + 1 < size() &&
                          text_[static_cast<std::size_t>(offset) + 1] == '\n';
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
        const int32_t at = line_end_at(0);
        if (at == size()) return "\n";
        return text_.substr(static_cast<std::size_t>(at),
                            static_cast<std::size_t>(after_line_end(at) - at));
    }

    void find_stop(const read_end& end) {
        const auto stop_at = [this](int32_t at, problem why) {
            if (stop_ >= 0 && stop_ <= at) return;
            stop_ = at;
            stop_problem_ = why;
        };
        if (end.why == problem::UnclosedName) stop_at(end.last, end.why);  // raises no event
        switch (last_problem_) {
            case problem::TagCutOff:
            case problem::UnclosedValue:
            case problem::BadQuote: stop_at(constructs_.back().begin, last_problem_); break;
            default: break;
        }
        // More bytes after a value too short would make it long enough; it is near the end.
        if (short_value_ >= 0) stop_at(short_value_, problem::ShortValue);
        // Text too short to be read at all: a '<' in it starts a tag cut off.
        const std::size_t open = text_.find('<');
        if (size() < MarlFormat::kShortestTagText && open != std::string_view::npos) {
            stop_at(static_cast<int32_t>(open), problem::TagCutOff);
        }
    }

    std::string_view text_;
    std::vector<tag_place> tags_;
    std::vector<span> constructs_;  // every construct the reader read, in text order
    std::vector<int32_t> open_at_end_;
    problem last_problem_ = problem::None;  // the last construct's
    int32_t short_value_ = -1;              // the first value too short
    int32_t stop_ = -1;
    problem stop_problem_ = problem::None;
    std::string_view line_end_;
    std::string_view step_;
};

}  // namespace marl

#endif  // MARLLIB_EDIT_HPP
