// marl_instructions: one load from memory of one shape by one reader, for bench/instructions to
// count under callgrind.
//
//   marl_instructions SHAPE READER [TAGS]
//     SHAPE   config, flat, deep or deep-indented (the trees of marl_bench, same seeds)
//     READER  marllib (marllib_Load of the Marl text), pugixml (load_buffer of the XML) or
//             simdjson (dom::parser of the JSON)
//     TAGS    the tree's size, 100000 by default
//
// The program generates the shape's text, loads it once to warm up (the allocator's pools,
// the dynamic linker's bindings, simdjson's choice of kernel and its parser's buffers), then
// loads it again inside the reader's LoadOnce function: callgrind counts that function alone
// (--toggle-collect=LoadOnceMarllib, LoadOncePugixml or LoadOnceSimdjson). The loaded root's
// entry count is checked against the generated tree. Prints "tags N" (and, for simdjson,
// "kernel NAME") on standard output; exits 1 when a load fails or finds another tree.
#include <simdjson.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <pugixml.hpp>
#include <string>

#include "forms.h"
#include "marllib.h"

// Kept out of line and out of interprocedural analysis, so that callgrind finds each under
// its own name with the whole load inside (CMake also keeps calls in it from becoming jumps).
#if defined(__clang__)
#define BENCH_COUNTED __attribute__((noinline, used))
#else
#define BENCH_COUNTED __attribute__((noipa, used))
#endif

extern "C" {

BENCH_COUNTED int32_t LoadOnceMarllib(const char* text, int32_t length) {
    return marllib_Load(text, length);
}

BENCH_COUNTED bool LoadOncePugixml(pugi::xml_document* document, const char* text,
                                   size_t length) {
    return static_cast<bool>(document->load_buffer(text, length));
}

BENCH_COUNTED bool LoadOnceSimdjson(simdjson::dom::parser* parser,
                                    const simdjson::padded_string* text,
                                    simdjson::dom::element* root) {
    return parser->parse(*text).get(*root) == simdjson::SUCCESS;
}

}  // extern "C"

namespace {

bool MakeShape(const std::string& shape, uint64_t tags, bench::Forms& forms) {
    if (shape == "config") {
        forms = bench::MakeConfig(tags, 1);
    } else if (shape == "flat") {
        forms = bench::MakeFlat(tags, 2);
    } else if (shape == "deep") {
        forms = bench::MakeDeep(tags);
    } else if (shape == "deep-indented") {
        forms = bench::MakeDeep(tags, true);
    } else {
        return false;
    }
    return true;
}

// The root's entry count of each reader's loaded tree, or -1 when the load failed.
long long Marllib(const bench::Forms& forms) {
    const auto length = static_cast<int32_t>(forms.marl.size());
    const int32_t warm = marllib_Load(forms.marl.data(), length);
    marllib_Close();
    const int32_t handle = LoadOnceMarllib(forms.marl.data(), length);
    if (warm < 0 || handle < 0) return -1;
    const long long count = marllib_GetTags(handle, MARLLIB_ROOT, nullptr, 0);
    marllib_Close();
    return count;
}

long long Pugixml(const bench::Forms& forms) {
    {
        pugi::xml_document warm;
        if (!warm.load_buffer(forms.xml.data(), forms.xml.size())) return -1;
    }
    pugi::xml_document document;
    if (!LoadOncePugixml(&document, forms.xml.data(), forms.xml.size())) return -1;
    long long count = 0;
    for (pugi::xml_node child : document.document_element().children()) {
        if (child.type() == pugi::node_element) ++count;
    }
    return count;
}

long long Simdjson(const bench::Forms& forms) {
    const simdjson::padded_string text(forms.json);
    simdjson::dom::parser parser;
    // Room for the deepest tree the tags could make, as marl_bench gives it.
    if (parser.allocate(text.size(), static_cast<size_t>(forms.expected.tags) + 2)) return -1;
    simdjson::dom::element root;
    if (parser.parse(text).get(root)) return -1;
    if (!LoadOnceSimdjson(&parser, &text, &root)) return -1;
    std::printf("kernel %s\n", simdjson::get_active_implementation()->name().c_str());
    simdjson::dom::object top;
    return root.get_object().get(top) ? -1 : static_cast<long long>(top.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s config|flat|deep|deep-indented marllib|pugixml|simdjson "
                             "[TAGS]\n", argv[0]);
        return 2;
    }
    const std::string shape = argv[1], reader = argv[2];
    const uint64_t tags = argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 100000;
    bench::Forms forms;
    if (tags == 0 || !MakeShape(shape, tags, forms)) {
        std::fprintf(stderr, "marl_instructions: no shape '%s' of %s tags\n", argv[1],
                     argc == 4 ? argv[3] : "100000");
        return 2;
    }
    long long count = -1;
    if (reader == "marllib") {
        count = Marllib(forms);
    } else if (reader == "pugixml") {
        count = Pugixml(forms);
    } else if (reader == "simdjson") {
        count = Simdjson(forms);
    } else {
        std::fprintf(stderr, "marl_instructions: no reader '%s'\n", argv[2]);
        return 2;
    }
    if (count != forms.expected.rootCount) {
        std::fprintf(stderr, "marl_instructions: %s on %s: the root holds %lld tags, generated %d\n",
                     argv[2], argv[1], count, forms.expected.rootCount);
        return 1;
    }
    std::printf("tags %llu\n", static_cast<unsigned long long>(forms.expected.tags));
    return 0;
}
