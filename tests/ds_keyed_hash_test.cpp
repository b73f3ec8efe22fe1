// DS::KeyedHash: names that differ little must spread over a table as evenly as random
// numbers would, and two keys must hash one name apart.
#include "ds_keyed_hash.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// 2^16 names in shapes that documents and hostile texts have land in 256 parts of a table,
// chosen by the hash's top byte as a name index chooses its bucket by the high bits: each part
// gets 256 on average, give or take 16, and random numbers would put fewer than 160 or more
// than 360 in any part of the two shapes about once in a million runs.
TEST(KeyedHash, SpreadsNamesThatDifferLittle) {
    const DS::KeyedHash hash;
    const struct {
        const char* shape;
        std::string (*name)(int i);
    } shapes[] = {
        {"a word and a number", [](int i) { return "id" + std::to_string(i); }},
        {"two bytes and zero bytes of several lengths",
         [](int i) {
             std::string name(2 + i % 32, '\0');
             name[0] = static_cast<char>(i >> 5);
             name[1] = static_cast<char>(i >> 13);
             return name;
         }},
    };
    for (const auto& shape : shapes) {
        std::vector<int> parts(256);
        for (int i = 0; i < (1 << 16); ++i) {
            const std::string name = shape.name(i);
            ++parts[hash(name.data(), static_cast<int32_t>(name.size())) >> 56];
        }
        for (size_t part = 0; part < parts.size(); ++part) {
            EXPECT_GT(parts[part], 160) << shape.shape << ", part " << part;
            EXPECT_LT(parts[part], 360) << shape.shape << ", part " << part;
        }
    }
}

TEST(KeyedHash, TwoKeysHashOneNameApart) {
    const DS::KeyedHash one;
    const DS::KeyedHash other;
    EXPECT_NE(one("name", 4), other("name", 4));
    EXPECT_EQ(one("name", 4), one("name", 4));
    EXPECT_NE(one("name\0", 5), one("name", 4));  // a zero byte more is another name
}

}  // namespace
