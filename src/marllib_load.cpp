#include "marllib_load.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "marlclass_handler.h"
#include "marllib_format.hpp"
#include "marllib_reader.hpp"

namespace MarlLib {

namespace {

// What a quick look at the text says the document will hold: every tag starts with a '<' that
// no '/' follows, and every container ends with "</". For well-formed text whose values hold
// no '<' the counts are exact (for long or sparse text, estimates: see Foresee); '<' in values and
// malformed text make them too high, but never above what the text could hold (a tag for
// every four bytes): the room reserved from them is never more than a tag record and a
// collection record for every four bytes of text, and only the records filled are touched.
// Counts too low only leave the tables to grow as they go.
struct Outlook {
    int32_t tags = 0;
    int32_t containers = 0;
};

// The counts, no higher than the text can hold (a tag takes at least four bytes).
Outlook Capped(Outlook outlook, int32_t length) {
    const int32_t most = length / MarlFormat::kShortestTagText;
    outlook.tags = std::min(outlook.tags, most);
    outlook.containers = std::min(outlook.containers, most);
    return outlook;
}

// The first '<' in [at, last), or last.
const char* NextOpen(const char* at, const char* last) {
    if (at >= last) return last;
    const char* const found = MarlParser::Scan::FindByte(at, last, '<');
    return found != nullptr ? found : last;
}

#if defined(MARLLIB_SCAN_SSE2)
// The sum of the 16 byte lanes.
int32_t SumLanes(__m128i counts) {
    const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
    return _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
}
#endif

// The '<' and "</" in [at, last); the text goes on at least one byte beyond last.
Outlook Count(const char* at, const char* const last) {
    Outlook outlook;
#if defined(MARLLIB_SCAN_SSE2)
    // 16 bytes at a time, against the 16 bytes one further on for what follows each '<'. Each
    // byte lane counts its own finds (a match is -1, subtracted) for up to 255 groups, and the
    // lanes are then summed. Four groups in a row without a '<' are most likely a long value:
    // memchr, quicker over long runs, finds the next '<'.
    const __m128i open = _mm_set1_epi8('<');
    const __m128i slash = _mm_set1_epi8('/');
    int quiet = 0;  // groups in a row without a '<'
    while (last - at >= 16) {
        __m128i opens = _mm_setzero_si128();
        __m128i closes = _mm_setzero_si128();
        const char* const stop = at + 16 * std::min<ptrdiff_t>((last - at) / 16, 255);
        for (; at < stop; at += 16) {
            const __m128i isOpen = _mm_cmpeq_epi8(MarlParser::Scan::Load16(at), open);
            if (_mm_movemask_epi8(isOpen) == 0) {
                if (++quiet == 4) break;
                continue;
            }
            quiet = 0;
            const __m128i isSlash = _mm_cmpeq_epi8(MarlParser::Scan::Load16(at + 1), slash);
            opens = _mm_sub_epi8(opens, isOpen);
            closes = _mm_sub_epi8(closes, _mm_and_si128(isOpen, isSlash));
        }
        outlook.tags += SumLanes(opens) - SumLanes(closes);
        outlook.containers += SumLanes(closes);
        if (quiet == 4) {
            quiet = 0;
            at = NextOpen(at, last);
        }
    }
#endif
    for (at = NextOpen(at, last); at < last; at = NextOpen(at + 1, last)) {
        if (at[1] == '/') {
            ++outlook.containers;
        } else {
            ++outlook.tags;
        }
    }
    return outlook;
}

// The count costs a pass over the text and saves table growth for each tag, so it pays where
// tags are dense. The first kSample bytes tell: where they hold a '<' every kDenseBytes bytes
// or more often, text of up to kCountWhole bytes is counted whole (a second pass over longer
// text, read from memory twice, would cost more than it saves). Other text is estimated from
// the sample, scaled to its length with an eighth more: a count a little too high costs only
// untouched room, where one a little too low would double a table at its end.
constexpr int32_t kSample = int32_t{64} << 10;
constexpr int32_t kDenseBytes = 16;
constexpr int32_t kCountWhole = int32_t{4} << 20;

Outlook Foresee(const char* text, int32_t length) {
    const char* const last = text + length - 1;  // every '<' before it has a byte after it
    const int32_t sampled = std::min(length - 1, kSample);
    Outlook outlook = Count(text, text + sampled);
    if (sampled == length - 1) return Capped(outlook, length);
    const int64_t seen = int64_t{outlook.tags} + outlook.containers;
    if (seen * kDenseBytes >= sampled && length <= kCountWhole) {
        const Outlook rest = Count(text + sampled, last);
        return Capped({outlook.tags + rest.tags, outlook.containers + rest.containers}, length);
    }
    const auto scale = [length, sampled](int32_t counted) {
        const int64_t scaled = int64_t{counted} * length / sampled;
        return static_cast<int32_t>(
            std::min<int64_t>(scaled + scaled / 8, std::numeric_limits<int32_t>::max()));
    };
    return Capped({scale(outlook.tags), scale(outlook.containers)}, length);
}

// Reads the whole text into builder. The builder's class is final, so the reader calls it
// directly, and all of the reading, the decoding and the building of a tag is compiled into
// this one loop: no call per tag. (The reader is a local here, so the compiler keeps its
// state in registers and drops the stores of its diagnostic views, which nothing reads.)
MARLLIB_FLATTEN void Read(MarlClass::Document& document, const char* text, int32_t length) {
    MarlClass::Handler builder(&document);
    MarlParser::BasicParser<MarlClass::Handler> parser(&builder, text, length);
    while (parser.Parse()) {
    }
    // Reading goes to the end of the text unless a broken value leaves no safe place to go on.
    assert(parser.Position() == length || parser.LastProblem() == MarlParser::Problem::BadQuote);
}

}  // namespace

std::unique_ptr<MarlClass::Document> LoadText(const char* text, int32_t length) {
    auto document = std::make_unique<MarlClass::Document>();
    // Such text holds no tag (and would not be read).
    if (text == nullptr || length < MarlFormat::kShortestTagText) return document;
    const Outlook outlook = Foresee(text, length);
    document->ReserveTables(outlook.tags, outlook.containers);
    document->ExpectBytes(static_cast<size_t>(length));
    Read(*document, text, length);
    return document;
}

}  // namespace MarlLib
