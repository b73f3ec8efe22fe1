// Drives the twelve exported functions with a sequence of calls decoded from the input:
// arbitrary handles, tag and collection indices, names, lengths and buffer sizes, within the
// callers' contract (a 64-byte buffer for names, buffers of at least `max` entries, counted
// bytes that are really there). Every answer is checked against a plain model of the
// registry, and calls must never write past what they report.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "check.h"
#include "marllib.h"

namespace {

// ---- The input, read as a stream of choices ----

class Input {
public:
    Input(const uint8_t* data, size_t size) : data(data), size(size) {}

    bool Empty() const { return position >= size; }
    uint8_t Byte() { return Empty() ? 0 : data[position++]; }

    int32_t Int32() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
        return static_cast<int32_t>(value);
    }

    // Mostly a number near the interesting range lo..hi, now and then anything at all.
    int32_t Near(int32_t lo, int32_t hi) {
        const uint8_t choice = Byte();
        if (choice >= 250) {
            static const int32_t kExtremes[] = {std::numeric_limits<int32_t>::min(),
                                                std::numeric_limits<int32_t>::max(), -1000};
            return choice == 255 ? Int32() : kExtremes[choice % 3];
        }
        const int64_t span = static_cast<int64_t>(hi) - lo + 1;
        return static_cast<int32_t>(lo + static_cast<int64_t>(choice) % span);
    }

    // Up to `most` bytes of the input.
    std::string Bytes(size_t most) {
        const size_t count = std::min<size_t>(std::min<size_t>(Byte(), most), size - std::min(size, position));
        std::string bytes(reinterpret_cast<const char*>(data) + position, count);
        position += count;
        return bytes;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t position = 0;
};

// ---- The model ----

struct Tag {
    std::array<char, MARLLIB_NAME_MAX> field{};  // the whole name field, as GetName copies it
    int32_t nameLength = 0;
    bool leaf = false;
    int32_t collection = -1;
    int32_t valueLength = 0;
    std::string value;  // the value bytes held; empty when none
};

struct Document {
    std::vector<Tag> tags;
    std::vector<std::vector<int32_t>> collections;
    std::vector<int32_t> root;

    bool HasCollection(int32_t c) const {
        return c >= -1 && c < static_cast<int32_t>(collections.size());
    }
    const std::vector<int32_t>& Collection(int32_t c) const {
        return c == -1 ? root : collections[static_cast<size_t>(c)];
    }
    bool HasTag(int32_t t) const { return t >= 0 && t < static_cast<int32_t>(tags.size()); }
};

constexpr size_t kMaxDocuments = 6;
constexpr size_t kMaxTags = 300;
constexpr size_t kMaxText = 200;
constexpr int32_t kMaxBuffer = 4096;
constexpr char kSentinel = '\x5a';
constexpr int32_t kSentinelIndex = -12345;

std::vector<Document> documents;

// Reads document `handle` whole through the exports, checking only what holds for any
// document.
Document ReadBack(int32_t handle) {
    Document document;
    for (int32_t t = 0;; ++t) {
        Tag tag;
        tag.nameLength = marllib_GetName(handle, t, tag.field.data());
        if (tag.nameLength == MARLLIB_GETNAME_NO_TAG) break;
        FUZZ_CHECK(tag.nameLength >= 1 && tag.nameLength <= MARLLIB_NAME_MAX);
        const int32_t collection = marllib_GetCollection(handle, t);
        tag.leaf = collection == MARLLIB_GETCOLLECTION_LEAF;
        tag.collection = tag.leaf ? -1 : collection;
        FUZZ_CHECK(tag.leaf || collection >= 0);
        tag.valueLength = marllib_GetValue(handle, t, nullptr, 0);
        if (tag.leaf && tag.valueLength > 0) {
            tag.value.resize(static_cast<size_t>(tag.valueLength));
            marllib_GetValue(handle, t, &tag.value[0], tag.valueLength);
        }
        FUZZ_CHECK(tag.leaf || tag.valueLength == MARLLIB_GETVALUE_CONTAINER);
        if (!tag.leaf) tag.valueLength = 0;
        document.tags.push_back(tag);
    }
    for (int32_t c = -1;; ++c) {
        const int32_t count = marllib_GetTags(handle, c, nullptr, 0);
        if (count < 0) {
            FUZZ_CHECK(count == MARLLIB_GETTAGS_NO_COLLECTION);
            break;
        }
        std::vector<int32_t> list(static_cast<size_t>(count));
        FUZZ_CHECK(marllib_GetTags(handle, c, list.data(), count) == count);
        for (const int32_t t : list) FUZZ_CHECK(document.HasTag(t));
        if (c == -1) {
            document.root = list;
        } else {
            document.collections.push_back(list);
        }
    }
    return document;
}

void CheckSame(const Document& model, const Document& real) {
    FUZZ_CHECK(model.tags.size() == real.tags.size());
    for (size_t i = 0; i < model.tags.size(); ++i) {
        const Tag& a = model.tags[i];
        const Tag& b = real.tags[i];
        FUZZ_CHECK(a.field == b.field);
        FUZZ_CHECK(a.nameLength == b.nameLength);
        FUZZ_CHECK(a.leaf == b.leaf);
        FUZZ_CHECK(a.collection == b.collection);
        FUZZ_CHECK(a.valueLength == b.valueLength);
        FUZZ_CHECK(a.value == b.value);
    }
    FUZZ_CHECK(model.root == real.root);
    FUZZ_CHECK(model.collections == real.collections);
}

// ---- Choosing arguments ----

int32_t ChooseHandle(Input& in) {
    return in.Near(-2, static_cast<int32_t>(documents.size()));
}

const Document* Model(int32_t handle) {
    if (handle < 0 || handle >= static_cast<int32_t>(documents.size())) return nullptr;
    return &documents[static_cast<size_t>(handle)];
}

int32_t ChooseTag(Input& in, const Document* document) {
    const auto count = static_cast<int32_t>(document ? document->tags.size() : 0);
    return in.Near(-2, count);
}

int32_t ChooseCollection(Input& in, const Document* document) {
    const auto count = static_cast<int32_t>(document ? document->collections.size() : 0);
    return in.Near(-3, count);
}

// A name: the bytes (always a full 64-byte field, as a caller's name buffer), whether the
// pointer is null, and a length that may be anything.
struct Name {
    std::array<char, MARLLIB_NAME_MAX> bytes{};
    bool null = false;
    int32_t length = 0;
    const char* Pointer() const { return null ? nullptr : bytes.data(); }
};

Name ChooseName(Input& in, const Document* document) {
    Name name;
    const uint8_t how = in.Byte();
    if (how % 4 == 0 && document != nullptr && !document->tags.empty()) {
        // The name of an existing tag, so that searches find something.
        const Tag& tag = document->tags[in.Byte() % document->tags.size()];
        name.bytes = tag.field;
        name.length = tag.nameLength;
        if (how & 0x10) name.bytes[static_cast<size_t>(in.Byte()) % MARLLIB_NAME_MAX] ^= 1;
    } else {
        const std::string bytes = in.Bytes(MARLLIB_NAME_MAX);
        std::memcpy(name.bytes.data(), bytes.data(), bytes.size());
        name.length = static_cast<int32_t>(bytes.size());
    }
    if (how % 8 == 1) name.length = in.Near(-1, MARLLIB_NAME_MAX + 1);
    name.null = how % 16 == 2;
    return name;
}

bool ValidName(const Name& name) {
    return !name.null && name.length >= 1 && name.length <= MARLLIB_NAME_MAX;
}

bool Matches(const Tag& tag, const Name& name) {
    return !name.null && tag.nameLength == name.length &&
           std::memcmp(tag.field.data(), name.bytes.data(), static_cast<size_t>(name.length)) == 0;
}

// A caller's buffer of exactly `max` entries (none for max <= 0 or a null buffer), filled with
// a sentinel.
template <typename T>
std::vector<T> Buffer(int32_t max, bool null, T sentinel) {
    if (null) return {};
    return std::vector<T>(static_cast<size_t>(std::max(max, 0)), sentinel);
}

// ---- The calls ----

void Create() {
    if (documents.size() >= kMaxDocuments) return;
    FUZZ_CHECK(marllib_Create() == static_cast<int32_t>(documents.size()));
    documents.emplace_back();
}

void Load(Input& in) {
    if (documents.size() >= kMaxDocuments) return;
    const std::string text = in.Bytes(kMaxText);
    if (text.empty()) return;  // a length of 0 names a file
    const int32_t handle = marllib_Load(text.data(), static_cast<int32_t>(text.size()));
    FUZZ_CHECK(handle == static_cast<int32_t>(documents.size()));
    documents.push_back(ReadBack(handle));
    for (const Tag& tag : documents.back().tags) FUZZ_CHECK(tag.valueLength >= 0);
}

void AddTag(Input& in) {
    const int32_t handle = ChooseHandle(in);
    Document* const document = const_cast<Document*>(Model(handle));
    const int32_t collection = ChooseCollection(in, document);
    const Name name = ChooseName(in, document);
    const bool leaf = (in.Byte() & 1) != 0;
    if (document != nullptr && document->tags.size() >= kMaxTags) return;

    const int32_t result = marllib_AddTag(handle, collection, name.Pointer(), name.length, leaf);
    if (document == nullptr) {
        FUZZ_CHECK(result == MARLLIB_INVALID_HANDLE);
        return;
    }
    if (collection >= static_cast<int32_t>(document->collections.size())) {
        FUZZ_CHECK(result == MARLLIB_ADDTAG_NO_COLLECTION);
        return;
    }
    if (collection < -1) {
        FUZZ_CHECK(result == MARLLIB_ADDTAG_BELOW_ROOT);
        return;
    }
    Tag tag;
    tag.leaf = leaf;
    if (!leaf) {
        // The container's collection is made before its name is looked at.
        tag.collection = static_cast<int32_t>(document->collections.size());
        document->collections.emplace_back();
    }
    if (!ValidName(name)) {
        FUZZ_CHECK(result == MARLLIB_ADDTAG_BAD_NAME);
        return;
    }
    const auto index = static_cast<int32_t>(document->tags.size());
    FUZZ_CHECK(result == index);
    std::memcpy(tag.field.data(), name.bytes.data(), static_cast<size_t>(name.length));
    tag.nameLength = name.length;
    (collection == -1 ? document->root : document->collections[static_cast<size_t>(collection)])
        .push_back(index);
    document->tags.push_back(tag);
}

void SetName(Input& in) {
    const int32_t handle = ChooseHandle(in);
    Document* const document = const_cast<Document*>(Model(handle));
    const int32_t t = ChooseTag(in, document);
    const Name name = ChooseName(in, document);
    const bool done = marllib_SetName(handle, t, name.Pointer(), name.length);
    if (document == nullptr || !document->HasTag(t) || !ValidName(name)) {
        FUZZ_CHECK(!done);
        return;
    }
    FUZZ_CHECK(done);
    Tag& tag = document->tags[static_cast<size_t>(t)];
    std::memcpy(tag.field.data(), name.bytes.data(), static_cast<size_t>(name.length));
    tag.nameLength = name.length;
}

void SetValue(Input& in) {
    const int32_t handle = ChooseHandle(in);
    Document* const document = const_cast<Document*>(Model(handle));
    const int32_t t = ChooseTag(in, document);
    const uint8_t how = in.Byte();
    std::string bytes;
    const char* pointer = nullptr;
    int32_t length = 0;
    if (how % 4 == 0) {
        length = in.Near(-3, 300);  // a null pointer, with any length
    } else if (how % 4 == 1) {
        pointer = "ignored";  // a negative length: no bytes are read
        length = in.Byte() == 0 ? std::numeric_limits<int32_t>::min() : -(in.Byte() % 11);
    } else {
        bytes = in.Bytes(255);
        pointer = bytes.data();
        length = static_cast<int32_t>(bytes.size());
    }
    const bool done = marllib_SetValue(handle, t, pointer, length);
    if (document == nullptr || !document->HasTag(t) ||
        !document->tags[static_cast<size_t>(t)].leaf) {
        FUZZ_CHECK(!done);
        return;
    }
    FUZZ_CHECK(done);
    Tag& tag = document->tags[static_cast<size_t>(t)];
    tag.valueLength = pointer == nullptr ? 0 : length;
    tag.value = length > 0 && pointer != nullptr ? bytes : std::string();
}

void GetValue(Input& in) {
    const int32_t handle = ChooseHandle(in);
    const Document* const document = Model(handle);
    const int32_t t = ChooseTag(in, document);
    const int32_t max = in.Near(-2, 300);
    // A buffer too large to make is passed as null, which any max allows.
    const bool null = (in.Byte() & 3) == 0 || max > kMaxBuffer;
    std::vector<char> buffer = Buffer(max, null, kSentinel);
    const int32_t result = marllib_GetValue(handle, t, null ? nullptr : buffer.data(), max);
    size_t copied = 0;
    if (document == nullptr) {
        FUZZ_CHECK(result == MARLLIB_INVALID_HANDLE);
    } else if (!document->HasTag(t)) {
        FUZZ_CHECK(result == MARLLIB_GETVALUE_NO_TAG);
    } else if (!document->tags[static_cast<size_t>(t)].leaf) {
        FUZZ_CHECK(result == MARLLIB_GETVALUE_CONTAINER);
    } else {
        const Tag& tag = document->tags[static_cast<size_t>(t)];
        FUZZ_CHECK(result == tag.valueLength);
        if (!null) copied = std::min(buffer.size(), tag.value.size());
        FUZZ_CHECK(copied == 0 || std::memcmp(buffer.data(), tag.value.data(), copied) == 0);
    }
    for (size_t i = copied; i < buffer.size(); ++i) FUZZ_CHECK(buffer[i] == kSentinel);
}

void GetName(Input& in) {
    const int32_t handle = ChooseHandle(in);
    const Document* const document = Model(handle);
    const int32_t t = ChooseTag(in, document);
    const bool null = (in.Byte() & 3) == 0;
    std::array<char, MARLLIB_NAME_MAX> buffer;
    buffer.fill(kSentinel);
    const int32_t result = marllib_GetName(handle, t, null ? nullptr : buffer.data());
    if (document == nullptr || !document->HasTag(t)) {
        FUZZ_CHECK(result ==
                   (document == nullptr ? MARLLIB_INVALID_HANDLE : MARLLIB_GETNAME_NO_TAG));
        for (const char byte : buffer) FUZZ_CHECK(byte == kSentinel);
        return;
    }
    const Tag& tag = document->tags[static_cast<size_t>(t)];
    FUZZ_CHECK(result == tag.nameLength);
    if (!null) FUZZ_CHECK(buffer == tag.field);
}

void GetCollection(Input& in) {
    const int32_t handle = ChooseHandle(in);
    const Document* const document = Model(handle);
    const int32_t t = ChooseTag(in, document);
    const int32_t result = marllib_GetCollection(handle, t);
    if (document == nullptr) {
        FUZZ_CHECK(result == MARLLIB_INVALID_HANDLE);
    } else if (!document->HasTag(t)) {
        FUZZ_CHECK(result == MARLLIB_GETCOLLECTION_NO_TAG);
    } else {
        const Tag& tag = document->tags[static_cast<size_t>(t)];
        FUZZ_CHECK(result == (tag.leaf ? MARLLIB_GETCOLLECTION_LEAF : tag.collection));
    }
}

void GetTags(Input& in) {
    const int32_t handle = ChooseHandle(in);
    const Document* const document = Model(handle);
    const int32_t c = ChooseCollection(in, document);
    const int32_t max = in.Near(-2, 40);
    const bool null = (in.Byte() & 3) == 0 || max > kMaxBuffer;
    std::vector<int32_t> out = Buffer(max, null, kSentinelIndex);
    const int32_t result = marllib_GetTags(handle, c, null ? nullptr : out.data(), max);
    size_t copied = 0;
    if (document == nullptr) {
        FUZZ_CHECK(result == MARLLIB_INVALID_HANDLE);
    } else if (!document->HasCollection(c)) {
        FUZZ_CHECK(result ==
                   (c < -1 ? MARLLIB_GETTAGS_BELOW_ROOT : MARLLIB_GETTAGS_NO_COLLECTION));
    } else {
        const std::vector<int32_t>& list = document->Collection(c);
        FUZZ_CHECK(result == static_cast<int32_t>(list.size()));
        if (!null) copied = std::min(out.size(), list.size());
        for (size_t i = 0; i < copied; ++i) FUZZ_CHECK(out[i] == list[i]);
    }
    for (size_t i = copied; i < out.size(); ++i) FUZZ_CHECK(out[i] == kSentinelIndex);
}

void GetTagsByName(Input& in) {
    const int32_t handle = ChooseHandle(in);
    const Document* const document = Model(handle);
    const int32_t c = ChooseCollection(in, document);
    const Name name = ChooseName(in, document);
    const int32_t max = in.Near(-2, 40);
    const bool null = (in.Byte() & 3) == 0 || max > kMaxBuffer;
    std::vector<int32_t> out = Buffer(max, null, kSentinelIndex);
    const int32_t result = marllib_GetTagsByName(handle, c, name.Pointer(), name.length,
                                                 null ? nullptr : out.data(), max);
    std::vector<int32_t> expected;
    if (document != nullptr && document->HasCollection(c) && !null) {
        for (const int32_t t : document->Collection(c)) {
            if (expected.size() < out.size() && Matches(document->tags[static_cast<size_t>(t)], name)) {
                expected.push_back(t);
            }
        }
    }
    FUZZ_CHECK(result == (document == nullptr ? MARLLIB_INVALID_HANDLE
                                               : static_cast<int32_t>(expected.size())));
    for (size_t i = 0; i < out.size(); ++i) {
        FUZZ_CHECK(out[i] == (i < expected.size() ? expected[i] : kSentinelIndex));
    }
}

void GetTagByName(Input& in) {
    const int32_t handle = ChooseHandle(in);
    const Document* const document = Model(handle);
    const int32_t c = ChooseCollection(in, document);
    const Name name = ChooseName(in, document);
    const int32_t result = marllib_GetTagByName(handle, c, name.Pointer(), name.length);
    int32_t expected =
        document == nullptr ? MARLLIB_INVALID_HANDLE : MARLLIB_GETTAGBYNAME_NOT_FOUND;
    if (document != nullptr && document->HasCollection(c)) {
        for (const int32_t t : document->Collection(c)) {
            if (Matches(document->tags[static_cast<size_t>(t)], name)) {
                expected = t;
                break;
            }
        }
    }
    FUZZ_CHECK(result == expected);
}

void Close() {
    marllib_Close();
    documents.clear();
    FUZZ_CHECK(marllib_GetTags(0, MARLLIB_ROOT, nullptr, 0) == MARLLIB_INVALID_HANDLE);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    Close();
    while (!in.Empty()) {
        switch (in.Byte() % 13) {
            case 0: Create(); break;
            case 1: Load(in); break;
            case 2: AddTag(in); break;
            case 3: AddTag(in); break;
            case 4: SetName(in); break;
            case 5: SetValue(in); break;
            case 6: GetValue(in); break;
            case 7: GetName(in); break;
            case 8: GetCollection(in); break;
            case 9: GetTags(in); break;
            case 10: GetTagsByName(in); break;
            case 11: GetTagByName(in); break;
            default:
                if ((in.Byte() & 7) == 0) Close();
                break;
        }
    }
    // In the end, every document is exactly its model.
    for (size_t handle = 0; handle < documents.size(); ++handle) {
        CheckSame(documents[handle], ReadBack(static_cast<int32_t>(handle)));
    }
    Close();
    return 0;
}
