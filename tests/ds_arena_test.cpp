#include "ds_arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "ds.h"

namespace {

TEST(DsArena, PiecesAreAlignedDistinctAndKeepTheirBytes) {
    DS::Arena arena;
    struct Piece {
        unsigned char* at;
        size_t size;
        unsigned char fill;
    };
    std::vector<Piece> pieces;
    // Sizes from one byte up past the largest block, so that pieces come from shared blocks
    // and from blocks of their own, in any order.
    const size_t sizes[] = {1, 3, 16, 88, 1000, 5000, 70000, 1 << 20, 40u << 20, 7, 64};
    for (int round = 0; round < 40; ++round) {
        for (size_t size : sizes) {
            if (size > (1u << 20) && round > 1) continue;
            const size_t align = size % 2 ? 1 : (round % 2 ? 8 : alignof(std::max_align_t));
            auto* at = static_cast<unsigned char*>(arena.Allocate(size, align));
            ASSERT_EQ(reinterpret_cast<std::uintptr_t>(at) % align, 0u);
            const auto fill = static_cast<unsigned char>(pieces.size());
            std::memset(at, fill, size);
            pieces.push_back({at, size, fill});
        }
    }
    // No piece overlaps another: each still holds its own fill.
    for (const Piece& piece : pieces) {
        for (size_t i = 0; i < piece.size; i += 97) ASSERT_EQ(piece.at[i], piece.fill);
        ASSERT_EQ(piece.at[piece.size - 1], piece.fill);
    }
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(arena.Allocate(24)) % alignof(std::max_align_t), 0u);
}

TEST(DsArena, ImpossibleSizesThrowAndLeaveTheArenaUsable) {
    DS::Arena arena;
    // Sizes whose rounding up to whole grains would wrap around among them.
    for (const size_t size : {SIZE_MAX - 8, SIZE_MAX - 2, SIZE_MAX}) {
        EXPECT_THROW(arena.Allocate(size, 1), std::bad_alloc);
    }
    EXPECT_THROW(arena.AllocateArray<int64_t>(SIZE_MAX / 4), std::bad_alloc);
    auto* bytes = static_cast<char*>(arena.Allocate(10));
    std::memset(bytes, 1, 10);
    EXPECT_EQ(bytes[9], 1);
}

TEST(DsArena, PiecesAfterALargeFirstPieceAreAligned) {
    DS::Arena arena;
    ASSERT_NE(arena.Allocate((40u << 20) + 3, 1), nullptr);  // a block of its own
    for (const size_t size : {0, 1, 0, 8}) {
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(arena.Allocate(size, 8)) % 8, 0u) << size;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(arena.Allocate(size)) % alignof(std::max_align_t),
                  0u)
            << size;
    }
}

TEST(DsArena, CollectionGrowsInTheArenaAndKeepsItsElements) {
    DS::Arena arena;
    int32_t count = 0;
    int32_t capacity = 0;
    int32_t* items = nullptr;
    DS::Collection<int32_t, int32_t> view(&count, &capacity, &items, &arena);
    for (int32_t i = 0; i < 5000; ++i) view.append(i);
    ASSERT_EQ(view.size(), 5000);
    for (int32_t i = 0; i < 5000; ++i) ASSERT_EQ(view[i], i);
    EXPECT_TRUE(view.remove(17));
    EXPECT_FALSE(view.push(18));
    EXPECT_TRUE(view.push(17));
    EXPECT_EQ(view[4999], 17);
    // The array belongs to the arena: nothing to free here.
}

}  // namespace
