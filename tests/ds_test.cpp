#include "ds.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// A (count, capacity, array) triple as the library's classes hold them, with its view.
struct Pair {
    int32_t count = 0;
    int32_t capacity = 0;
    int32_t* items = nullptr;
    ~Pair() { delete[] items; }
    DS::Collection<int32_t, int32_t> view() { return {&count, &capacity, &items}; }
    std::vector<int32_t> live() const { return {items, items + count}; }
};

TEST(DsCollection, PushOntoEmptyPairAllocatesAndCounts) {
    Pair pair;
    EXPECT_TRUE(pair.view().push(7));
    EXPECT_EQ(pair.count, 1);
    ASSERT_NE(pair.items, nullptr);
    EXPECT_EQ(pair.items[0], 7);
}

TEST(DsCollection, PushRefusesADuplicateAndChangesNothing) {
    Pair pair;
    auto view = pair.view();
    ASSERT_TRUE(view.push(1));
    ASSERT_TRUE(view.push(2));
    int32_t* const before = pair.items;
    EXPECT_FALSE(view.push(1));
    EXPECT_FALSE(view.push(2));
    EXPECT_EQ(pair.items, before);
    EXPECT_EQ(pair.live(), (std::vector<int32_t>{1, 2}));
}

TEST(DsCollection, ZeroValueCanBePushedOnce) {
    Pair pair;
    EXPECT_TRUE(pair.view().push(0));
    EXPECT_FALSE(pair.view().push(0));
    EXPECT_EQ(pair.count, 1);
}

TEST(DsCollection, ManyPushesKeepEveryValueInOrder) {
    Pair pair;
    auto view = pair.view();
    for (int32_t i = 0; i < 1000; ++i) ASSERT_TRUE(view.push(i * 3));
    ASSERT_EQ(view.size(), 1000);
    for (int32_t i = 0; i < 1000; ++i) ASSERT_EQ(view[i], i * 3);
}

TEST(DsCollection, RemoveFromTheMiddleShiftsLaterElementsDown) {
    Pair pair;
    auto view = pair.view();
    for (int32_t v : {10, 20, 30, 40}) view.push(v);
    EXPECT_TRUE(view.remove(20));
    EXPECT_EQ(pair.live(), (std::vector<int32_t>{10, 30, 40}));
    EXPECT_EQ(pair.items[3], 0);  // the vacated slot holds the zero value
}

TEST(DsCollection, RemoveOfAbsentValueChangesNothing) {
    Pair pair;
    auto view = pair.view();
    view.push(5);
    EXPECT_TRUE(view.remove(5));
    EXPECT_EQ(pair.count, 0);
    EXPECT_NE(pair.items, nullptr);  // removal never frees the array
    EXPECT_EQ(pair.items[0], 0);
    // The zero left beyond the count is not a live element.
    EXPECT_FALSE(view.remove(0));
    EXPECT_FALSE(view.remove(5));
    EXPECT_EQ(pair.count, 0);
}

TEST(DsCollection, PushAfterRemovalsReusesTheArrayCorrectly) {
    Pair pair;
    auto view = pair.view();
    for (int32_t v = 1; v <= 9; ++v) view.push(v);
    for (int32_t v = 1; v <= 5; ++v) view.remove(v);
    for (int32_t v = 20; v < 30; ++v) ASSERT_TRUE(view.push(v));
    std::vector<int32_t> expected{6, 7, 8, 9};
    for (int32_t v = 20; v < 30; ++v) expected.push_back(v);
    EXPECT_EQ(pair.live(), expected);
}

TEST(DsCollection, IndexOutsideTheLiveRangeGivesTheZeroValue) {
    Pair pair;
    auto view = pair.view();
    EXPECT_EQ(view[0], 0);
    view.push(4);
    view.push(8);
    EXPECT_EQ(view[-1], 0);
    EXPECT_EQ(view[2], 0);
    EXPECT_EQ(view[1], 8);
}

TEST(DsCollection, StackOfDistinctValuesPopsItsTop) {
    Pair pair;
    auto view = pair.view();
    for (int32_t v : {-1, 0, 3}) view.push(v);
    const int32_t top = view[view.size() - 1];
    EXPECT_EQ(top, 3);
    EXPECT_TRUE(view.remove(top));
    EXPECT_EQ(view[view.size() - 1], 0);
    // pop takes the top off without a scan, and on an empty stack gives the zero value.
    EXPECT_EQ(view.pop(), 0);
    EXPECT_EQ(view.pop(), -1);
    EXPECT_EQ(view.size(), 0);
    EXPECT_EQ(view.pop(), 0);
    EXPECT_EQ(view.size(), 0);
    EXPECT_TRUE(view.push(7));
    EXPECT_EQ(view[0], 7);
}

TEST(DsCollection, PointerElementsCompareByAddress) {
    int a = 0, b = 0;
    int32_t count = 0;
    int32_t capacity = 0;
    int** items = nullptr;
    DS::Collection<int*, int32_t> view(&count, &capacity, &items);
    EXPECT_TRUE(view.push(&a));
    EXPECT_TRUE(view.push(&b));
    EXPECT_TRUE(view.push(nullptr));
    EXPECT_FALSE(view.push(&a));
    EXPECT_FALSE(view.push(nullptr));
    EXPECT_EQ(view[5], nullptr);
    delete[] items;
}

}  // namespace
