// DS::Arena: memory handed out in pieces and released all at once.
//
// A document's tags, collections and loaded values are never freed one by one: they live as
// long as the document. Taking them from an arena makes each a pointer bump instead of a heap
// allocation, keeps them close together in memory, and lets the document release millions of
// them with a handful of frees.
#ifndef MARLLIB_DS_ARENA_H
#define MARLLIB_DS_ARENA_H

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <new>

// Under AddressSanitizer every piece is a block of its own, whose bounds the sanitizer
// knows: an access past the end of a piece is then caught, where a shared block would hide it.
#if defined(__SANITIZE_ADDRESS__)
#define MARLLIB_ARENA_PIECEWISE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MARLLIB_ARENA_PIECEWISE 1
#endif
#endif

namespace DS {

// Asks the system to back the whole huge pages (2 MB) inside [start, start + size) with huge
// pages, where it can (Linux): memory filled right after it is made, as an arena's large blocks
// and a name index's slots are, then takes one page fault per 2 MB instead of hundreds, and a
// table that is read at random takes no miss in the address cache for each read.
void PreferHugePages(char* start, std::size_t size);

class Arena {
public:
    Arena() = default;
    ~Arena();
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    // size bytes aligned to align (a power of two, at most alignof(std::max_align_t)), valid
    // until the arena is destroyed. Throws std::bad_alloc when no memory can be had; the arena
    // is then unchanged.
    void* Allocate(std::size_t size, std::size_t align = alignof(std::max_align_t)) {
        assert((align & (align - 1)) == 0 && align <= alignof(std::max_align_t));
        // Pieces take whole grains, so the free space always starts grain-aligned and pieces
        // that need no more than that (nearly all) need no padding either. Blocks end on a
        // grain too, so the room is whole grains: a piece that fits rounded up fits as it is.
        const std::size_t skip =
            align <= kGrain ? 0 : (0 - reinterpret_cast<std::uintptr_t>(next)) & (align - 1);
        const auto room = static_cast<std::size_t>(end - next);
        if (skip <= room && size <= room - skip) {
            char* const piece = next + skip;
            next = piece + ((size + kGrain - 1) & ~(kGrain - 1));
            return piece;
        }
        return AllocateSlow(size);
    }

    // Says that about bytes in all will be taken from the arena. On Linux, blocks of 8 MB and
    // more ask for huge pages; when the total is at least that large, blocks of 2 MB and more
    // do, as the last huge page, which is resident whole, is then small next to the whole.
    void Expect(std::size_t bytes);

    // Room for count elements of a trivially destructible type, not initialised.
    template <typename T>
    T* AllocateArray(std::size_t count) {
        // T may be a pointer type; then the size of the pointer is meant.
        // NOLINTBEGIN(bugprone-sizeof-expression)
        if (count > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(Allocate(sizeof(T) * count, alignof(T)));
        // NOLINTEND(bugprone-sizeof-expression)
    }

private:
    static constexpr std::size_t kGrain = 8;
#if defined(MARLLIB_ARENA_PIECEWISE)
    static constexpr bool kPiecewise = true;
#else
    static constexpr bool kPiecewise = false;
#endif

    struct Block;
    // Starts a new block (its start is aligned for any object) and takes size bytes from it.
    void* AllocateSlow(std::size_t size);

    Block* blocks = nullptr;  // newest first
    char* next = nullptr;     // free space in the newest block
    char* end = nullptr;
    std::size_t nextBlockSize = 4096;
    bool largeExpected = false;  // Expect was told of 8 MB or more
};

}  // namespace DS

#endif  // MARLLIB_DS_ARENA_H
