// Running out of memory: the k-th allocation of an operation throws std::bad_alloc, for every
// k that the operation reaches. Each time the exception must reach the caller, the registry's
// handles and every document must be exactly as before, and nothing may leak; a search by
// name, which may make a name index, must instead answer as it does with memory.
//
// This program replaces the global operator new and delete to count and fail allocations,
// so it is a program of its own: the library's other tests never see the hook. The same count
// of bytes shows that the tables grow in time and memory linear in the input.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "marllib.h"
#include "marllib.hpp"
#include "marllib_file.hpp"
#include "marllib_load.h"

// ---- The allocation hook ----

namespace {

// Plain integers, zero before any constructor runs, so allocations made during static
// initialisation are counted like any other.
struct Hook {
    long long live;       // allocations of the whole program not yet freed
    long long liveBytes;  // the bytes they hold
    long long made;       // allocations since Arm
    long long failAt;     // the allocation (counted from 1) that throws; 0: none
    bool failOn;          // and so does every one after it
    long long bytes;      // bytes asked for since Arm
    long long peakBytes;  // the most liveBytes held since Arm
    bool armed;
};
Hook hook;

// In front of every block: its size, so that a free can count the bytes it gives back. As
// large as malloc's alignment, so that the block behind it stays aligned as malloc's are.
constexpr std::size_t kHeader = alignof(std::max_align_t);
// New memory holds this byte, never zero: code that counts on new memory being cleared fails
// here in every build, not only where the allocator happens to hand out used memory.
constexpr unsigned char kScribble = 0xA5;

void* Allocate(std::size_t size) {
    if (hook.armed && (++hook.made == hook.failAt || (hook.failOn && hook.made > hook.failAt))) {
        throw std::bad_alloc();
    }
    if (hook.armed) hook.bytes += static_cast<long long>(size);
    if (size > SIZE_MAX - kHeader) throw std::bad_alloc();
    auto* const block = static_cast<unsigned char*>(std::malloc(kHeader + size));
    if (block == nullptr) throw std::bad_alloc();
    std::memcpy(block, &size, sizeof size);
    std::memset(block + kHeader, kScribble, size);
    ++hook.live;
    hook.liveBytes += static_cast<long long>(size);
    if (hook.armed && hook.liveBytes > hook.peakBytes) hook.peakBytes = hook.liveBytes;
    return block + kHeader;
}

void Release(void* bytes) noexcept {
    if (bytes == nullptr) return;
    unsigned char* const block = static_cast<unsigned char*>(bytes) - kHeader;
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    --hook.live;
    hook.liveBytes -= static_cast<long long>(size);
    std::free(block);
}

void* AllocateOrNull(std::size_t size) noexcept {
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size);
}
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, std::size_t) noexcept { Release(block); }
void operator delete[](void* block, std::size_t) noexcept { Release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Release(block); }

namespace {

void Arm(long long failAt) {
    hook.made = 0;
    hook.bytes = 0;
    hook.peakBytes = hook.liveBytes;
    hook.failAt = failAt;
    hook.failOn = false;
    hook.armed = true;
}

// Arm, with every allocation failing: no memory can be had at all.
void ArmNoMemory() {
    Arm(1);
    hook.failOn = true;
}

// Stops failing and counting; returns the number of allocations made while armed.
long long Disarm() {
    hook.armed = false;
    return hook.made;
}

// ---- What the registry holds, read through the exports alone ----

void AppendNumber(std::string& out, long long number) {
    out += std::to_string(number);
    out += ' ';
}

// Every document of the registry: every tag's full 64-byte name field, name length, kind or
// collection and value, and every collection's list, the unreferenced ones included.
std::string Registry() {
    std::string out;
    for (int32_t handle = 0; marllib_GetTags(handle, MARLLIB_ROOT, nullptr, 0) >= 0; ++handle) {
        out += "document ";
        AppendNumber(out, handle);
        char name[MARLLIB_NAME_MAX];
        for (int32_t tag = 0;; ++tag) {
            const int32_t nameLength = marllib_GetName(handle, tag, name);
            if (nameLength < 0) break;
            out += "\ntag ";
            AppendNumber(out, nameLength);
            out.append(name, sizeof name);
            AppendNumber(out, marllib_GetCollection(handle, tag));
            const int32_t valueLength = marllib_GetValue(handle, tag, nullptr, 0);
            AppendNumber(out, valueLength);
            if (valueLength > 0) {
                std::string value(static_cast<size_t>(valueLength), '\0');
                marllib_GetValue(handle, tag, &value[0], valueLength);
                out += value;
            }
        }
        for (int32_t collection = MARLLIB_ROOT;; ++collection) {
            const int32_t count = marllib_GetTags(handle, collection, nullptr, 0);
            if (count < 0) break;
            out += "\ncollection ";
            AppendNumber(out, collection);
            std::vector<int32_t> tags(static_cast<size_t>(count));
            marllib_GetTags(handle, collection, tags.data(), count);
            for (const int32_t tag : tags) AppendNumber(out, tag);
        }
        out += '\n';
    }
    return out;
}

// ---- The sweep over every failure point ----

struct Outcome {
    long long failurePoints = 0;  // allocations the operation makes, each failed once
    int32_t result = 0;           // the operation's result when no allocation failed
};

// For k = 1, 2, ...: builds the registry with setup, fails the k-th allocation of operation
// and checks the strong guarantee, until operation makes fewer than k allocations and
// succeeds. Returns the number of allocations that were failed, and the result of the run
// that succeeded (whose effects are checked by the caller's comparison with `changed`).
// With answers, for a search by name, the operation must instead throw nothing where
// allocation k fails and give the answer it gives with memory, then and when run once more.
Outcome EveryFailure(const std::function<void()>& setup,
                     const std::function<int32_t()>& operation, bool answers = false) {
    Outcome outcome;
    int32_t answer = 0;
    if (answers) {
        setup();
        answer = operation();
    }
    const bool failedBefore = ::testing::Test::HasFailure();
    for (long long k = 1;; ++k) {
        marllib_Close();
        const long long baseline = hook.live;
        bool threw = false;
        bool unchanged = false;
        long long made = 0;
        {
            setup();
            const std::string before = Registry();
            Arm(k);
            try {
                outcome.result = operation();
            } catch (const std::bad_alloc&) {
                threw = true;
            }
            made = Disarm();
            unchanged = Registry() == before;
            if (answers) {
                EXPECT_EQ(outcome.result, answer) << "allocation " << k << " failed";
                EXPECT_EQ(operation(), answer) << "the run after allocation " << k << " failed";
            }
        }
        marllib_Close();
        const long long leaked = hook.live - baseline;
        if (answers ? made < k : !threw) {
            EXPECT_LT(made, k) << "allocation " << k << " was made and did not fail";
            EXPECT_EQ(leaked, 0) << "after a successful run";
            outcome.failurePoints = k - 1;
            return outcome;
        }
        if (answers) {
            EXPECT_FALSE(threw) << "allocation " << k << " failed and the search threw";
        } else {
            EXPECT_EQ(made, k) << "the operation went on after allocation " << k << " failed";
        }
        EXPECT_TRUE(unchanged) << "allocation " << k << " failed and the registry changed";
        EXPECT_EQ(leaked, 0) << "allocation " << k << " failed and memory leaked";
        if (!failedBefore && ::testing::Test::HasFailure()) return outcome;  // one report
    }
}

// Text that takes every road of a load: containers nested deeper than the builder's first
// stack sizes, leaves with and without values, doubled quotes, escaped names, a name cut to
// 64 bytes, malformed tags, a closing tag with nothing open and a container left open; and
// enough of it (some 40 kB) that every table and block of memory grows several times.
std::string Text() {
    std::string text =
        "</>\n"
        "<config>\n"
        "  <name=\"marl \"\"demo\"\"\">\n"
        "  <a\x80" "1b/>\n"
        "  <empty=\"\">\n"
        "  <one><two><three><four><five><six><leaf=\"deep\"></></></></></></>\n"
        "  </broken>\n"
        "  <bad/x>\n"
        "  <" + std::string(80, 'n') + "=\"long name\">\n"
        "</>\n";
    text += "<many>\n";
    for (int i = 0; i < 500; ++i) {
        text += "  <item" + std::to_string(i) + "=\"" + std::string(static_cast<size_t>(i % 97), 'v') +
                "\">\n";
    }
    text += "</>\n";
    for (int i = 0; i < 40; ++i) text += "<level" + std::to_string(i) + ">\n";
    text += "<x=\"1\">\n<y=\"2\">\n";  // and all forty left open
    return text;
}
const std::string kText = Text();

// Two more documents that every operation must leave alone.
void TwoDocuments() {
    ASSERT_GE(marllib_Load(kText.data(), static_cast<int32_t>(kText.size())), 0);
    const int32_t solo = marllib_Create();
    ASSERT_EQ(marllib_AddTag(solo, MARLLIB_ROOT, "solo", 4, true), 0);
}

std::string FileWith(const std::string& text) {
    const std::string path = ::testing::TempDir() + "marllib_allocation_failure.marl";
    FILE* const file = std::fopen(path.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    if (file != nullptr) {
        EXPECT_EQ(std::fwrite(text.data(), 1, text.size(), file), text.size());
        std::fclose(file);
    }
    return path;
}

long long totalFailurePoints = 0;

// Prints the number of failure points of one operation, and the running total.
void Report(const char* operation, const Outcome& outcome) {
    totalFailurePoints += outcome.failurePoints;
    std::printf("%s: %lld allocation failures survived (%lld in this program so far)\n",
                operation, outcome.failurePoints, totalFailurePoints);
    ::testing::Test::RecordProperty("failure_points", std::to_string(outcome.failurePoints));
}

class AllocationFailure : public ::testing::Test {
protected:
    void TearDown() override { marllib_Close(); }
};

TEST_F(AllocationFailure, CreateRegistersAllOrNothing) {
    // The registry of two documents has no room for a third: the document, then a new array.
    const Outcome outcome = EveryFailure(TwoDocuments, [] { return marllib_Create(); });
    EXPECT_EQ(outcome.result, 2);
    EXPECT_GE(outcome.failurePoints, 1);
    Report("marllib_Create", outcome);

    const Outcome first = EveryFailure([] {}, [] { return marllib_Create(); });
    EXPECT_EQ(first.result, 0);
    EXPECT_GE(first.failurePoints, 1);
    Report("marllib_Create on an empty registry", first);
}

TEST_F(AllocationFailure, LoadFromMemoryRegistersAllOrNothing) {
    const Outcome outcome = EveryFailure(TwoDocuments, [] {
        return marllib_Load(kText.data(), static_cast<int32_t>(kText.size()));
    });
    EXPECT_EQ(outcome.result, 2);
    EXPECT_GE(outcome.failurePoints, 1);
    Report("marllib_Load from memory", outcome);
}

TEST_F(AllocationFailure, LoadFromFileRegistersAllOrNothing) {
    const std::string path = FileWith(kText);
    const Outcome outcome =
        EveryFailure(TwoDocuments, [&path] { return marllib_Load(path.c_str(), 0); });
    EXPECT_EQ(outcome.result, 2);
    EXPECT_GE(outcome.failurePoints, 1);
    Report("marllib_Load from a file", outcome);
    std::remove(path.c_str());
}

// A document whose tag table and collection table are both full (4 tags, 2 collections), so
// one more container grows each of them.
void FullTables() {
    ASSERT_EQ(marllib_Create(), 0);
    ASSERT_EQ(marllib_AddTag(0, MARLLIB_ROOT, "outer", 5, false), 0);
    ASSERT_EQ(marllib_AddTag(0, 0, "inner", 5, false), 1);
    ASSERT_EQ(marllib_AddTag(0, 0, "leaf", 4, true), 2);
    ASSERT_EQ(marllib_AddTag(0, 1, "deep", 4, true), 3);
    ASSERT_TRUE(marllib_SetValue(0, 3, "value", 5));
    TwoDocuments();  // handles 1 and 2 this time
}

TEST_F(AllocationFailure, AddTagAddsAllOrNothing) {
    // The new container and its tag, and room in the collection table and the tag table.
    const Outcome container =
        EveryFailure(FullTables, [] { return marllib_AddTag(0, 0, "new", 3, false); });
    EXPECT_EQ(container.result, 4);
    EXPECT_GE(container.failurePoints, 1);
    Report("marllib_AddTag of a container into full tables", container);

    const Outcome leaf =
        EveryFailure(FullTables, [] { return marllib_AddTag(0, 1, "x", 1, true); });
    EXPECT_EQ(leaf.result, 4);
    EXPECT_GE(leaf.failurePoints, 1);  // room in the tag table
    Report("marllib_AddTag of a leaf", leaf);

    // A container refused for its name still adds its collection; that is all or nothing
    // too (room in the collection table, and the collection).
    const Outcome refused =
        EveryFailure(FullTables, [] { return marllib_AddTag(0, 0, "", 0, false); });
    EXPECT_EQ(refused.result, MARLLIB_ADDTAG_BAD_NAME);
    EXPECT_GE(refused.failurePoints, 1);
    Report("marllib_AddTag of a container refused for its name", refused);
}

TEST_F(AllocationFailure, SettersKeepTheOldOrSetTheNew) {
    const std::string value(1000, 'v');
    const Outcome outcome = EveryFailure(FullTables, [&value] {
        return marllib_SetValue(0, 3, value.data(), static_cast<int32_t>(value.size())) ? 1 : 0;
    });
    EXPECT_EQ(outcome.result, 1);
    EXPECT_GE(outcome.failurePoints, 1);
    Report("marllib_SetValue", outcome);

    // A rename may or may not allocate; whatever it allocates is all or nothing too.
    const Outcome renamed = EveryFailure(FullTables, [] {
        return marllib_SetName(0, 2, "a longer name than before", 25) ? 1 : 0;
    });
    EXPECT_EQ(renamed.result, 1);
    Report("marllib_SetName", renamed);

    // The field a longer name takes is new, scribbled memory: past the name it reads as zeros.
    FullTables();
    ASSERT_TRUE(marllib_SetName(0, 2, "a longer name than before", 25));
    char field[MARLLIB_NAME_MAX];
    ASSERT_EQ(marllib_GetName(0, 2, field), 25);
    EXPECT_EQ(std::string(field, 25), "a longer name than before");
    EXPECT_EQ(std::string(field + 25, sizeof field - 25), std::string(sizeof field - 25, '\0'));
    marllib_Close();

    // A replaced value is freed when it is replaced, not when the document goes: 500 values
    // of 1 MiB in turn hold one of them at a time.
    FullTables();
    const std::string mebibyte(1 << 20, 'm');
    const long long before = hook.liveBytes;
    for (int round = 0; round < 500; ++round) {
        ASSERT_TRUE(marllib_SetValue(0, 3, mebibyte.data(), static_cast<int32_t>(mebibyte.size())));
        ASSERT_TRUE(marllib_SetName(0, 3, round % 2 == 0 ? "d" : std::string(64, 'd').c_str(),
                                    round % 2 == 0 ? 1 : 64));
    }
    EXPECT_LE(hook.liveBytes - before, (1 << 20) + 4096);  // the last value, and its name
}

int32_t AddLeaf(int32_t collection, const std::string& name) {
    return marllib_AddTag(0, collection, name.data(), static_cast<int32_t>(name.size()), true);
}

// FullTables, and in document 0's root 40 leaves more, tags 4 to 43, named n0 to n19 twice
// over: enough for the searches of the root to go through a name index.
void Searchable() {
    FullTables();
    for (int32_t i = 0; i < 40; ++i) {
        ASSERT_EQ(AddLeaf(MARLLIB_ROOT, "n" + std::to_string(i % 20)), 4 + i);
    }
}

void ExpectRootSearchesAnswer() {
    int32_t found[3] = {-9, -9, -9};
    EXPECT_EQ(marllib_GetTagsByName(0, MARLLIB_ROOT, "n5", 2, found, 3), 2);
    EXPECT_EQ(found[0], 9);
    EXPECT_EQ(found[1], 29);
    EXPECT_EQ(found[2], -9);
    EXPECT_EQ(marllib_GetTagByName(0, MARLLIB_ROOT, "n5", 2), 9);
    EXPECT_EQ(marllib_GetTagByName(0, MARLLIB_ROOT, "n20", 3), MARLLIB_GETTAGBYNAME_NOT_FOUND);
}

// Queries but searches never allocate, and neither do searches of a small collection, which
// walk it. A search of a larger one makes its name index, and where no memory can be had at
// all it still answers, by walking, throws nothing and changes nothing that can be seen.
TEST_F(AllocationFailure, QueriesAnswerWithoutMemory) {
    Searchable();
    char name[MARLLIB_NAME_MAX];
    char value[8];
    int32_t tags[8];
    Arm(1);  // the first allocation would throw
    EXPECT_EQ(marllib_GetName(0, 0, name), 5);
    EXPECT_EQ(marllib_GetValue(0, 3, value, 8), 5);
    EXPECT_EQ(marllib_GetTags(0, 0, tags, 8), 2);
    EXPECT_EQ(marllib_GetTagsByName(0, 0, "leaf", 4, tags, 8), 1);
    EXPECT_EQ(marllib_GetTagByName(0, 0, "inner", 5), 1);
    EXPECT_EQ(marllib_GetCollection(0, 1), 1);
    EXPECT_TRUE(marllib_SetValue(0, 3, "x", 0));  // no bytes to keep
    EXPECT_EQ(marllib_Load(nullptr, 0), MARLLIB_LOAD_UNREADABLE);  // no file to read
    EXPECT_EQ(Disarm(), 0);

    const std::string before = Registry();
    ArmNoMemory();
    ExpectRootSearchesAnswer();
    EXPECT_GE(Disarm(), 1);  // the searches tried to make the index
    EXPECT_EQ(Registry(), before);

    // With memory the index is made; a rename lets its tags go, and with no memory again the
    // index takes them back in the room it has, under their names of now.
    ExpectRootSearchesAnswer();
    ASSERT_TRUE(marllib_SetName(0, 9, "n6", 2));
    ArmNoMemory();
    EXPECT_EQ(marllib_GetTagByName(0, MARLLIB_ROOT, "n5", 2), 29);
    EXPECT_EQ(marllib_GetTagByName(0, MARLLIB_ROOT, "n6", 2), 9);
    EXPECT_EQ(Disarm(), 0);
}

// The tags that both searches find, as one number (unsigned, so that it wraps).
int32_t Found(int32_t collection, const char* name, int32_t length) {
    int32_t found[4] = {};
    const auto bits = [](int32_t n) { return static_cast<uint32_t>(n); };
    uint32_t digest = bits(marllib_GetTagsByName(0, collection, name, length, found, 4));
    for (const int32_t tag : found) digest = digest * 64 + bits(tag);
    return static_cast<int32_t>(digest * 64 + bits(marllib_GetTagByName(0, collection, name, length)));
}

TEST_F(AllocationFailure, SearchesAnswerWhereTheirIndexCannotBeMade) {
    // The first index of a document: the document's indexes, their table, the collection's
    // index, its slots and its rings.
    const Outcome first =
        EveryFailure(Searchable, [] { return Found(MARLLIB_ROOT, "n7", 2); }, true);
    EXPECT_GE(first.failurePoints, 4);
    Report("the first search of a collection", first);

    // An index that must grow: 200 tags, names shared, added since it was made.
    const auto grown = [] {
        Searchable();
        ASSERT_EQ(marllib_GetTagByName(0, MARLLIB_ROOT, "n7", 2), 11);
        for (int32_t i = 0; i < 200; ++i) AddLeaf(MARLLIB_ROOT, "n" + std::to_string(i % 30));
    };
    const Outcome growth =
        EveryFailure(grown, [] { return Found(MARLLIB_ROOT, "n25", 3); }, true);
    EXPECT_GE(growth.failurePoints, 1);
    Report("a search whose index grows", growth);

    // A fifth index in one document, for which the table of indexes grows.
    const auto fourIndexed = [] {
        ASSERT_EQ(marllib_Create(), 0);
        for (int32_t c = 0; c < 5; ++c) {
            marllib_AddTag(0, MARLLIB_ROOT, "box", 3, false);
            for (int32_t i = 0; i < 10; ++i) AddLeaf(c, "in");
            if (c < 4) marllib_GetTagByName(0, c, "in", 2);
        }
    };
    const Outcome fifth = EveryFailure(fourIndexed, [] { return Found(4, "in", 2); }, true);
    EXPECT_GE(fifth.failurePoints, 2);
    Report("a search that makes a document's fifth index", fifth);
}

// A collection's name index takes 8 bytes a tag, and 8 more (up to 16, as their room doubles)
// for each tag that shares its name.
TEST_F(AllocationFailure, NameIndexesTakeEightBytesATag) {
    constexpr int32_t kTags = 1 << 16;
    constexpr long long kFixed = 1024;  // the document's indexes and the index itself
    for (const bool shared : {false, true}) {
        ASSERT_EQ(marllib_Create(), 0);
        for (int32_t i = 0; i < kTags; ++i) {
            AddLeaf(MARLLIB_ROOT, shared ? "k" : "k" + std::to_string(i));
        }
        const long long before = hook.liveBytes;
        ASSERT_EQ(marllib_GetTagByName(0, MARLLIB_ROOT, "k1", 2), shared ? -1 : 1);
        EXPECT_LE(hook.liveBytes - before, (shared ? 24 : 8) * kTags + kFixed) << shared;
        marllib_Close();
    }
}

// A path's tag is found through each collection's name index, or by walking the collection
// to it: besides the index, nothing in proportion to the collection is made, however many
// entries follow the match.
TEST_F(AllocationFailure, PathsFindTheirTagWithoutCopyingTheCollection) {
    const marl::Document doc = marl::Document::create();
    for (int i = 0; i < 100000; ++i) marllib_AddTag(doc.handle(), MARLLIB_ROOT, "k", 1, true);
    // The name index that the collection's first search makes (its bytes are bounded below).
    ASSERT_EQ(marllib_GetTagByName(doc.handle(), MARLLIB_ROOT, "k", 1), 0);
    Arm(0);
    EXPECT_EQ(doc.at("k"), marl::tag(0));
    EXPECT_EQ(doc.at("k[3]"), marl::tag(2));
    EXPECT_EQ(doc.at("k[100001]"), std::nullopt);
    Disarm();
    EXPECT_LE(hook.bytes, 4096);
    marllib_Close();
}

// A file whose size is known is read into one buffer of that size and no other: a file of
// 1 GB costs 1 GB, not the 2 GB of a copy or of a room that doubles at its end.
TEST_F(AllocationFailure, AFileOfKnownSizeIsReadIntoOneBuffer) {
    const std::string text(4 << 20, 'x');
    const std::string path = FileWith(text);
    marl::file_bytes bytes;
    const long long before = hook.liveBytes;
    Arm(0);
    const int error = marl::read_file(path.c_str(), bytes);
    Disarm();
    std::remove(path.c_str());
    ASSERT_EQ(error, 0);
    EXPECT_EQ(std::string(bytes.data(), bytes.size()), text);
    constexpr long long kSlack = 4096;  // the byte past the end that tells the end, and no more
    EXPECT_LE(hook.peakBytes - before, static_cast<long long>(text.size()) + kSlack);
}

// ---- Growth linear in the input ----

std::string Repeat(const std::string& piece, int32_t times) {
    std::string text;
    for (int32_t i = 0; i < times; ++i) text += piece;
    return text;
}

// Nesting that climbs to one below each power of two up to 2^13 and there goes `swings` times
// two levels up and back, so that the builder's and the printer's stacks cross every power
// of two again and again.
std::string Crossings(int32_t swings) {
    std::string text;
    for (int32_t depth = 1; depth < (1 << 14); depth *= 2) {
        text += Repeat("<a>\n", depth / 2) + Repeat("<b>\n<c>\n</>\n</>\n", swings);
    }
    return text;
}

// Every table's array (the document's tables of tags and collections, and the printer's frame
// stack) comes from operator new, and a grown table copies fewer bytes than its new array
// holds. So the bytes that loading and printing ask of operator new bound what table growth
// allocates and copies. A table that reallocated on every append at some size would ask for
// bytes in proportion to that size for each tag there: about 6 GB for the siblings at depth
// 2^14 below, against some 200 kB of text.
TEST_F(AllocationFailure, LoadAndPrintAllocateLinearlyInTheInput) {
    // Tags, collections and table entries take well under this many bytes per input byte
    // (a tag is at least four bytes of text), with the arena's blocks at most twice what
    // they hold; the constant covers the first blocks of a small document.
    constexpr long long kBytesPerInputByte = 64;
    constexpr long long kFixedBytes = 1 << 20;
    const auto linear = [](const std::string& text) {
        return kBytesPerInputByte * static_cast<long long>(text.size()) + kFixedBytes;
    };
    // Text dense with '<' that holds no tag at all: the load reserves its tables from a count
    // of the '<', which may be no more than a tag record and a collection record for every
    // four bytes of text (the shortest tag); the constant covers the document itself.
    const auto reserved = [](const std::string& text) {
        constexpr long long kRecords = sizeof(MarlClass::Tag) + sizeof(MarlClass::Collection);
        return kRecords * static_cast<long long>(text.size()) / 4 + (4 << 10);
    };
    const struct {
        const char* shape;
        std::string text;
        long long (*most)(const std::string& text);  // the bytes its load and print may ask for
    } shapes[] = {
        {"siblings at depth 2^14", Repeat("<a>\n", 1 << 14) + Repeat("<x>\n</>\n", 1 << 14),
         linear},
        {"siblings at depth 2^14 - 1",
         Repeat("<a>\n", (1 << 14) - 1) + Repeat("<x>\n</>\n", 1 << 14), linear},
        {"swings across every power of two up to 2^13", Crossings(1 << 10), linear},
        {"2^20 leaves in the root collection", Repeat("<x/>\n", 1 << 20), linear},
        {"1 MB of '<'", std::string(1 << 20, '<'), reserved},
        {"\"<a\" 2^19 times", Repeat("<a", 1 << 19), reserved},
    };
    for (const auto& shape : shapes) {
        FILE* const sink = std::tmpfile();
        ASSERT_NE(sink, nullptr);
        Arm(0);
        {
            const auto document =
                MarlLib::LoadText(shape.text.data(), static_cast<int32_t>(shape.text.size()));
            document->Print(sink);
        }
        Disarm();
        std::fclose(sink);
        EXPECT_LE(hook.bytes, shape.most(shape.text))
            << shape.shape << ": " << shape.text.size() << " bytes of text";
    }
}

// The sweep itself must notice a broken guarantee: an operation that changes the registry
// before it allocates, or leaks what it allocated, fails it.
TEST_F(AllocationFailure, SweepDetectsAChangeAndALeak) {
    ::testing::TestPartResultArray failures;
    {
        ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD,
            &failures);
        EveryFailure(FullTables, [] {
            marllib_SetName(0, 0, "changed", 7);
            return marllib_Create();
        });
    }
    ASSERT_GE(failures.size(), 1);
    EXPECT_NE(std::string(failures.GetTestPartResult(0).message()).find("registry changed"),
              std::string::npos);

    // The blocks that the second operation loses, freed once the sweep has seen them lost.
    static char* lost[64];
    static int lostCount = 0;
    ::testing::TestPartResultArray leaks;
    {
        ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &leaks);
        EveryFailure([] {}, [] {
            if (lostCount < 64) lost[lostCount++] = new char[16];
            return marllib_Create();
        });
    }
    while (lostCount > 0) delete[] lost[--lostCount];
    ASSERT_GE(leaks.size(), 1);
    EXPECT_NE(std::string(leaks.GetTestPartResult(0).message()).find("leaked"),
              std::string::npos);
}

}  // namespace
