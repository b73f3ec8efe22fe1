// DS::Collection: a set-like view over a (count, capacity, array) triple that lives in another
// object.
//
// Every table of the library is such a triple: a count, the number of elements the array has
// room for, and a pointer to that array. The view owns nothing; code that changes a table
// binds a view on the spot, calls one or two operations and drops it. The holder of the triple
// frees the array (and, for pointer elements, the elements) with delete[] when it is destroyed.
//
// The array comes from the heap, or from an arena when the view is given one: an arena's
// arrays are never freed one by one (an outgrown array stays in the arena until it goes).
//
// Growth doubles the real capacity, and removal keeps the array, so that any sequence of
// appends and removals from the end costs amortised O(1) each: a stack that goes up and down
// across a size reallocates only when it reaches a size it never had.
//
// The library itself relies only on reserve and appendReserved: its tables are lists whose
// values are distinct by construction, and the document fills its records in place. The rest
// (append, pop, the index operator, and the set operations push with its duplicate scan,
// remove and contains) is the table's documented interface, kept for code that needs a small
// list or set.
#ifndef MARLLIB_DS_H
#define MARLLIB_DS_H

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>

#include "ds_arena.h"

namespace DS {

template <typename T, typename I>
class Collection {
public:
    Collection(I* count, I* capacity, T** array, Arena* arena = nullptr)
        : count(count), capacity(capacity), array(array), arena(arena) {}

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
    // Reallocation copies the live elements; if it throws, the triple is unchanged.
    void reserve() {
        if (*count < *capacity) return;
        const auto held = static_cast<std::size_t>(*capacity);
        if (held >= kLargest) throw std::bad_alloc();
        regrow(held == 0 ? 1 : std::min(held * 2, kLargest));
    }

    // Makes room for more elements beyond the count in one step, for a caller that knows how
    // many will come; the capacity becomes at least count + more (at most the largest I).
    void reserve(I more) {
        if (more <= *capacity - *count) return;
        regrow(std::min(static_cast<std::size_t>(*count) + static_cast<std::size_t>(more),
                        kLargest));
    }

    // Appends after a reserve() on the same, unchanged triple. Never fails.
    void appendReserved(T value) noexcept {
        assert(*count < *capacity && "appendReserved without a reserve");
        (*array)[*count] = value;
        ++*count;
    }

    bool contains(T value) const { return find(value) >= 0; }

    // Removes and returns the last element (the zero value when empty). For stacks, whose
    // top is the last element: the same as remove(top) without scanning from the bottom.
    T pop() noexcept {
        if (*count <= 0) return T();
        --*count;
        T* const slot = *array + *count;
        const T top = *slot;
        *slot = T{};
        return top;
    }

    // Removes the first element equal to value, moving later ones down; false if absent.
    bool remove(T value) {
        const I at = find(value);
        if (at < 0) return false;
        T* const items = *array;
        std::copy(items + at + 1, items + *count, items + at);
        --*count;
        items[*count] = T{};
        return true;
    }

    I size() const { return *count; }

    // The element at index, or the zero value when index is outside 0..count-1.
    T operator[](I index) const {
        if (index < 0 || index >= *count) return T();
        return (*array)[index];
    }

private:
    static constexpr auto kLargest = static_cast<std::size_t>(std::numeric_limits<I>::max());

    // Moves the elements to a new array of room elements (no fewer than the count).
    void regrow(std::size_t room) {
        T* const fresh = arena ? arena->AllocateArray<T>(room) : new T[room];
        std::copy(*array, *array + *count, fresh);
        if (!arena) delete[] *array;
        *array = fresh;
        *capacity = static_cast<I>(room);
    }

    // cppcheck-suppress constParameter ; value is an element, whatever type T is
    I find(T value) const {
        for (I i = 0; i < *count; ++i) {
            if ((*array)[i] == value) return i;
        }
        return -1;
    }

    I* count;
    I* capacity;
    T** array;
    Arena* arena;
};

}  // namespace DS

#endif  // MARLLIB_DS_H
