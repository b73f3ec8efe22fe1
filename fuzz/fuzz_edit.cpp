// Edits arbitrary text through marl::Source: the input's first byte tells how many edits its
// next bytes describe (three bytes each: what, which tag, with what), the rest is the text.
// Unedited, the text must come back byte for byte. Edited, it must either come back as a
// text that loads into the edited tree, less the removed tags, or be refused with
// errc::lost_edit; nothing else may happen.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "check.h"
#include "marllib_source.hpp"

namespace {

// A copy of the tree below `from`, less the removed tags.
void Copy(const marl::Document& from, marl::collection c, marl::Document& to, marl::collection into,
          const std::vector<int32_t>& removed) {
    for (const marl::tag t : from.children(c)) {
        if (std::find(removed.begin(), removed.end(), t.index()) != removed.end()) continue;
        if (from.is_leaf(t)) {
            to.add_leaf(into, from.name(t), from.value(t));
        } else {
            const marl::tag copy = to.add_container(into, from.name(t));
            Copy(from, from.collection_of(t), to, to.collection_of(copy), removed);
        }
    }
}

void Edit(const uint8_t* ops, std::size_t count, const std::string& text) {
    static const char* const kNames[] = {"a", "x y", "=", "/>", "\x80", "<", "port"};
    static const char* const kValues[] = {"", "1", "\"", "\">", "a\nb", "</>", "\x80"};
    marl::Source source = marl::Source::load_text(text);
    FUZZ_CHECK(source.to_string() == text);
    marl::Document doc = source.document();
    std::vector<int32_t> tags;  // the loaded ones first, numbered from 0
    while (marllib_GetName(doc.handle(), static_cast<int32_t>(tags.size()), nullptr) >= 0) {
        tags.push_back(static_cast<int32_t>(tags.size()));
    }
    const auto loaded = static_cast<int32_t>(tags.size());
    std::vector<int32_t> removed;
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t what = ops[3 * i], which = ops[3 * i + 1], with = ops[3 * i + 2];
        const bool any = !tags.empty();
        const marl::tag t(any ? tags[which % tags.size()] : 0);
        switch (what % 5) {
            case 0:
                if (any) doc.set_name(t, kNames[with % 7]);
                break;
            case 1:
                if (any && doc.is_leaf(t)) doc.set_value(t, kValues[with % 7]);
                break;
            case 4:
                if (any && t.index() < loaded) {
                    source.remove(t);
                    removed.push_back(t.index());
                }
                break;
            default: {
                const marl::collection into =
                    any && !doc.is_leaf(t) ? doc.collection_of(t) : marl::Document::root;
                const marl::tag added =
                    what % 5 == 2 ? doc.add_leaf(into, kNames[with % 7], kValues[which % 7])
                                  : doc.add_container(into, kNames[with % 7]);
                tags.push_back(added.index());
                break;
            }
        }
    }
    std::string saved;
    try {
        saved = source.to_string();
    } catch (const marl::error& refused) {
        FUZZ_CHECK(refused.code() == marl::errc::lost_edit);
        return;
    }
    marl::Document expected = marl::Document::create();
    Copy(doc, marl::Document::root, expected, marl::Document::root, removed);
    FUZZ_CHECK(marl::Document::load_text(saved).to_string() == expected.to_string());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::size_t count = std::min<std::size_t>(data[0] % 8, (size - 1) / 3);
    const std::size_t text = 1 + 3 * count;
    Edit(data + 1, count, std::string(reinterpret_cast<const char*>(data) + text, size - text));
    marl::close_all();
    return 0;
}
