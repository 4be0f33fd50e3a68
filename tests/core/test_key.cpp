// Key extraction by mode, access path and part order; key definitions that
// the families refuse, and searches that read no further than the key and
// the element allow.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "host_fixture.h"
#include "ombrix/array_list.h"
#include "ombrix/container.h"
#include "ombrix/linked_list.h"
#include "ombrix/storage.h"
#include "ombrix/tree.h"

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

TEST(GetKey, NoPartsUnusablePartsAndNullArgumentsWriteNothing) {
    Item item{1, 2, 3, nullptr};
    OmbrixKeyPart good = part(4, 1, {0});
    OmbrixKeyPart parts[][2] = {{good, good},           {good, part(-4, 1, {4})},
                                {good, part(4, 0, {4})}, {good, part(4, 6, {4})}};
    const struct {
        const char *what;
        uint32_t mode;
        int32_t count;
        OmbrixKeyPart *parts;
        bool nullItem;
    } rows[] = {
        {"no parts", OMBRIX_KEY_COMPOSITE, 0, parts[0], false},
        {"a negative count", OMBRIX_KEY_COMPOSITE, -3, parts[0], false},
        {"a count without parts", OMBRIX_KEY_COMPOSITE, 2, nullptr, false},
        {"a negative size after a good part", OMBRIX_KEY_COMPOSITE, 2, parts[1], false},
        {"levels 0", OMBRIX_KEY_COMPOSITE, 2, parts[2], false},
        {"levels 6", OMBRIX_KEY_COMPOSITE, 2, parts[3], false},
        {"unusable parts in pointer mode", OMBRIX_KEY_REFERENCE, 2, parts[1], false},
        {"unusable parts in variable mode", OMBRIX_KEY_VARIABLE, 2, parts[1], false},
        {"a null item in pointer mode", OMBRIX_KEY_REFERENCE, 0, nullptr, true},
        {"a null item", OMBRIX_KEY_COMPOSITE, 1, parts[0], true},
    };
    for (const auto &row : rows) {
        OmbrixKeyDefinition def{row.mode, row.count, row.parts, 0};
        unsigned char buffer[16];
        std::memset(buffer, 0xee, sizeof buffer);
        ombrixGetKey(&def, 1, row.nullItem ? nullptr : &item, buffer, 4);
        EXPECT_EQ(std::vector<unsigned char>(buffer, buffer + 16),
                  std::vector<unsigned char>(16, 0xee))
            << row.what;
    }
    OmbrixKeyDefinition def{OMBRIX_KEY_COMPOSITE, 1, parts[0], 0};
    ombrixGetKey(nullptr, 1, &item, parts, 4);  // a null definition
    ombrixGetKey(&def, 1, &item, nullptr, 4);   // a null buffer
    EXPECT_EQ(parts[0][0].partSize, 4);
}

// The two lists as one by-value search surface: a list of elementSize-byte
// elements holding one item, and the element its FindByKey finds (null for
// -1).
struct ListKind {
    const char *name;
    void *(*make)(int32_t elementSize);
    void (*add)(void *list, const void *item, int32_t keySize);
    const void *(*find)(void *list, const void *item, int32_t keySize, OmbrixKeyDefinition);
    void (*destroy)(void *list);
};

const ListKind kLists[] = {
    {"array list",
     [](int32_t size) -> void * { return arrayListNew(nullptr, {size, 0, 0, 0, 0, nullptr}); },
     [](void *l, const void *item, int32_t keySize) {
         EXPECT_EQ(arrayListAddLastWithKeySize(static_cast<OmbrixArrayList *>(l), item, keySize),
                   OMBRIX_OK);
     },
     [](void *l, const void *item, int32_t keySize, OmbrixKeyDefinition def) -> const void * {
         auto *list = static_cast<OmbrixArrayList *>(l);
         int32_t index = arrayListFindByKey(list, item, keySize, def);
         EXPECT_GE(index, -1);
         return index < 0 ? nullptr : arrayListGet(list, index);
     },
     [](void *l) { arrayListDestroy(static_cast<OmbrixArrayList *>(l)); }},
    {"linked list",
     [](int32_t size) -> void * { return linkedListNew(nullptr, {size, 0, 0, 0, nullptr}); },
     [](void *l, const void *item, int32_t keySize) {
         EXPECT_EQ(linkedListAddLastWithKeySize(static_cast<OmbrixLinkedList *>(l), item, keySize),
                   OMBRIX_OK);
     },
     [](void *l, const void *item, int32_t keySize, OmbrixKeyDefinition def) -> const void * {
         return linkedListFindByKey(static_cast<OmbrixLinkedList *>(l), item, keySize, def);
     },
     [](void *l) { linkedListDestroy(static_cast<OmbrixLinkedList *>(l)); }},
};

using KeyDefinitionTest = HostTest;

// Each row adds the item with a recorded key size and searches for the item
// itself as a ready key. Past its first four bytes the item is zero, like
// the unused slots of an array list, so that a read beyond the element that
// ASan does not see still shows as a false match.
TEST_F(KeyDefinitionTest, FindByKeyReadsOnlyWhatTheDefinitionAndTheElementHold) {
    const unsigned char item[64] = {1, 2, 3, 4};
    OmbrixKeyPart negative[] = {part(16, 1, {0}), part(-8, 1, {16})};
    OmbrixKeyPart inside[] = {part(16, 1, {0}), part(8, 1, {16})};
    OmbrixKeyPart pastEnd[] = {part(8, 1, {28})};
    OmbrixKeyPart pointerPastEnd[] = {part(4, 2, {28, 0})};
    OmbrixKeyPart tooDeep[] = {part(4, 6, {0})};
    const struct {
        const char *what;
        int32_t elementSize, recordedKeySize, searchKeySize;
        OmbrixKeyDefinition def;
        bool found;
    } rows[] = {
        {"a negative size shortens the key below what extraction writes", 32, 0, 0,
         {OMBRIX_KEY_COMPOSITE, 2, negative, 0}, false},
        {"the same parts with a positive size", 32, 0, 0, {OMBRIX_KEY_COMPOSITE, 2, inside, 0},
         true},
        {"a part count without parts", 32, 0, 0, {OMBRIX_KEY_COMPOSITE, 2, nullptr, 0}, false},
        {"a recorded key size beyond the element", 4, 64, 64, {OMBRIX_KEY_VARIABLE, 0, nullptr, 0},
         false},
        {"a recorded key size the element holds", 4, 4, 4, {OMBRIX_KEY_VARIABLE, 0, nullptr, 0},
         true},
        {"a field past the element", 32, 0, 0, {OMBRIX_KEY_COMPOSITE, 1, pastEnd, 0}, false},
        {"a path pointer past the element", 32, 0, 0, {OMBRIX_KEY_COMPOSITE, 1, pointerPastEnd, 0},
         false},
        {"levels beyond five", 32, 0, 0, {OMBRIX_KEY_COMPOSITE, 1, tooDeep, 0}, false},
    };
    for (const ListKind &kind : kLists) {
        for (const auto &row : rows) {
            SCOPED_TRACE(std::string(kind.name) + ": " + row.what);
            void *list = kind.make(row.elementSize);
            ASSERT_NE(list, nullptr);
            kind.add(list, item, row.recordedKeySize);
            const void *found = kind.find(list, item, row.searchKeySize, row.def);
            if (row.found) {
                ASSERT_NE(found, nullptr);
                EXPECT_EQ(std::memcmp(found, item, static_cast<size_t>(row.elementSize)), 0);
            } else {
                EXPECT_EQ(found, nullptr);
            }
            kind.destroy(list);
        }
    }
}

// A by-reference array list may hold a null pointer: it has no key to
// extract and never matches, even a key of zeros.
TEST_F(KeyDefinitionTest, NullElementOfAReferenceListNeverMatches) {
    OmbrixArrayList *list = arrayListNew(nullptr, {0, OMBRIX_BY_REFERENCE, 0, 0, 0, nullptr});
    ASSERT_EQ(arrayListAddLast(list, nullptr), OMBRIX_OK);
    ASSERT_EQ(arrayListSize(list), 1);
    OmbrixKeyPart field[] = {part(4, 1, {0})};
    const int32_t zeros = 0;
    EXPECT_EQ(arrayListFindByKey(list, &zeros, 0, {OMBRIX_KEY_COMPOSITE, 1, field, 0}), -1);
    arrayListDestroy(list);
}

// Unusable parts make every constructor that copies them return null before
// it makes a pool; the deepest path and a zero size are usable.
TEST_F(KeyDefinitionTest, ConstructorsRefuseUnusablePartsBeforeMakingAPool) {
    OmbrixKeyPart negative = part(-1, 1, {0}), flat = part(4, 0, {0}),
                  deep = part(4, 6, {0}), deepest = part(0, 5, {0, 0, 0, 0, 0});
    const struct {
        OmbrixKeyPart *parts;
        int32_t count;
        bool usable;
    } rows[] = {{nullptr, 1, false}, {&negative, 1, false}, {&flat, 1, false},
                {&deep, 1, false},   {&deepest, 1, true},   {nullptr, 0, true}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.parts ? row.parts->levels : -1);
        uint64_t poolsBefore = counters().poolsCreated;
        OmbrixTreeParms treeParms{OMBRIX_KEY_COMPOSITE, row.count, row.parts, 0, 0, 0};
        OmbrixStorageParms storageParms{};
        storageParms.keySize = 4;
        storageParms.keyPartCount = row.count;
        storageParms.keyParts = row.parts;
        OmbrixArrayList *array = arrayListNew(nullptr, {4, 0, 0, 0, row.count, row.parts});
        OmbrixLinkedList *linked = linkedListNew(nullptr, {4, 0, 0, row.count, row.parts});
        OmbrixTree *tree = treeNew(nullptr, treeParms);
        OmbrixStorage *storage = storageNew(nullptr, storageParms);
        EXPECT_EQ(array != nullptr, row.usable);
        EXPECT_EQ(linked != nullptr, row.usable);
        EXPECT_EQ(tree != nullptr, row.usable);
        EXPECT_EQ(storage != nullptr, row.usable);
        EXPECT_EQ(counters().poolsCreated - poolsBefore, row.usable ? 4u : 0u);
        arrayListDestroy(array);
        linkedListDestroy(linked);
        treeDestroy(tree);
        storageDestroy(storage);
    }
}

}  // namespace
