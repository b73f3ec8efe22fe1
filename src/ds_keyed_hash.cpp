#include "ds_keyed_hash.h"

#include <chrono>
#include <cstdint>

namespace DS {

namespace {

// SplitMix64's finaliser: every bit of the result depends on every bit of the input, so
// inputs that differ a little (two clock readings, two addresses) give unrelated words.
uint64_t Mix(uint64_t word) {
    word ^= word >> 30;
    word *= 0xbf58476d1ce4e5b9u;
    word ^= word >> 27;
    word *= 0x94d049bb133111ebu;
    return word ^ (word >> 31);
}

// Keys made so far in this process. (The library runs on one thread: see marllib.h.)
uint64_t keysMade = 0;

}  // namespace

KeyedHash::KeyedHash() {
    const auto clock = static_cast<uint64_t>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    const auto wall = static_cast<uint64_t>(
        std::chrono::system_clock::now().time_since_epoch().count());
    // Where this key and the program's data lie, which differs from run to run where the
    // system places them at random.
    const auto place = static_cast<uint64_t>(reinterpret_cast<std::uintptr_t>(this)) ^
                       Mix(static_cast<uint64_t>(reinterpret_cast<std::uintptr_t>(&keysMade)));
    ++keysMade;
    key0 = Mix(clock ^ Mix(place + keysMade));
    key1 = Mix(wall ^ Mix(key0 + place));
}

}  // namespace DS
