// Key extraction by mode, access path and part order; key definitions the
// families refuse, and searches that read no further than the key and the
// element allow.
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
    OmbrixKeyPart p{OMBRIX_PART_BYTES, size, levels, {}, 0};
    int i = 0;
    for (int32_t o : offsets) p.offsets[i++] = o;
    return p;
}

// 16 bytes of 0xee, the first `n` taken from `from`.
std::vector<unsigned char> bytes(const void *from, size_t n) {
    std::vector<unsigned char> out(16, 0xee);
    if (n) std::memcpy(out.data(), from, n);
    return out;
}

// What ombrixGetKey writes over 16 bytes of 0xee.
std::vector<unsigned char> keyOf(OmbrixKeyDefinition def, uint8_t extract, const void *item,
                                 int32_t keySize) {
    std::vector<unsigned char> buffer = bytes(nullptr, 0);
    ombrixGetKey(&def, extract, item, buffer.data(), keySize);
    return buffer;
}

TEST(GetKey, ExtractsByModePathAndPartOrder) {
    struct Inner { uint64_t pad; int32_t code; } inner{0, 4242};
    struct Item { int32_t id, unused; int64_t stamp; Inner *inner; } item{7, -1, 0x0102030405060708, &inner};
    const void *holder[2] = {nullptr, &item};
    const Item *address = &item;
    unsigned char idAndStamp[12];
    std::memcpy(idAndStamp, &item.id, 4);
    std::memcpy(idAndStamp + 4, &item.stamp, 8);
    OmbrixKeyPart id = part(4, 1, {0}), stamp = part(8, 1, {8}), two = part(4, 2, {16, 8}),
                  three = part(4, 3, {8, 16, 8}), pair[] = {id, stamp};
    const char text[] = "abcdefgh";
    const struct {
        const char *what;
        OmbrixKeyDefinition def;
        uint8_t extract;
        const void *item;
        int32_t keySize;
        std::vector<unsigned char> expected;
    } rows[] = {
        {"pointer mode, whatever else is asked", {OMBRIX_KEY_REFERENCE, 1, &id, 0}, 1, &item, 3,
         bytes(&address, 8)},
        {"parts in array order, keySize unused", {OMBRIX_KEY_COMPOSITE, 2, pair, 0}, 1, &item, 0,
         bytes(idAndStamp, 12)},
        {"a path of two levels", {OMBRIX_KEY_COMPOSITE, 1, &two, 0}, 1, &item, 0, bytes(&inner.code, 4)},
        {"a path of three levels", {OMBRIX_KEY_COMPOSITE, 1, &three, 0}, 1, &holder, 0,
         bytes(&inner.code, 4)},
        {"a plain copy", {OMBRIX_KEY_COMPOSITE, 1, &id, 0}, 0, text, 5, bytes(text, 5)},
        {"variable mode copies", {OMBRIX_KEY_VARIABLE, 1, &id, 0}, 1, text, 5, bytes(text, 5)},
    };
    for (const auto &row : rows)
        EXPECT_EQ(keyOf(row.def, row.extract, row.item, row.keySize), row.expected) << row.what;
}

TEST(GetKey, NoPartsUnusablePartsAndNullArgumentsWriteNothing) {
    int64_t item[2] = {1, 2};
    OmbrixKeyPart good = part(4, 1, {0});
    OmbrixKeyPart parts[][2] = {{good, good}, {good, part(-4, 1, {4})}, {good, part(4, 0, {4})},
                                {good, part(4, 6, {4})}};
    const struct { const char *what; OmbrixKeyDefinition def; const void *item; } rows[] = {
        {"no parts", {OMBRIX_KEY_COMPOSITE, 0, parts[0], 0}, item},
        {"a negative count", {OMBRIX_KEY_COMPOSITE, -3, parts[0], 0}, item},
        {"a count without parts", {OMBRIX_KEY_COMPOSITE, 2, nullptr, 0}, item},
        {"a negative size after a good part", {OMBRIX_KEY_COMPOSITE, 2, parts[1], 0}, item},
        {"levels 0", {OMBRIX_KEY_COMPOSITE, 2, parts[2], 0}, item},
        {"levels 6", {OMBRIX_KEY_COMPOSITE, 2, parts[3], 0}, item},
        {"unusable parts in pointer mode", {OMBRIX_KEY_REFERENCE, 2, parts[1], 0}, item},
        {"unusable parts in variable mode", {OMBRIX_KEY_VARIABLE, 2, parts[1], 0}, item},
        {"a null item in pointer mode", {OMBRIX_KEY_REFERENCE, 0, nullptr, 0}, nullptr},
        {"a null item", {OMBRIX_KEY_COMPOSITE, 1, parts[0], 0}, nullptr},
    };
    for (const auto &row : rows)
        EXPECT_EQ(keyOf(row.def, 1, row.item, 4), bytes(nullptr, 0)) << row.what;
    ombrixGetKey(nullptr, 1, item, parts, 4);  // a null definition writes nothing
    EXPECT_EQ(parts[0][0].partSize, 4);
}

using KeyDefinitionTest = HostTest;

// Each row adds the item with a recorded key size to an array list and a
// linked list of elementSize-byte elements, and searches for the item as a
// ready key. Past its first four bytes the item is zero, like an array
// list's unused slots, so that a read beyond the element that ASan does not
// see still shows as a false match.
TEST_F(KeyDefinitionTest, FindByKeyReadsOnlyWhatTheDefinitionAndTheElementHold) {
    const unsigned char item[64] = {1, 2, 3, 4};
    OmbrixKeyPart negative[] = {part(16, 1, {0}), part(-8, 1, {16})};
    OmbrixKeyPart atEnd[] = {part(16, 1, {0}), part(16, 1, {16})};
    OmbrixKeyPart pastEnd[] = {part(8, 1, {28})}, pointerPastEnd[] = {part(4, 2, {28, 0})}, tooDeep[] = {part(4, 6, {0})};
    // keySize: the one recorded, and the one searched with.
    const struct { const char *what; int32_t elementSize, keySize; OmbrixKeyDefinition def; bool found; } rows[] = {
        {"a negative size shortens the key", 32, 0, {OMBRIX_KEY_COMPOSITE, 2, negative, 0}, false},
        {"the same parts, the second ending at the element's end", 32, 0,
         {OMBRIX_KEY_COMPOSITE, 2, atEnd, 0}, true},
        {"a part count without parts", 32, 0, {OMBRIX_KEY_COMPOSITE, 2, nullptr, 0}, false},
        {"a key size beyond the element", 4, 64, {OMBRIX_KEY_VARIABLE, 0, nullptr, 0}, false},
        {"a key size the element holds", 4, 4, {OMBRIX_KEY_VARIABLE, 0, nullptr, 0}, true},
        {"a field past the element", 32, 0, {OMBRIX_KEY_COMPOSITE, 1, pastEnd, 0}, false},
        {"a path pointer past the element", 32, 0, {OMBRIX_KEY_COMPOSITE, 1, pointerPastEnd, 0}, false},
        {"levels beyond five", 32, 0, {OMBRIX_KEY_COMPOSITE, 1, tooDeep, 0}, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        OmbrixArrayList *array = arrayListNew(nullptr, {row.elementSize, 0, 0, 0, 0, nullptr});
        OmbrixLinkedList *linked = linkedListNew(nullptr, {row.elementSize, 0, 0, 0, nullptr});
        ASSERT_EQ(arrayListAddLastWithKeySize(array, item, row.keySize), OMBRIX_OK);
        ASSERT_EQ(linkedListAddLastWithKeySize(linked, item, row.keySize), OMBRIX_OK);
        int32_t index = arrayListFindByKey(array, item, row.keySize, row.def);
        const void *found = linkedListFindByKey(linked, item, row.keySize, row.def);
        EXPECT_EQ(index, row.found ? 0 : -1);
        EXPECT_EQ(found != nullptr, row.found);
        EXPECT_TRUE(!found || std::memcmp(found, item, size_t(row.elementSize)) == 0);
        arrayListDestroy(array);
        linkedListDestroy(linked);
    }
    // A by-reference list's null element has no key and never matches.
    OmbrixArrayList *list = arrayListNew(nullptr, {0, OMBRIX_BY_REFERENCE, 0, 0, 0, nullptr});
    ASSERT_EQ(arrayListAddLast(list, nullptr), OMBRIX_OK);
    const unsigned char zeros[16] = {};
    EXPECT_EQ(arrayListFindByKey(list, zeros, 0, {OMBRIX_KEY_COMPOSITE, 1, atEnd, 0}), -1);
    arrayListDestroy(list);
}

// Unusable parts make every constructor that copies them return null before
// it makes a pool; the deepest path and a zero size are usable.
TEST_F(KeyDefinitionTest, ConstructorsRefuseUnusablePartsBeforeMakingAPool) {
    OmbrixKeyPart negative = part(-1, 1, {0}), flat = part(4, 0, {0}), deep = part(4, 6, {0}),
                  deepest = part(0, 5, {0, 0, 0, 0, 0});
    const struct { OmbrixKeyPart *parts; int32_t count; bool usable; } rows[] = {{nullptr, 1, false}, {&negative, 1, false}, {&flat, 1, false},
                {&deep, 1, false},   {&deepest, 1, true},   {nullptr, 0, true}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.parts ? row.parts->levels : -1);
        uint64_t poolsBefore = counters().poolsCreated;
        OmbrixStorageParms storageParms{};
        storageParms.keySize = 4;
        storageParms.keyPartCount = row.count;
        storageParms.keyParts = row.parts;
        OmbrixArrayList *array = arrayListNew(nullptr, {4, 0, 0, 0, row.count, row.parts});
        OmbrixLinkedList *linked = linkedListNew(nullptr, {4, 0, 0, row.count, row.parts});
        OmbrixTree *tree = treeNew(nullptr, {OMBRIX_KEY_COMPOSITE, row.count, row.parts, 0, 0, 0});
        OmbrixStorage *storage = storageNew(nullptr, storageParms);
        EXPECT_EQ(array && linked && tree && storage, row.usable);
        EXPECT_EQ(counters().poolsCreated - poolsBefore, row.usable ? 4u : 0u);
        arrayListDestroy(array);
        linkedListDestroy(linked);
        treeDestroy(tree);
        storageDestroy(storage);
    }
}

}  // namespace
