// DS::HeapBlocks: byte blocks taken from the heap one by one, given back one by one, and all
// freed together with their owner.
//
// An arena keeps what it hands out until it goes, which suits bytes that live as long as
// their document. A tag's value can be replaced any number of times, so the bytes of a
// replaced value must go at once: they come from here. The owner of the blocks is this object,
// not the tag that points at them, so a tag needs no destructor and a document need not visit
// its tags when it goes.
#ifndef MARLLIB_DS_HEAP_BLOCKS_H
#define MARLLIB_DS_HEAP_BLOCKS_H

#include <cstddef>
#include <cstdint>
#include <new>

namespace DS {

class HeapBlocks {
public:
    HeapBlocks() = default;
    ~HeapBlocks() {
        while (newest != nullptr) {
            Link* const older = newest->older;
            ::operator delete(newest);
            newest = older;
        }
    }
    HeapBlocks(const HeapBlocks&) = delete;
    HeapBlocks& operator=(const HeapBlocks&) = delete;

    // A block of size bytes, not initialised, held until Give or the end of this object.
    // Throws std::bad_alloc when no memory can be had; nothing is changed then.
    char* Take(std::size_t size) {
        if (size > SIZE_MAX - sizeof(Link)) throw std::bad_alloc();
        auto* const link = static_cast<Link*>(::operator new(sizeof(Link) + size));
        link->older = newest;
        link->newer = nullptr;
        if (newest != nullptr) newest->newer = link;
        newest = link;
        return reinterpret_cast<char*>(link + 1);
    }

    // Frees a block that Take of this object handed out (nothing for null).
    void Give(char* bytes) noexcept {
        if (bytes == nullptr) return;
        Link* const link = reinterpret_cast<Link*>(bytes) - 1;
        if (link->newer != nullptr) link->newer->older = link->older;
        if (link->older != nullptr) link->older->newer = link->newer;
        if (link == newest) newest = link->older;
        ::operator delete(link);
    }

private:
    // In front of every block's bytes: its neighbours in the list of blocks held.
    struct Link {
        Link* older;
        Link* newer;
    };

    Link* newest = nullptr;
};

}  // namespace DS

#endif  // MARLLIB_DS_HEAP_BLOCKS_H
