// Loads arbitrary bytes, prints the document, loads the printed text and requires the same
// document: the same tags with the same names, kinds and values, in the same collections.
// Printing that second document must then give the same text again, and printing the bytes
// as they are read, with no document, the same text as the first.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "check.h"
#include "marlclass_document.h"
#include "marllib_load.h"
#include "marllib_reader.hpp"

namespace {

using MarlClass::Document;

std::string Printed(const Document& document) {
    char* bytes = nullptr;
    size_t size = 0;
    FILE* const stream = open_memstream(&bytes, &size);
    FUZZ_CHECK(stream != nullptr);
    document.Print(stream);
    FUZZ_CHECK(std::fclose(stream) == 0);
    std::string text(bytes, size);
    std::free(bytes);
    return text;
}

// Equal counts and first tags, with equal chains of tags (compared tag by tag below).
bool SameCollection(const MarlClass::Collection& a, const MarlClass::Collection& b) {
    return a.Count() == b.Count() && a.First() == b.First();
}

// A loaded document numbers its tags and collections in text order, so two loads of the
// same tree have equal tables, entry for entry.
void CheckSame(const Document& a, const Document& b) {
    FUZZ_CHECK(a.TagCount() == b.TagCount());
    FUZZ_CHECK(a.CollectionCount() == b.CollectionCount());
    FUZZ_CHECK(
        SameCollection(*a.CollectionAt(Document::kRoot), *b.CollectionAt(Document::kRoot)));
    for (int32_t i = 0; i < a.CollectionCount(); ++i) {
        FUZZ_CHECK(SameCollection(*a.CollectionAt(i), *b.CollectionAt(i)));
    }
    for (int32_t i = 0; i < a.TagCount(); ++i) {
        const MarlClass::Tag& x = *a.TagAt(i);
        const MarlClass::Tag& y = *b.TagAt(i);
        FUZZ_CHECK(x.IsLeaf() == y.IsLeaf());
        FUZZ_CHECK(x.CollectionIndex() == y.CollectionIndex());
        FUZZ_CHECK(x.Next() == y.Next());
        FUZZ_CHECK(x.NameLength() == y.NameLength());
        FUZZ_CHECK(std::memcmp(x.Name(), y.Name(), static_cast<size_t>(x.NameLength())) == 0);
        FUZZ_CHECK(x.ValueLength() == y.ValueLength());
        FUZZ_CHECK((x.Value() == nullptr) == (y.Value() == nullptr));
        if (x.Value() != nullptr) {
            FUZZ_CHECK(
                std::memcmp(x.Value(), y.Value(), static_cast<size_t>(x.ValueLength())) == 0);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > INT32_MAX) return 0;
    const auto first =
        MarlLib::LoadText(reinterpret_cast<const char*>(data), static_cast<int32_t>(size));
    const std::string text = Printed(*first);
    // The text printed as it is read is the loaded document's print.
    struct StringOutput {
        std::string text;
        void Put(const char* bytes, size_t count) { text.append(bytes, count); }
        static bool Ok() { return true; }
    } streamed;
    marl::print_text(std::string_view(reinterpret_cast<const char*>(data), size), streamed);
    FUZZ_CHECK(streamed.text == text);
    const auto second = MarlLib::LoadText(text.data(), static_cast<int32_t>(text.size()));
    CheckSame(*first, *second);
    FUZZ_CHECK(Printed(*second) == text);
    return 0;
}
