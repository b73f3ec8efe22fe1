// DS::Collection: a set-like view over a (count, array) pair that lives in another object.
//
// Every table of the library is such a pair: a count and a pointer to a heap array made with
// array new. The view owns nothing; code that changes a table binds a view on the spot, calls
// one or two operations and drops it. The holder of the pair frees the array (and, for
// pointer elements, the elements) with delete[] when it is destroyed.
//
// The array comes from the heap, or from an arena when the view is given one: an arena's
// arrays are never freed one by one (an outgrown array stays in the arena until it goes).
//
// Growth is geometric so that appending n elements costs O(n): the capacity is not stored but
// derived from the count (0 for an empty pair, otherwise the next power of two at or above the
// count), which keeps the pair exactly two variables. Removal never shrinks the array, so the
// real capacity is always at least the derived one.
#ifndef MARLLIB_DS_H
#define MARLLIB_DS_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>

#include "ds_arena.h"

namespace DS {

template <typename T, typename I>
class Collection {
public:
    Collection(I* count, T** array, Arena* arena = nullptr)
        : count_(count), array_(array), arena_(arena) {}

    // Appends value unless it is already present. False (and nothing changed) for a duplicate.
    bool push(T value) {
        if (contains(value)) return false;
        append(value);
        return true;
    }

    // Appends value without looking for a duplicate: for tables whose values are new by
    // construction (a fresh object, the index of the tag being created).
    void append(T value) {
        reserve();
        appendReserved(value);
    }

    // Makes room for one more element, so that a following appendReserved cannot fail.
    // Reallocation copies the live elements; if it throws, the pair is unchanged.
    void reserve() {
        const std::size_t n = static_cast<std::size_t>(*count_);
        if (!full(n)) return;
        if (n >= static_cast<std::size_t>(std::numeric_limits<I>::max())) throw std::bad_alloc();
        const std::size_t grown = n == 0 ? 1 : n * 2;
        T* const fresh = arena_ ? arena_->AllocateArray<T>(grown) : new T[grown];
        if (n > 0) std::copy(*array_, *array_ + n, fresh);
        if (!arena_) delete[] *array_;
        *array_ = fresh;
    }

    // Appends after a reserve() on the same, unchanged pair. Never fails.
    void appendReserved(T value) noexcept {
        (*array_)[*count_] = value;
        ++*count_;
    }

    bool contains(T value) const { return find(value) >= 0; }

    // Removes and returns the last element (the zero value when empty). For stacks, whose
    // top is the last element: the same as remove(top) without scanning from the bottom.
    T pop() noexcept {
        if (*count_ <= 0) return T();
        --*count_;
        T* const slot = *array_ + *count_;
        const T top = *slot;
        *slot = T{};
        return top;
    }

    // Removes the first element equal to value, moving later ones down; false if absent.
    bool remove(T value) {
        const I at = find(value);
        if (at < 0) return false;
        T* const items = *array_;
        std::copy(items + at + 1, items + *count_, items + at);
        --*count_;
        items[*count_] = T{};
        return true;
    }

    I size() const { return *count_; }

    // The element at index, or the zero value when index is outside 0..count-1.
    T operator[](I index) const {
        if (index < 0 || index >= *count_) return T();
        return (*array_)[index];
    }

private:
    // Whether a pair of n elements may have no room for another: the capacity it is sure to
    // have is 0 for an empty pair and otherwise the next power of two at or above n.
    static bool full(std::size_t n) { return (n & (n - 1)) == 0; }

    // cppcheck-suppress constParameter ; value is an element, whatever type T is
    I find(T value) const {
        for (I i = 0; i < *count_; ++i) {
            if ((*array_)[i] == value) return i;
        }
        return -1;
    }

    I* count_;
    T** array_;
    Arena* arena_;
};

}  // namespace DS

#endif  // MARLLIB_DS_H
