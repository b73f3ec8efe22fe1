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
// The smallest block that asks for huge pages, unless the arena expects to hold this much or
// more. The last huge page that a document touches is resident whole, up to 2 MB more than it
// holds; from blocks of this size on, or in a document expected to be this large, that is
// small next to the document.
constexpr std::size_t kHugeBlock = std::size_t{8} << 20;

constexpr std::size_t RoundUp(std::size_t size, std::size_t to) { return (size + to - 1) / to * to; }

}  // namespace

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

namespace {

#if defined(_WIN32)
// Windows maps every large block straight from the system and unmaps it when it is freed, so
// each new document would fault all of its pages in afresh, which took as long as the load
// itself (glibc's allocator, by contrast, keeps such blocks once one has been freed). The large
// blocks of the documents destroyed last are kept for the next ones instead, up to kKeptBytes
// in all, until the process ends; the library runs on one thread.
class KeptBlocks {
public:
    // A kept block of exactly size bytes, or null.
    void* Take(std::size_t size) {
        for (std::size_t i = 0; i < count; ++i) {
            if (blocks[i].size != size) continue;
            void* const block = blocks[i].start;
            blocks[i] = blocks[--count];
            bytes -= size;
            return block;
        }
        return nullptr;
    }
    // Keeps block, or frees it when it is small (the heap serves those well) or there is no room.
    void Give(void* block, std::size_t size) {
        if (size < kSmallestKept || count == kMaxBlocks || size > kKeptBytes - bytes) {
            ::operator delete(block);
            return;
        }
        blocks[count++] = {block, size};
        bytes += size;
    }

private:
    static constexpr std::size_t kSmallestKept = std::size_t{256} << 10;
    static constexpr std::size_t kKeptBytes = std::size_t{96} << 20;
    static constexpr std::size_t kMaxBlocks = 32;
    struct Kept {
        void* start;
        std::size_t size;
    };
    Kept blocks[kMaxBlocks] = {};
    std::size_t count = 0;
    std::size_t bytes = 0;
};
KeptBlocks keptBlocks;

void* NewBlock(std::size_t size) {
    void* const kept = keptBlocks.Take(size);
    return kept != nullptr ? kept : ::operator new(size);
}
void DeleteBlock(void* block, std::size_t size) { keptBlocks.Give(block, size); }
#else
void* NewBlock(std::size_t size) { return ::operator new(size); }
void DeleteBlock(void* block, std::size_t /*size*/) { ::operator delete(block); }
#endif

}  // namespace

struct Arena::Block {
    Block* previous;
    std::size_t size;  // of the whole block, header included
};

// A block starts with its Block: the previous block and its own size.
constexpr std::size_t kHeader = RoundUp(sizeof(void*) + sizeof(std::size_t), kAlign);

Arena::~Arena() {
    while (blocks != nullptr) {
        Block* const previous = blocks->previous;
        DeleteBlock(blocks, blocks->size);
        blocks = previous;
    }
}

void Arena::Expect(std::size_t bytes) { largeExpected = largeExpected || bytes >= kHugeBlock; }

void* Arena::AllocateSlow(std::size_t size) {
    if (kPiecewise || size > kLargestBlock / 4) {
        // A piece this large gets a block of its own, kept behind the newest block so that
        // the newest block's free space stays in use.
        if (size > SIZE_MAX - kHeader) throw std::bad_alloc();
        auto* const block = static_cast<Block*>(NewBlock(kHeader + size));
        block->size = kHeader + size;
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
    auto* const block = static_cast<Block*>(NewBlock(nextBlockSize));
    block->size = nextBlockSize;
    block->previous = blocks;
    blocks = block;
    next = reinterpret_cast<char*>(block) + kHeader;
    end = reinterpret_cast<char*>(block) + nextBlockSize;
    if (nextBlockSize >= (largeExpected ? kHugePage : kHugeBlock)) {
        PreferHugePages(next, nextBlockSize - kHeader);
    }
    if (nextBlockSize < kLargestBlock) nextBlockSize *= 2;
    void* const piece = next;
    next += RoundUp(size, kGrain);
    return piece;
}

}  // namespace DS
