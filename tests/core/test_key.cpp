// Key extraction by mode, access path and part order.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "ombrix/container.h"

namespace {

OmbrixKeyPart part(int32_t size, int32_t levels, std::initializer_list<int32_t> offsets) {
    OmbrixKeyPart p{};
    p.partType = OMBRIX_PART_BYTES;
    p.partSize = size;
    p.levels = levels;
    int i = 0;
    for (int32_t o : offsets) p.offsets[i++] = o;
    return p;
}

struct Inner {
    uint64_t pad;
    int32_t code;
};

struct Item {
    int32_t id;
    int32_t unused;
    int64_t stamp;
    Inner *inner;
};

TEST(GetKey, ReferenceModeWritesThePointerWhateverElseIsAsked) {
    OmbrixKeyDefinition def{};
    def.keyMode = OMBRIX_KEY_REFERENCE;
    OmbrixKeyPart parts[] = {part(4, 1, {0})};
    def.keyParts = parts;
    def.keyPartCount = 1;
    Item item{};
    for (uint8_t extract : {0, 1}) {
        unsigned char buffer[16];
        std::memset(buffer, 0xee, sizeof buffer);
        ombrixGetKey(&def, extract, &item, buffer, 3);
        const void *stored;
        std::memcpy(&stored, buffer, sizeof stored);
        EXPECT_EQ(stored, &item);
        EXPECT_EQ(buffer[8], 0xee) << "only eight bytes";
    }
}

TEST(GetKey, CompositePartsAreConcatenatedInArrayOrder) {
    Item item{7, -1, 0x0102030405060708, nullptr};
    OmbrixKeyPart parts[] = {part(4, 1, {offsetof(Item, id)}),
                             part(8, 1, {offsetof(Item, stamp)})};
    OmbrixKeyDefinition def{OMBRIX_KEY_COMPOSITE, 2, parts, 0};
    unsigned char buffer[16];
    std::memset(buffer, 0xee, sizeof buffer);
    ombrixGetKey(&def, 1, &item, buffer, 0);
    int32_t id;
    int64_t stamp;
    std::memcpy(&id, buffer, 4);
    std::memcpy(&stamp, buffer + 4, 8);
    EXPECT_EQ(id, 7);
    EXPECT_EQ(stamp, 0x0102030405060708);
    EXPECT_EQ(buffer[12], 0xee) << "twelve bytes, keySize unused";
}

TEST(GetKey, AccessPathsFollowStoredPointers) {
    Inner inner{0, 4242};
    Item item{1, 0, 0, &inner};
    Item *outer = &item;
    // Level 2: the pointer at item + offsetof(inner), then the field inside.
    OmbrixKeyPart two[] = {part(4, 2, {offsetof(Item, inner), offsetof(Inner, code)})};
    OmbrixKeyDefinition def{OMBRIX_KEY_COMPOSITE, 1, two, 0};
    int32_t code = 0;
    ombrixGetKey(&def, 1, &item, &code, 0);
    EXPECT_EQ(code, 4242);
    // Level 3 from a record that holds a pointer to the item.
    struct Holder {
        int64_t pad;
        Item *item;
    } holder{0, outer};
    OmbrixKeyPart three[] = {
        part(4, 3, {offsetof(Holder, item), offsetof(Item, inner), offsetof(Inner, code)})};
    def.keyParts = three;
    code = 0;
    ombrixGetKey(&def, 1, &holder, &code, 0);
    EXPECT_EQ(code, 4242);
}

TEST(GetKey, PlainCopyForKeysAndVariableMode) {
    const char text[] = "abcdefgh";
    OmbrixKeyPart parts[] = {part(2, 1, {6})};
    for (uint32_t mode : {OMBRIX_KEY_COMPOSITE, OMBRIX_KEY_VARIABLE}) {
        OmbrixKeyDefinition def{mode, 1, parts, 0};
        char buffer[8] = {};
        ombrixGetKey(&def, mode == OMBRIX_KEY_VARIABLE ? 1 : 0, text, buffer, 5);
        EXPECT_STREQ(buffer, "abcde") << "mode " << mode;
    }
}

TEST(GetKey, NoPartsWriteNothing) {
    Item item{1, 2, 3, nullptr};
    OmbrixKeyPart parts[] = {part(4, 1, {0})};
    for (int32_t count : {0, -3}) {
        OmbrixKeyDefinition def{OMBRIX_KEY_COMPOSITE, count, parts, 0};
        unsigned char buffer[4] = {0xee, 0xee, 0xee, 0xee};
        ombrixGetKey(&def, 1, &item, buffer, 4);
        EXPECT_EQ(buffer[0], 0xee);
        EXPECT_EQ(buffer[3], 0xee);
    }
}

}  // namespace
