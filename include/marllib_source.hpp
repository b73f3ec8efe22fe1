// marllib_source.hpp: a loaded document together with the text it came from, for hosts that
// tell their users where things stand and that edit a text without losing a byte of it.
//
//     const marl::Source src = marl::Source::load("config.marl");
//     const marl::tag port = *src.document().at("server/port");
//     if (src.value_as<int>(port) > 65535) throw src.error_at(port, "port out of range");
//     for (const marl::diagnostic& d : src.problems()) std::cerr << src.describe(d) << '\n';
//
// marl::Source gives the line and column of every loaded tag, the problems of the text as
// marl check reports them, errors worded as marl check words them ("FILE:LINE:COL: error:
// ...", which editors and CI annotations pick up), and the text written back with the
// document's edits made in it and every other byte kept. marl::line_index turns a byte offset
// of any text into a line and a column. Header-only C++17, over marllib.hpp, the reader of
// marllib_reader.hpp and the editing places of marllib_edit.hpp.
#ifndef MARLLIB_SOURCE_HPP
#define MARLLIB_SOURCE_HPP

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "marllib.h"
#include "marllib.hpp"
#include "marllib_edit.hpp"
#include "marllib_file.hpp"
#include "marllib_format.hpp"
#include "marllib_reader.hpp"
#include "marllib_scan.hpp"

namespace marl {

// A place in a text: line and column count from 1, the column in bytes; offset counts bytes
// from the start of the text.
struct position {
    int32_t line;
    int32_t column;
    int32_t offset;
};

// The lines of a text, found in one pass, for turning offsets into lines and columns. LF,
// CR LF and a lone CR each end one line. A UTF-8 byte-order mark that starts the text takes no
// column, as editors show it. It keeps the start of every line (4 bytes a line), not the text.
class line_index {
public:
    explicit line_index(std::string_view text) {
        constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
        if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
            mark_ = static_cast<int32_t>(kByteOrderMark.size());
        }
        starts_.push_back(0);
        const char* const first = text.data();
        const char* const last = first + text.size();
        for (const char* end = first; (end = MarlParser::Scan::FindLineEnd(end, last)) != last;) {
            if (*end == '\r' && end + 1 < last && end[1] == '\n') ++end;  // CR LF: one line end
            ++end;
            starts_.push_back(static_cast<int32_t>(end - first));
        }
    }

    // The line and column of the byte at offset (0 to the text's size: the size itself is
    // the place just after the last byte). A line end belongs to the line that it ends.
    position at(int32_t offset) const {
        offset = std::max(offset, int32_t{0});
        const auto after = std::upper_bound(starts_.begin(), starts_.end(), offset);
        const auto line = static_cast<int32_t>(after - starts_.begin());
        const int32_t start =
            line == 1 ? std::min(mark_, offset) : starts_[static_cast<size_t>(line - 1)];
        return {line, offset - start + 1, offset};
    }

    int32_t lines() const { return static_cast<int32_t>(starts_.size()); }

private:
    std::vector<int32_t> starts_;  // ascending; the first is 0
    int32_t mark_ = 0;             // the bytes of a byte-order mark at the start
};

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

// The format's encoders' put, into a string.
struct appender {
    std::string& to;
    void operator()(const char* bytes, std::size_t count) const { to.append(bytes, count); }
};

// One finding of a survey, at a byte offset of the text.
struct finding {
    severity level;
    int32_t offset;
    std::string message;
};

// Reads a text as marllib_Load does, in one pass, and gathers the places that editing it needs
// (text_places) and what marl check reports: in the order found, what the reader skips, cuts
// or leaves open (malformed tags, cut names, stray and missing closing tags, unread bytes),
// and what looks like text that was never meant as the tag it became (a '<' in a note, a
// value without its opening quote), each at a byte offset. It keeps the first most_kept
// findings and counts them all. The events reach it from the parser by direct calls.
class survey_reader final : public MarlParser::Handler {
public:
    survey_reader(std::string_view text, std::size_t most_kept)
        : text_(text), most_kept_(most_kept) {}

    // Reads text through: the results are then in places, findings and counts.
    void read_all() {
        if (text_.size() < static_cast<std::size_t>(MarlFormat::kShortestTagText)) {
            short_input();
            places.finish(text_, read_end{});
            return;
        }
        const auto length = static_cast<int32_t>(
            std::min<std::size_t>(text_.size(), static_cast<std::size_t>(INT32_MAX)));
        MarlParser::BasicParser<survey_reader> parser(this, text_.data(), length);
        parser_ = &parser;
        while (parser.Parse()) {
        }
        const read_end end{parser.Position(), parser.ConstructStart(), parser.LastProblem()};
        parser_ = nullptr;
        finish(end);
        places.finish(text_, end);
    }

    text_places places;
    std::vector<finding> findings;  // the first most_kept, in the order found
    problem_counts counts;          // of all the findings

    void Leaf(const char*, int32_t, const char*, int32_t) override {
        const int32_t open = parser_->ConstructStart();
        places.leaf(open);
        check_name(open);
        if (parser_->RawValueStart() >= 0) check_value_start(parser_->RawValueStart() - 1);
    }
    void Tree(const char*, int32_t) override {
        const int32_t open = parser_->ConstructStart();
        places.tree(open);
        check_name(open);
        open_.push_back({open, raw_name()});
    }
    void End() override { close(parser_->ConstructStart()); }
    void Invalid() override {
        const int32_t open = parser_->ConstructStart();
        const problem why = parser_->LastProblem();
        if (why == problem::TagCutOff) return cut_off(open);
        places.invalid(open, why);
        if (why == problem::BadQuote || why == problem::UnclosedValue) {
            check_value_start(raw_name().end + 1);  // the byte after the '='
        }
        // A stray quote is reported where it stands; everything else at its tag's '<'.
        note(severity::error, why == problem::BadQuote ? parser_->Position() - 1 : open,
             describe(why));
    }

private:
    struct open_container {
        int32_t offset;  // its '<'
        span name;       // as written
    };

    span raw_name() const {
        return {parser_->RawNameStart(), parser_->RawNameStart() + parser_->RawNameLength()};
    }

    void close(int32_t offset) {
        places.end(offset);
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
        if (rest == MarlFormat::kCloseTag) return close(offset);
        places.invalid(offset, problem::TagCutOff);
        const bool whole = rest.size() == MarlFormat::kCloseTag.size() && rest[1] != '/' &&
                           rest[2] == '>';
        note(severity::error, offset,
             std::string(describe(problem::TagCutOff)) +
                 (whole ? ": the reader needs 3 bytes after a '<', so a line end after it "
                          "would keep it"
                        : ""));
    }

    void check_name(int32_t open) {
        const span name = raw_name();
        const std::string_view raw = text_.substr(static_cast<std::size_t>(name.begin),
                                                  static_cast<std::size_t>(name.end - name.begin));
        // Decoding never makes a name longer, so only a long raw name can be cut.
        if (raw.size() > static_cast<std::size_t>(MarlFormat::kNameMax)) {
            const int32_t decoded = MarlFormat::DecodedNameLength(
                raw.data(), static_cast<int32_t>(raw.size()));
            if (decoded > MarlFormat::kNameMax) {
                note(severity::warning, open,
                     "name of " + std::to_string(decoded) + " bytes is cut to its first " +
                         std::to_string(MarlFormat::kNameMax) + " bytes");
            }
        }
        if (const char* const odd = odd_name(raw)) note(severity::warning, open, odd);
    }

    // What a name's bytes tell of how the tag came about, when they look like text that was
    // never meant as a name; nullptr for a name that looks meant (every name is looked at, so
    // the usual one takes a single look).
    const char* odd_name(std::string_view raw) const {
        const auto blank = [](char c) { return c == ' ' || c == '\t'; };
        const bool held = MarlParser::Scan::HoldsLineEndOrOpen(
            raw.data(), raw.data() + raw.size(), text_.data() + text_.size());
        if (!held && raw[0] != '!' && !blank(raw.front()) && !blank(raw.back())) return nullptr;
        if (raw.substr(0, 3) == "!--") {
            return "name starts with '!--': Marl has no comments; notes go between tags, "
                   "without '<'";
        }
        if (raw.find_first_of("\r\n") != std::string_view::npos) {
            return "name holds a line end: a '<' in a note starts a tag";
        }
        if (held) return "name holds a '<': a '<' in a note starts a tag";
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
    const MarlParser::BasicParser<survey_reader>* parser_ = nullptr;
    std::vector<open_container> open_;
};

// A document's tree as tree_view walks it, less some tags (sorted indices) with all they hold.
class pruned_tree_view {
public:
    pruned_tree_view(const Document& doc, const std::vector<int32_t>& left_out)
        : tree_(doc), left_out_(left_out) {}
    tree_view::entries_left entries(collection c) const {
        tree_view::entries_left left = tree_.entries(c);
        const auto out = [this](tag t) {
            return std::binary_search(left_out_.begin(), left_out_.end(), t.index());
        };
        left.tags.erase(std::remove_if(left.tags.begin(), left.tags.end(), out), left.tags.end());
        return left;
    }
    tree_view::node_view node(tag t) { return tree_.node(t); }

private:
    tree_view tree_;
    const std::vector<int32_t>& left_out_;
};

// Follows a text's events, in text order, against the tree of a document that the text is
// meant to load into: the same names, values, nesting and order, with some tags (sorted
// indices) left out together with what they hold. Stops at the first difference.
class tree_match {
public:
    tree_match(const Document& doc, const std::vector<int32_t>& left_out) : tree_(doc, left_out) {
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

    pruned_tree_view tree_;
    std::vector<tree_view::entries_left> open_;  // the levels open, the top level first
    int32_t differs_ = -1;
    std::string why_;
};

}  // namespace detail

// A loaded document together with the text it came from, so that a program can tell its
// users where a tag stands: the line and column of every loaded tag, the problems of the text
// as marl check reports them, and errors worded as marl check words them, which editors and
// CI annotations that understand "FILE:LINE:COL:" pick up.
//
// Loading a Source costs what loading its Document costs, and a copy of the text. The first
// call that needs more (where, problems, counted, error_at, value_as's errors, and writing the
// text back) reads the text once more, with the same reader that the library ran over the
// same bytes, and keeps what it found: 4 bytes per loaded tag and 8 per container, the
// problems kept, and, once a position is asked for, 4 bytes per line. A library whose reader
// made another number of tags than these headers' reader finds makes that call throw
// errc::other_library: the headers are then not the library's own. Editing the document
// changes no loaded tag's position; a tag added later has none.
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
        if (const int reason = marl::read_file(path.c_str(), text)) {
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
        const std::vector<int32_t>& tags = survey().places.tags();
        if (t.index() < 0 || static_cast<std::size_t>(t.index()) >= tags.size()) {
            return std::nullopt;
        }
        return lines().at(tags[static_cast<std::size_t>(t.index())]);
    }

    // What marl check reports for the text, in its order, as far as the load kept them.
    const std::vector<diagnostic>& problems() const { return survey().problems; }
    // The number of findings of each severity, kept or not.
    const problem_counts& counted() const { return survey().counted; }

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
    //   line (for no entry, the container's and one step of the text's own: what its
    //   containers' first entries add, or two blanks) and the text's own line end; what the
    //   tag holds is laid out as the printer lays it out, a step a level. A container that
    //   the text never closes takes its new tags at the end of the text, and a last "</>" that
    //   the text leaves unread gets a line end before anything comes after it.
    // - A tag given to remove() loses its bytes, a container's up to its "</>", and the whole
    //   lines it stood on when only blanks came before it and no other tag after it (a note
    //   after it on its last line goes with it).
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
    // What the one read of the text found.
    struct surveyed {
        detail::text_places places;
        std::vector<diagnostic> problems;
        problem_counts counted;
    };

    Source(std::string text, std::string name, std::size_t most_problems)
        : name_(std::move(name)),
          text_(std::move(text)),
          document_(Document::load_text(text_)),
          loaded_(tag_count(document_)),
          most_problems_(most_problems) {}

    // The number of tags in doc, as a few dozen calls tell it (tags are numbered 0, 1, 2, ...
    // with no gaps): what the library read, for the survey to be checked against later, when
    // the document may have grown.
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

    // The survey of the text, made on the first call that needs it.
    const surveyed& survey() const {
        if (survey_) return *survey_;
        detail::survey_reader reader(text_, most_problems_);
        reader.read_all();
        check_same_reader(reader.places.tags().size());
        surveyed found{std::move(reader.places), {}, reader.counts};
        found.problems.reserve(reader.findings.size());
        for (detail::finding& f : reader.findings) {
            found.problems.push_back({f.level, lines().at(f.offset), std::move(f.message)});
        }
        return survey_.emplace(std::move(found));
    }

    // The reader here and the library's must be one: the same tags from the same bytes.
    void check_same_reader(std::size_t found) const {
        if (found == loaded_) return;
        throw error(errc::other_library,
                    "marllib: the library made another number of tags from '" + name_ +
                        "' than marllib_source.hpp's reader found: the headers are not those "
                        "of the library's own version");
    }

    // The lines of the text, found once a position is first asked for.
    const line_index& lines() const {
        if (!lines_) lines_.emplace(text_);
        return *lines_;
    }

    bool removed(tag t) const {
        return std::binary_search(removed_.begin(), removed_.end(), t.index());
    }
    int32_t begin_of(int32_t t) const {
        return survey().places.tags()[static_cast<std::size_t>(t)];
    }

    // The text with the document's changes made to it; see save.
    std::string edited() const {
        const detail::text_layout layout(text_, survey().places);
        const auto loaded = static_cast<int32_t>(layout.tags());
        std::vector<detail::text_edit> edits;
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
                if (layout.is_container(t.index())) {
                    todo.push_back({document_.collection_of(t), t.index()});
                }
            }
            if (added.empty()) continue;
            const detail::text_layout::opening opening = layout.opening_for(here.container, last);
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
        std::string out = detail::apply_edits(text_, edits);
        check_loads_back(out, edits, layout.line_end());
        return out;
    }

    // A loaded tag's new name and value, where they changed.
    void edit_tag(const detail::text_layout& layout, tag t,
                  std::vector<detail::text_edit>& edits) const {
        const detail::text_layout::tag_place at = layout.place(t.index());
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
    std::string lead_for(const detail::text_layout& layout, int32_t container,
                         int32_t last) const {
        if (last >= 0) return std::string(layout.indentation(begin_of(last)));
        if (container < 0) return {};
        return std::string(layout.indentation(begin_of(container))) + std::string(layout.step());
    }

    // Tags laid out as the printer lays them out, each line starting with lead.
    std::string print_lines(const std::vector<tag>& tags, const std::string& lead,
                            const detail::text_layout& layout) const {
        detail::pruned_tree_view tree(document_, removed_);
        MarlFormat::StringOutput out;
        MarlFormat::PrintEntries(tree, detail::tree_view::entries_left{tags}, 0, out,
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
    static std::size_t depth_at_end(const detail::text_layout& layout, int32_t container) {
        const std::vector<int32_t>& open = layout.open_at_end();
        const auto at = std::find(open.begin(), open.end(), container);
        return at == open.end() ? 0 : static_cast<std::size_t>(at - open.begin()) + 1;
    }

    // The tags that go at the end of the text, deepest first: the entries of the containers
    // left open, each closed once something that stands outside it follows.
    void end_lines(const detail::text_layout& layout, const std::vector<end_entries>& at_end,
                   std::vector<detail::text_edit>& edits) const {
        const auto first = std::find_if(at_end.begin(), at_end.end(),
                                        [](const end_entries& e) { return !e.tags.empty(); });
        if (first == at_end.end()) return;
        const auto outermost = static_cast<std::size_t>(first - at_end.begin());
        check_room(layout, layout.size(), first->tags.front());
        const std::vector<int32_t>& open = layout.open_at_end();
        // A removed container takes the text to its end with it: nothing in it is closed.
        auto depth = static_cast<std::size_t>(
            std::find_if(open.begin(), open.end(), [this](int32_t t) { return removed(tag(t)); }) -
            open.begin());
        std::string lines;
        for (;; --depth) {
            const end_entries& entries = at_end[depth];
            const int32_t container = depth == 0 ? -1 : open[depth - 1];
            if (!entries.tags.empty()) {
                const std::string lead = lead_for(layout, container, entries.last);
                lines += print_lines(entries.tags, lead, layout);
            }
            if (depth == outermost) break;
            lines += std::string(layout.indentation(begin_of(container)));
            lines += MarlFormat::kCloseTag;
            lines += layout.line_end();
        }
        detail::text_layout::opening end = layout.opening_at_end();
        if (end.drops_last_end) lines.resize(lines.size() - layout.line_end().size());
        edits.push_back({end.at, end.at, end.before + lines});
    }

    // New lines at offset would be read; otherwise throws, naming the place that stops it.
    void check_room(const detail::text_layout& layout, int32_t offset, tag first) const {
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
    void check_loads_back(std::string& out, const std::vector<detail::text_edit>& edits,
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
                describe({severity::error, lines().at(detail::original_offset(edits, differs)),
                          "the edited text would not load back as the document: " + match.why()}));
        }
    }

    std::string name_;
    std::string text_;
    Document document_;
    std::size_t loaded_;  // the tags the library made
    std::size_t most_problems_;
    mutable std::optional<surveyed> survey_;
    mutable std::optional<line_index> lines_;
    std::vector<int32_t> removed_;  // the tags remove() took out, sorted by index
};


}  // namespace marl

#endif  // MARLLIB_SOURCE_HPP
