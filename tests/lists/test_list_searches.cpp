// The searches of the two lists: Find and Remove compare whole elements (by
// reference, keySize bytes at the stored pointers); FindByKey hands back the
// first element its key definition finds, a variable key only among elements
// recorded with that key size.
#include <gtest/gtest.h>

#include "list_families.h"
#include "tree_keys.h"

namespace {

struct Record {
    int32_t code, group, pad;
};

class ListSearch : public HostTest {
  protected:
    Record items[4] = {{1, 10, 0}, {2, 20, 0}, {2, 21, 0}, {2, 20, 5}};
    OmbrixKeyPart parts[2] = {directPart(OMBRIX_PART_BYTES, 4, offsetof(Record, code)),
                              directPart(OMBRIX_PART_BYTES, 4, offsetof(Record, group))};
    OmbrixKeyDefinition composite{OMBRIX_KEY_COMPOSITE, 2, parts, 0};
    int32_t key[2] = {2, 20};
};

TEST_F(ListSearch, ArrayListByValue) {
    OmbrixArrayList *list = arrayListNew(nullptr, {sizeof(Record), 0, 0, 0, 0, nullptr});
    for (int i = 0; i < 4; ++i) arrayListAddLastWithKeySize(list, &items[i], i < 2 ? 0 : 8);
    EXPECT_EQ(arrayListFindByKey(list, key, 0, composite), 1);
    EXPECT_EQ(arrayListFindByKey(list, key, 8, kVariableKey), 3) << "1 was added without a key size";
    EXPECT_EQ(arrayListFindByKey(list, key, 4, kVariableKey), -1) << "none was added with 4";
    EXPECT_EQ(arrayListFind(list, &items[3]), 3) << "all 12 bytes compare";
    arrayListRemove(list, &items[1]);
    EXPECT_EQ(arrayListFindByKey(list, key, 0, composite), 2);
    arrayListDestroy(list);
}

TEST_F(ListSearch, LinkedListByReference) {
    OmbrixLinkedList *list = linkedListNew(nullptr, {4, OMBRIX_BY_REFERENCE, 0, 0, nullptr});
    for (int i = 0; i < 4; ++i) linkedListAddLastWithKeySize(list, &items[i], i < 2 ? 0 : 8);
    Record probe = items[3];
    OmbrixKeyDefinition reference{OMBRIX_KEY_REFERENCE, 1, parts, 0};
    EXPECT_EQ(linkedListFindByKey(list, key, 0, composite), &items[1]);
    EXPECT_EQ(linkedListFindByKey(list, &probe, 8, kVariableKey), &items[3]);
    EXPECT_EQ(linkedListFindByKey(list, &items[2], 0, reference), &items[2]);
    EXPECT_EQ(linkedListFindByKey(list, &probe, 0, reference), nullptr) << "an equal copy is not it";
    EXPECT_EQ(linkedListFind(list, &probe), &items[1]) << "the first with the same 4 bytes";
    linkedListRemove(list, &probe);
    EXPECT_EQ(linkedListFind(list, &probe), &items[2]);
    linkedListDestroy(list);
}

}  // namespace
