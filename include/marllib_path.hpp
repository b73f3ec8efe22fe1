// marllib_path.hpp: the path syntax that selects tags in a document, as `marl get` takes it,
// and the walks that find them over any representation of a document. Header-only C++17; it
// needs nothing of the library.
//
// A path is a list of steps from a collection (the document's top level, unless a caller
// says otherwise) down, separated by '/'. Each step applies to every collection that the
// steps before it reached, in text order; the tags that the last step selects are the path's,
// each once, in text order.
//
//   server/users/user[2]      the second tag named "user" in the collection of the first
//                             "users" in the collection of the first "server" at the top
//   /server/host              a leading '/' is allowed and changes nothing
//   fleet/*/name              the first "name" of every tag in fleet's collection
//   fleet/host[-1]/name       the name of the last host
//   **/port[*]                every "port" at any depth
//   fleet/host[role="web"]    every host whose collection holds a leaf role of value "web"
//   dir\/name                 the one-step name "dir/name"
//
// A step is one of:
//   name          the first tag named `name`
//   name[N]       the N-th tag named `name`, counting from 1 (as XPath does)
//   name[-N]      the N-th from the end: [-1] is the last
//   name[*]       every tag named `name`
//   name[c]       every tag named `name` whose collection holds a tag named c
//   name[c="v"]   every tag named `name` whose collection holds a leaf c of value v
//   *             every tag, whatever its name; *[N], *[-N], *[c], *[c="v"] as above, over
//                 all the collection's tags
//   **            the collection itself and every collection below it, at any depth (zero or
//                 more levels); it takes no [...] and cannot be the last step
// - A name is at least one byte. Inside it a backslash escapes the next byte, which must be
//   '/', '[', '*' or '\'; every other byte, ']' and zero bytes included, stands for itself. A
//   step that is exactly `*` or `**`, unescaped, is the wildcard; `\*` is the name "*", and
//   any other name may hold '*' as it is ("a*b", "**[2]" for the second tag named "**").
//   Names are not limited to the 64 bytes a document stores: a longer one matches no tag.
// - N is written in decimal digits (leading zeros allowed, no '+', no blanks), after an
//   optional '-', and lies in 1 .. 2^31 - 1.
// - c is a name as above, but that ']', '=' and '\' are escaped there ('\]', '\=', '\\'), '/'
//   and '[' stand for themselves, and it cannot start with a digit, '-' or '+', which start an
//   index; v is written between quote bytes, any bytes, with a quote byte inside doubled (""
//   stands for one, as in Marl text).
// - The whole path is malformed, and parse_path gives std::nullopt, for: an empty path or one
//   that is only "/"; an empty step (leading "//", "a//b", a trailing '/'); a step with an
//   empty name ("[2]"); a backslash before any other byte, or as the last byte; a '[' not
//   closed by ']' at the end of its step ("a[", "a[1]b", "a[1][2]"); an empty or malformed
//   selector ("a[]", "a[x]=", "a[=\"v\"]", "a[c=v]", "a[+1]", "a[-0]"); N of 0 or above
//   2^31 - 1; a `**` that is the last step.
#ifndef MARLLIB_PATH_HPP
#define MARLLIB_PATH_HPP

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace marl {

// One step of a path.
struct path_step {
    std::string name;  // the name that the tags must have, decoded; empty for `*` and `**`
    int32_t nth = 1;   // which of the tags that pass: from 1, or from the end when negative
                       // (-1 is the last); 0 for every one of them
    bool any_name = false;  // `*`: whatever the name
    bool descend = false;   // `**`: the collection and every collection below it
    std::string child;      // [c] and [c="v"]: a tag the match's collection must hold
    std::optional<std::string> child_value;  // [c="v"]: c must be a leaf of this value

    // Whether the step picks one tag by name and place from the start ("name", "name[N]"), as
    // every step of the first path syntax did.
    bool by_name_and_place() const {
        return !any_name && !descend && child.empty() && nth > 0;
    }
};

namespace detail {

class path_reader {
public:
    explicit path_reader(std::string_view path) : path_(path) {}

    std::optional<std::vector<path_step>> steps() {
        if (!path_.empty() && path_.front() == kSeparator) ++at_;
        if (at_ == path_.size()) return std::nullopt;
        std::vector<path_step> steps;
        for (;;) {
            std::optional<path_step> step = read_step();
            if (!step) return std::nullopt;
            steps.push_back(std::move(*step));
            if (at_ == path_.size()) break;
            ++at_;  // the '/'
            if (at_ == path_.size()) return std::nullopt;  // a trailing '/'
        }
        if (steps.back().descend) return std::nullopt;  // `**` selects no tag itself
        return steps;
    }

private:
    static constexpr char kSeparator = '/';
    static constexpr char kEscape = '\\';
    static constexpr char kOpen = '[';
    static constexpr char kClose = ']';
    static constexpr char kWildcard = '*';
    static constexpr char kEquals = '=';
    static constexpr char kQuote = '"';
    static constexpr int64_t kLargestIndex = 2147483647;

    bool ends_step(std::size_t at) const { return at == path_.size() || path_[at] == kSeparator; }
    bool at_byte(char c) const { return at_ < path_.size() && path_[at_] == c; }

    std::optional<path_step> read_step() {
        path_step step;
        if (at_byte(kWildcard) && at_ + 1 < path_.size() && path_[at_ + 1] == kWildcard &&
            ends_step(at_ + 2)) {
            at_ += 2;
            step.descend = true;
            step.nth = 0;
            return step;
        }
        if (at_byte(kWildcard) && (ends_step(at_ + 1) || path_[at_ + 1] == kOpen)) {
            ++at_;
            step.any_name = true;
            step.nth = 0;  // every tag, unless [N] says which
        } else if (!read_name(step.name)) {
            return std::nullopt;
        }
        if (at_byte(kOpen) && !read_selector(step)) return std::nullopt;
        if (!ends_step(at_)) return std::nullopt;
        return step;
    }

    // A name, up to an unescaped '/', '[' or the end.
    bool read_name(std::string& name) {
        while (at_ < path_.size() && path_[at_] != kSeparator && path_[at_] != kOpen) {
            if (path_[at_] == kEscape && !read_escape("/[*\\")) return false;
            name += path_[at_++];
        }
        return !name.empty();
    }

    // Moves past a backslash that escapes one of `escapable`; false for any other byte.
    bool read_escape(std::string_view escapable) {
        if (++at_ == path_.size()) return false;
        return escapable.find(path_[at_]) != std::string_view::npos;
    }

    // "[...]" after a step's name or `*`.
    bool read_selector(path_step& step) {
        ++at_;  // the '['
        if (at_byte(kWildcard) && at_ + 1 < path_.size() && path_[at_ + 1] == kClose) {
            at_ += 2;
            step.nth = 0;
            return true;
        }
        // A digit, '-' or '+' starts an index, which must then be one.
        if (at_ < path_.size() && (path_[at_] == '-' || path_[at_] == '+' || is_digit(path_[at_]))) {
            return read_index(step.nth);
        }
        step.nth = 0;
        return read_child(step);
    }

    static bool is_digit(char c) { return c >= '0' && c <= '9'; }

    bool read_index(int32_t& nth) {
        const bool from_end = path_[at_] == '-';
        if (from_end) ++at_;
        int64_t index = 0;
        std::size_t digits = 0;
        for (; at_ < path_.size() && is_digit(path_[at_]); ++at_, ++digits) {
            index = index * 10 + (path_[at_] - '0');
            if (index > kLargestIndex) return false;
        }
        if (digits == 0 || index == 0 || !at_byte(kClose)) return false;
        ++at_;
        nth = static_cast<int32_t>(from_end ? -index : index);
        return true;
    }

    // c or c="v", then the ']'.
    bool read_child(path_step& step) {
        while (at_ < path_.size() && path_[at_] != kClose && path_[at_] != kEquals) {
            if (path_[at_] == kEscape && !read_escape("]=\\")) return false;
            step.child += path_[at_++];
        }
        if (step.child.empty() || at_ == path_.size()) return false;
        if (path_[at_] == kEquals) {
            ++at_;
            std::string value;
            if (!read_quoted(value)) return false;
            step.child_value = std::move(value);
        }
        if (!at_byte(kClose)) return false;
        ++at_;
        return true;
    }

    // "v", with "" for one quote byte.
    bool read_quoted(std::string& value) {
        if (!at_byte(kQuote)) return false;
        for (++at_; at_ < path_.size(); ++at_) {
            if (path_[at_] != kQuote) {
                value += path_[at_];
                continue;
            }
            if (at_ + 1 < path_.size() && path_[at_ + 1] == kQuote) {
                value += kQuote;
                ++at_;
                continue;
            }
            ++at_;  // the closing quote
            return true;
        }
        return false;
    }

    std::string_view path_;
    std::size_t at_ = 0;
};

}  // namespace detail

// The steps of `path`, in order from the top; std::nullopt when the path is malformed (see
// above). Never throws but std::bad_alloc.
inline std::optional<std::vector<path_step>> parse_path(std::string_view path) {
    return detail::path_reader(path).steps();
}

// Whether every step picks one tag by name and place, so that the path names one tag at most
// and follow_path finds it.
inline bool picks_one(const std::vector<path_step>& steps) {
    for (const path_step& step : steps) {
        if (!step.by_name_and_place()) return false;
    }
    return true;
}

// Follows steps that each pick one tag by name and place (path_step::by_name_and_place) down
// from collection `from`: the first step looks in `from`, each later one in the collection of
// the tag that the step before it found. nth(collection, step) gives the step.nth-th tag named
// step.name in a collection, or std::nullopt; inside(tag) gives the collection that a tag
// holds, or std::nullopt for a leaf, which has nothing below it. The result is the tag that
// the last step finds, or std::nullopt when a step finds none. The walk for any
// representation of a document: marl set's and marllib.hpp's.
template <typename Collection, typename Nth, typename Inside>
auto follow_path(const std::vector<path_step>& steps, Collection from, Nth&& nth,
                 Inside&& inside) -> decltype(nth(from, steps.front())) {
    decltype(nth(from, steps.front())) found;
    Collection in = from;
    for (const path_step& step : steps) {
        if (found) {
            const auto below = inside(*found);
            if (!below) return std::nullopt;
            in = *below;
        }
        found = nth(in, step);
        if (!found) return std::nullopt;
    }
    return found;
}

// The tags that steps select below collection `from`, each once, in text order, over any
// representation of a document given as `tree`, which answers, for its collections c (with
// c.index() from -1, the top level) and tags t (with t.index() from 0), as marllib.hpp's
// Document does (Document::select runs this):
//   tree.children(c)          the tags of c, in order: a std::vector
//   tree.children(c, name)    those named `name`, in order: a std::vector
//   tree.find(c, name, n)     the n-th of them, from 1: a std::optional
//   tree.is_leaf(t), tree.collection_of(t), tree.value(t)
template <typename Tree, typename Collection>
auto select_path(const std::vector<path_step>& steps, Collection from, const Tree& tree)
    -> std::vector<typename decltype(tree.children(from))::value_type> {
    using Tag = typename decltype(tree.children(from))::value_type;
    const auto below = [&tree](Tag t) -> std::optional<Collection> {
        if (tree.is_leaf(t)) return std::nullopt;
        return tree.collection_of(t);
    };
    // Every tag below `in`, in text order, each container followed by what it holds.
    const auto each_below = [&](Collection in, auto&& take) {
        std::vector<std::pair<std::vector<Tag>, std::size_t>> open;  // each level's tags, next
        open.push_back({tree.children(in), 0});
        while (!open.empty()) {
            if (open.back().second == open.back().first.size()) {
                open.pop_back();
                continue;
            }
            const Tag t = open.back().first[open.back().second++];
            take(t);
            if (const auto held = below(t)) open.push_back({tree.children(*held), 0});
        }
    };
    // Marks by index, so that nothing is taken twice: tags from 0, collections from -1.
    const auto mark = [](std::vector<char>& marks, int64_t index) {
        const auto at = static_cast<std::size_t>(index + 1);
        if (marks.size() <= at) marks.resize(at + 1, 0);
        const bool first = marks[at] == 0;
        marks[at] = 1;
        return first;
    };
    // The tags of one collection that a step selects, in order.
    const auto pick = [&](Collection in, const path_step& step, std::vector<Tag>& out) {
        if (step.by_name_and_place()) {
            if (const auto found = tree.find(in, step.name, step.nth)) out.push_back(*found);
            return;
        }
        std::vector<Tag> passing =
            step.any_name ? tree.children(in) : tree.children(in, step.name);
        if (!step.child.empty()) {
            std::vector<Tag> kept;
            for (const Tag t : passing) {
                const auto held = below(t);
                if (!held) continue;
                bool holds = false;
                if (!step.child_value) {
                    holds = tree.find(*held, step.child, 1).has_value();
                } else {
                    for (const Tag c : tree.children(*held, step.child)) {
                        holds = holds || (tree.is_leaf(c) && tree.value(c) == *step.child_value);
                    }
                }
                if (holds) kept.push_back(t);
            }
            passing = std::move(kept);
        }
        const auto count = static_cast<int64_t>(passing.size());
        if (step.nth == 0) {
            out.insert(out.end(), passing.begin(), passing.end());
        } else if (const int64_t at = step.nth > 0 ? step.nth - 1 : count + step.nth;
                   at >= 0 && at < count) {
            out.push_back(passing[static_cast<std::size_t>(at)]);
        }
    };

    std::vector<Collection> reached{from};
    std::vector<Tag> selected;
    bool descended = false;
    for (std::size_t k = 0; k < steps.size(); ++k) {
        const path_step& step = steps[k];
        if (step.descend) {
            // Each collection reached, and every one below it, once (the order is set right
            // at the end); a collection seen before had all below it seen with it.
            std::vector<char> seen;
            std::vector<Collection> all;
            for (const Collection in : reached) {
                if (!mark(seen, in.index())) continue;
                all.push_back(in);
                for (std::size_t next = all.size() - 1; next < all.size(); ++next) {
                    for (const Tag t : tree.children(all[next])) {
                        const auto held = below(t);
                        if (held && mark(seen, held->index())) all.push_back(*held);
                    }
                }
            }
            reached = std::move(all);
            descended = true;
            continue;
        }
        selected.clear();
        for (const Collection in : reached) pick(in, step, selected);
        if (k + 1 == steps.size()) break;
        reached.clear();
        for (const Tag t : selected) {
            if (const auto held = below(t)) reached.push_back(*held);
        }
    }
    if (!descended) return selected;  // each step kept text order, and nothing came twice
    // After `**` the collections nest: put the tags in text order, each once.
    std::vector<char> wanted;
    for (const Tag t : selected) mark(wanted, t.index());
    std::vector<Tag> ordered;
    each_below(from, [&](Tag t) {
        const auto at = static_cast<std::size_t>(t.index() + 1);
        if (at < wanted.size() && wanted[at] != 0) {
            wanted[at] = 0;
            ordered.push_back(t);
        }
    });
    return ordered;
}

}  // namespace marl

#endif  // MARLLIB_PATH_HPP
