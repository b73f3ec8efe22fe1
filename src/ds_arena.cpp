#include "ds_arena.h"

#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace DS {

namespace {

constexpr std::size_t kAlign = alignof(std::max_align_t);
constexpr std::size_t kLargestBlock = std::size_t{32} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

constexpr std::size_t RoundUp(std::size_t size, std::size_t to) { return (size + to - 1) / to * to; }

// Large blocks are filled front to back right after they are made; on Linux, asking for
// huge pages there turns hundreds of page faults into one.
void PreferHugePages(char* start, std::size_t size) {
#if defined(MADV_HUGEPAGE)
    // The whole huge pages inside [start, start + size): skip head bytes, leave tail bytes.
    const auto address = reinterpret_cast<std::uintptr_t>(start);
    const std::size_t head = RoundUp(address, kHugePage) - address;
    const std::size_t tail = (address + size) % kHugePage;
    if (size > head + tail) madvise(start + head, size - head - tail, MADV_HUGEPAGE);
#else
    (void)start;
    (void)size;
#endif
}

}  // namespace

struct Arena::Block {
    Block* previous;
};

constexpr std::size_t kHeader = RoundUp(sizeof(void*), kAlign);

Arena::~Arena() {
    while (blocks != nullptr) {
        Block* const previous = blocks->previous;
        ::operator delete(blocks);
        blocks = previous;
    }
}

void* Arena::AllocateSlow(std::size_t size) {
    if (kPiecewise || size > kLargestBlock / 4) {
        // A piece this large gets a block of its own, kept behind the newest block so that
        // the newest block's free space stays in use.
        if (size > SIZE_MAX - kHeader) throw std::bad_alloc();
        auto* const block = static_cast<Block*>(::operator new(kHeader + size));
        char* const piece = reinterpret_cast<char*>(block) + kHeader;
        if (blocks == nullptr) {
            block->previous = nullptr;
            blocks = block;
            next = end = piece;  // no free space, but aligned as free space always is
        } else {
            block->previous = blocks->previous;
            blocks->previous = block;
        }
        return piece;
    }
    // Blocks grow with the pieces asked for, so that a run of large pieces (long values, say)
    // shares a few blocks instead of taking one each.
    while (size > nextBlockSize / 4) nextBlockSize *= 2;
    auto* const block = static_cast<Block*>(::operator new(nextBlockSize));
    block->previous = blocks;
    blocks = block;
    next = reinterpret_cast<char*>(block) + kHeader;
    end = reinterpret_cast<char*>(block) + nextBlockSize;
    if (nextBlockSize >= kHugePage) PreferHugePages(next, nextBlockSize - kHeader);
    if (nextBlockSize < kLargestBlock) nextBlockSize *= 2;
    void* const piece = next;
    next += RoundUp(size, kGrain);
    return piece;
}

}  // namespace DS
