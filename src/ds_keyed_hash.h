// DS::KeyedHash: a hash of short byte strings under a secret key, for tables whose keys come
// from outside (the names of a document's tags).
//
// A table hashed with a fixed function can be filled with keys chosen to land in one place,
// and every lookup then compares against all of them. Under a key that the program picks at
// run time and never shows, nobody who writes the input can know which keys collide. The
// function is SipHash-1-3, a keyed function made for exactly this use: its collisions cannot
// be found without the key, and it is quick on short inputs (a name is at most 64 bytes).
#ifndef MARLLIB_DS_KEYED_HASH_H
#define MARLLIB_DS_KEYED_HASH_H

#include <cstdint>
#include <cstring>

namespace DS {

class KeyedHash {
public:
    // A key of its own: from the clock, the address of this object and a count of the keys
    // made so far, mixed, so that two hashes made at once differ all the same.
    KeyedHash();

    // The hash of length bytes at bytes (length >= 0).
    uint64_t operator()(const char* bytes, int32_t length) const {
        State state(key0, key1);
        const int32_t whole = length & ~7;
        for (int32_t at = 0; at < whole; at += 8) state.Absorb(Word(bytes + at));
        // The last word holds the bytes left over and, in its top byte, the length: strings
        // that differ only in trailing zero bytes do not meet.
        const uint64_t last = Tail(bytes + whole, length - whole) |
                              static_cast<uint64_t>(static_cast<uint8_t>(length)) << 56;
        state.Absorb(last);
        return state.Finish();
    }

private:
    // The four words of SipHash's state.
    struct State {
        State(uint64_t k0, uint64_t k1)
            : v0(k0 ^ 0x736f6d6570736575u), v1(k1 ^ 0x646f72616e646f6du),
              v2(k0 ^ 0x6c7967656e657261u), v3(k1 ^ 0x7465646279746573u) {}

        void Absorb(uint64_t word) {
            v3 ^= word;
            Round();
            v0 ^= word;
        }
        uint64_t Finish() {
            v2 ^= 0xffu;
            Round();
            Round();
            Round();
            return v0 ^ v1 ^ v2 ^ v3;
        }
        void Round() {
            v0 += v1;
            v1 = Rotate(v1, 13) ^ v0;
            v0 = Rotate(v0, 32);
            v2 += v3;
            v3 = Rotate(v3, 16) ^ v2;
            v0 += v3;
            v3 = Rotate(v3, 21) ^ v0;
            v2 += v1;
            v1 = Rotate(v1, 17) ^ v2;
            v2 = Rotate(v2, 32);
        }
        static uint64_t Rotate(uint64_t word, int bits) {
            return word << bits | word >> (64 - bits);
        }

        uint64_t v0, v1, v2, v3;
    };

    // 8 bytes as a word, in the machine's byte order (SipHash's own on little-endian ones): a
    // hash need only agree with itself within one process.
    static uint64_t Word(const char* bytes) {
        uint64_t word;
        std::memcpy(&word, bytes, 8);
        return word;
    }
    // The last 0 to 7 bytes as a word, the first in its lowest byte, as SipHash packs them,
    // without a library call for a copy of unknown length: from two 4-byte pieces that may
    // overlap, or from the first, middle and last of up to three bytes. (A packing of its own,
    // the second piece whole in the high half, left SipHash's results far from even.)
    static uint64_t Tail(const char* bytes, int32_t count) {
        if (count >= 4) {
            uint32_t low;
            uint32_t high;
            std::memcpy(&low, bytes, 4);
            std::memcpy(&high, bytes + count - 4, 4);
            return low | (uint64_t{high} >> (8 * (8 - count))) << 32;
        }
        if (count == 0) return 0;
        const auto byte = [bytes](int32_t at) {
            return static_cast<uint64_t>(static_cast<uint8_t>(bytes[at])) << (8 * at);
        };
        return byte(0) | byte(count / 2) | byte(count - 1);
    }

    uint64_t key0;
    uint64_t key1;
};

}  // namespace DS

#endif  // MARLLIB_DS_KEYED_HASH_H
