// marllib_scan.hpp: the byte scans of the reader in marllib_reader.hpp (the next tag, the end
// of a name) and of its line index (the next line end), 16 bytes at a time where the processor
// has SSE2. Header-only C++17, part of the reader.
#ifndef MARLLIB_SCAN_HPP
#define MARLLIB_SCAN_HPP

#include <cstddef>
#include <cstring>

#include "marllib_format.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace MarlParser {
namespace Scan {

using MarlFormat::kEscape;

// What each byte means to the name scan: nothing, the end of the name ('=', '/', '>'), or
// an escape that the entity handler will have to decode.
enum NameByte : unsigned char { kPlain, kEnd, kEscapeByte };

struct NameBytes {
    NameByte kind[256];
    constexpr NameBytes() : kind() {
        for (const char end : MarlFormat::kNameEnds) kind[static_cast<unsigned char>(end)] = kEnd;
        kind[static_cast<unsigned char>(kEscape)] = kEscapeByte;
    }
    NameByte operator[](char c) const { return kind[static_cast<unsigned char>(c)]; }
};
inline constexpr NameBytes kNameBytes{};

#if defined(__SSE2__) && defined(__GNUC__)
#define MARLLIB_SCAN_SSE2 1
// The lanes of the 16 bytes that equal c, all ones, the others zero.
inline __m128i Equals(__m128i bytes, char c) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)); }
// The positions of the bytes equal to c among 16 bytes, as bits (lowest bit first byte).
inline int Matches(__m128i bytes, char c) { return _mm_movemask_epi8(Equals(bytes, c)); }
inline __m128i Load16(const char* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}
#endif

// The first byte c in [from, to), or null. The memchr of msvcrt.dll (and of Wine's) does not
// use SSE2, so there, where the processor has it, the search takes 16 bytes at a time itself;
// elsewhere memchr is at least as fast.
inline const char* FindByte(const char* from, const char* to, char c) {
#if defined(MARLLIB_SCAN_SSE2) && defined(_WIN32)
    for (; to - from >= 16; from += 16) {
        const int found = Matches(Load16(from), c);
        if (found != 0) return from + __builtin_ctz(static_cast<unsigned>(found));
    }
    for (; from < to; ++from) {
        if (*from == c) return from;
    }
    return nullptr;
#else
    return static_cast<const char*>(std::memchr(from, c, static_cast<size_t>(to - from)));
#endif
}

// How many bytes FindOpenNear and ScanNameGroup look at. The near bytes begin with a few
// looked at one by one: there most tags start, right after a line end (one by one, the next
// byte's address is known at once, and the processor runs ahead on the predicted branch
// instead of waiting for a position computed from a compare of 16 bytes).
constexpr ptrdiff_t kNearOneByOne = 4;
constexpr ptrdiff_t kNear = kNearOneByOne + 16;
constexpr ptrdiff_t kGroup = 16;

// The first '<' among the kNear bytes at from, which must all be readable, or null: the
// first ones one by one, the rest in one 16-byte compare where the processor has SSE2.
inline const char* FindOpenNear(const char* from) {
#if defined(MARLLIB_SCAN_SSE2)
    for (ptrdiff_t i = 0; i < kNearOneByOne; ++i) {
        if (from[i] == '<') return from + i;
    }
    from += kNearOneByOne;
    const int found = Matches(Load16(from), '<');
    return found != 0 ? from + __builtin_ctz(static_cast<unsigned>(found)) : nullptr;
#else
    ptrdiff_t i = 0;
    for (; i < kNear; ++i) {
        if (from[i] == '<') break;
    }
    return i < kNear ? from + i : nullptr;
#endif
}

// The first '<' in [from, to), or null: the near bytes first, then memchr.
inline const char* FindOpen(const char* from, const char* to) {
    if (to - from >= kNear) {
        // The common case, with the bound tested once instead of at every byte.
        if (const char* const open = FindOpenNear(from)) return open;
        from += kNear;
    } else {
        for (; from < to; ++from) {
            if (*from == '<') return from;
        }
    }
    if (from == to) return nullptr;
    return FindByte(from, to, '<');
}

#if defined(MARLLIB_SCAN_SSE2)
// The bytes of a group that end a name ('=', '/', '>') or escape in one, as bits.
inline int NameStops(const char* at) {
    const __m128i bytes = Load16(at);
    using MarlFormat::kNameEnds;
    const __m128i firstEnds =
        _mm_or_si128(Equals(bytes, kNameEnds[0]), Equals(bytes, kNameEnds[1]));
    const __m128i others = _mm_or_si128(Equals(bytes, kNameEnds[2]), Equals(bytes, kEscape));
    const __m128i stops = _mm_or_si128(firstEnds, others);
    return _mm_movemask_epi8(stops);
}
#endif

// The byte that ends a name among the kGroup bytes at at, which must all be readable, when it
// comes before any escape byte; otherwise null, and ScanName has to look.
inline const char* ScanNameGroup(const char* at) {
#if defined(MARLLIB_SCAN_SSE2)
    const int found = NameStops(at);
    if (found == 0) return nullptr;
    at += __builtin_ctz(static_cast<unsigned>(found));
    return *at != kEscape ? at : nullptr;
#else
    for (const char* const last = at + kGroup; at < last; ++at) {
        const NameByte kind = kNameBytes[*at];
        if (kind != kPlain) return kind == kEnd ? at : nullptr;
    }
    return nullptr;
#endif
}

// The first byte in [at, end) that ends a name ('=', '/' or '>'), or end. Sets escapes when
// an escape byte comes before it. Names are short, so whole 16-byte groups are tested at
// once where the processor can: the end bytes and the escape byte in one mask, so that a name
// without escapes (nearly all) ends at the mask's first bit; an escape first is rare, and the
// scan then goes on past it.
inline const char* ScanName(const char* at, const char* end, bool& escapes) {
#if defined(MARLLIB_SCAN_SSE2)
    while (end - at >= kGroup) {
        const int found = NameStops(at);
        if (found == 0) {
            at += kGroup;
            continue;
        }
        at += __builtin_ctz(static_cast<unsigned>(found));
        if (*at != kEscape) return at;
        escapes = true;
        ++at;
    }
#endif
    for (; at < end; ++at) {
        const NameByte kind = kNameBytes[*at];
        if (kind == kEnd) return at;
        if (kind == kEscapeByte) escapes = true;
    }
    return end;
}

// The first line end byte (CR or LF) in [from, to), or to. Lines are short next to 16 bytes
// only in odd text, so the groups are tested whole.
inline const char* FindLineEnd(const char* from, const char* to) {
#if defined(MARLLIB_SCAN_SSE2)
    for (; to - from >= 16; from += 16) {
        const __m128i bytes = Load16(from);
        const int found = Matches(bytes, '\n') | Matches(bytes, '\r');
        if (found != 0) return from + __builtin_ctz(static_cast<unsigned>(found));
    }
#endif
    for (; from < to; ++from) {
        if (*from == '\n' || *from == '\r') return from;
    }
    return to;
}

// Whether [from, to) holds a line end or a '<', as a name that a '<' in a note started does.
// The bytes up to readable may be read: with 16 of them from `from`, a name of up to 16 bytes
// takes one look.
inline bool HoldsLineEndOrOpen(const char* from, const char* to, const char* readable) {
#if defined(MARLLIB_SCAN_SSE2)
    if (to - from <= 16 && readable - from >= 16) {
        const __m128i bytes = Load16(from);
        const int found = Matches(bytes, '\n') | Matches(bytes, '\r') | Matches(bytes, '<');
        return (found & ((1 << (to - from)) - 1)) != 0;
    }
#else
    (void)readable;
#endif
    for (; from < to; ++from) {
        if (*from == '\n' || *from == '\r' || *from == '<') return true;
    }
    return false;
}

}  // namespace Scan
}  // namespace MarlParser

// The library's loader counts with the same SSE2 code; a host has no use for the macro.
#if !defined(MARLLIB_BUILDING)
#undef MARLLIB_SCAN_SSE2
#endif

#endif  // MARLLIB_SCAN_HPP
