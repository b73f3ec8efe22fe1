// marllib_path.hpp: the path syntax that names a tag in a document, as `marl get` takes it.
// Header-only C++17; it needs nothing of the library.
//
// A path is a list of steps from the document's root down, separated by '/':
//
//   server/users/user[2]      the second tag named "user" in the collection of the first
//                             "users" in the collection of the first "server" at the root
//   /server/host              a leading '/' is allowed and changes nothing
//   dir\/name                 the one-step name "dir/name"
//
// - Each step is a name of at least one byte, optionally followed by "[N]": the N-th tag of
//   that name in its collection, counting from 1 as XPath does. Without "[N]" a step picks
//   the first tag of that name (N = 1). N is written in decimal digits only (no sign, no
//   blanks; leading zeros are allowed) and lies in 1 .. 2^31 - 1.
// - Inside a name a backslash escapes the next byte, which must be '/', '[' or '\'. Every
//   other byte, ']' and zero bytes included, stands for itself. Names are not limited to the
//   64 bytes a document stores: a longer name is well formed and simply matches no tag.
// - The whole path is malformed, and parse_path gives std::nullopt, for: an empty path or
//   one that is only "/"; an empty step (leading "//", "a//b", a trailing '/'); a step with
//   an empty name ("[2]"); a backslash before any other byte, or as the last byte; a '['
//   not followed by digits and ']' at the end of its step ("a[", "a[x]", "a[-1]", "a[1]b");
//   N of 0 or above 2^31 - 1.
#ifndef MARLLIB_PATH_HPP
#define MARLLIB_PATH_HPP

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace marl {

// One step of a path: the nth tag (from 1) named `name` in a collection.
struct path_step {
    std::string name;  // decoded: escapes removed
    int32_t nth = 1;
};

// The steps of `path`, in order from the root; std::nullopt when the path is malformed (see
// above). Never throws but std::bad_alloc.
inline std::optional<std::vector<path_step>> parse_path(std::string_view path) {
    constexpr char kSeparator = '/';
    constexpr char kEscape = '\\';
    constexpr char kIndexOpen = '[';
    constexpr int64_t kLargestIndex = 2147483647;

    if (!path.empty() && path.front() == kSeparator) path.remove_prefix(1);
    if (path.empty()) return std::nullopt;

    std::vector<path_step> steps;
    size_t at = 0;
    for (;;) {
        path_step step;
        // The name, up to an unescaped '/', '[' or the end.
        while (at < path.size() && path[at] != kSeparator && path[at] != kIndexOpen) {
            if (path[at] == kEscape) {
                if (++at == path.size()) return std::nullopt;
                const char escaped = path[at];
                if (escaped != kSeparator && escaped != kIndexOpen && escaped != kEscape) {
                    return std::nullopt;
                }
            }
            step.name += path[at++];
        }
        if (step.name.empty()) return std::nullopt;
        // An optional "[N]", which must end the step.
        if (at < path.size() && path[at] == kIndexOpen) {
            int64_t nth = 0;
            size_t digits = 0;
            for (++at; at < path.size() && path[at] >= '0' && path[at] <= '9'; ++at, ++digits) {
                nth = nth * 10 + (path[at] - '0');
                if (nth > kLargestIndex) return std::nullopt;
            }
            if (digits == 0 || nth == 0 || at == path.size() || path[at] != ']') {
                return std::nullopt;
            }
            ++at;
            if (at < path.size() && path[at] != kSeparator) return std::nullopt;
            step.nth = static_cast<int32_t>(nth);
        }
        steps.push_back(std::move(step));
        if (at == path.size()) return steps;
        ++at;  // the '/'
        if (at == path.size()) return std::nullopt;  // a trailing '/'
    }
}

// Follows steps down from collection `from`: the first step looks in `from`, each later one in
// the collection of the tag that the step before it found. nth(collection, step) gives the
// step.nth-th tag named step.name in a collection, or std::nullopt; inside(tag) gives the
// collection that a tag holds, or std::nullopt for a leaf, which has nothing below it. The
// result is the tag that the last step finds, or std::nullopt when a step finds none. The
// walk for any representation of a document: marl get's and marllib.hpp's.
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

}  // namespace marl

#endif  // MARLLIB_PATH_HPP
