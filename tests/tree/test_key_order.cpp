// The tree's key ordering: exact results per part type and mode, and the
// specialised orders against the general comparison on random keys.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

#include "tree/key_order.h"
#include "tree_keys.h"

namespace {

template <typename T>
int32_t compareOne(uint32_t type, T a, T b, int32_t size = sizeof(T)) {
    OmbrixKeyPart p = directPart(type, size);
    OmbrixTreeParms order = treeParms(OMBRIX_KEY_COMPOSITE, &p, 1);
    return omb::compareKeys(order, &a, 0, &b, 0);
}

TEST(KeyOrder, EachPartTypeComparesItsField) {
    EXPECT_EQ(compareOne<int32_t>(OMBRIX_PART_INT32, -5, 3), -1);
    EXPECT_EQ(compareOne<int32_t>(OMBRIX_PART_INT32, INT32_MAX, INT32_MIN), 1);
    EXPECT_EQ(compareOne<int32_t>(OMBRIX_PART_INT32, 9, 9), 0);
    EXPECT_EQ(compareOne<int64_t>(OMBRIX_PART_INT64, INT64_MIN, INT64_MAX), -1);
    EXPECT_EQ(compareOne<int64_t>(OMBRIX_PART_INT64, int64_t{1} << 40, 1), 1);
    double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(compareOne<double>(OMBRIX_PART_DOUBLE, 1.5, 2.5), -1);
    EXPECT_EQ(compareOne<double>(OMBRIX_PART_DOUBLE, nan, 2.5), 0);
    EXPECT_EQ(compareOne<double>(OMBRIX_PART_DOUBLE, -1e300, nan), 0);
    EXPECT_EQ(compareOne<double>(OMBRIX_PART_DOUBLE, -0.0, 0.0), 0);
    // Bytes compare unsigned.
    uint16_t low = 0x0001, high = 0x00ff;  // first byte 01 against ff
    EXPECT_EQ(compareOne<uint16_t>(OMBRIX_PART_BYTES, low, high), -1);
    EXPECT_EQ(compareOne<uint16_t>(OMBRIX_PART_BYTES, 0x0100, 0x0200, 1), 0)
        << "only partSize bytes count";
}

TEST(KeyOrder, QVCharPartsCompareTheUnitsInsideThePart) {
    struct Units {
        QVChar u[3];
    };
    Units a = {{'a', 'b', 'c'}}, b = {{'a', 'b', 'd'}}, c = {{'a', 'c', 'a'}};
    constexpr uint32_t kText = 9;
    EXPECT_EQ(compareOne(kText, a, b, 12), -1);
    EXPECT_EQ(compareOne(kText, a, b, 8), 0) << "two units: abc equals abd";
    EXPECT_EQ(compareOne(kText, a, c, 11), -1) << "11 bytes hold two whole units";
    EXPECT_EQ(compareOne(kText, c, a, 7), 0) << "7 bytes hold one unit";
    EXPECT_EQ(compareOne(kText, c, a, 3), 0) << "less than a unit compares nothing";
}

TEST(KeyOrder, PartsDecideInOrderAndDescendingFlipsOnlyTheirOwn) {
    OmbrixKeyPart parts[2] = {directPart(OMBRIX_PART_INT32, 4, 0, 0x01),
                              directPart(OMBRIX_PART_INT64, 8)};
    unsigned char a[12], b[12];
    int32_t ia = 1, ib = 2;
    int64_t la = 5, lb = 4;
    std::memcpy(a, &ia, 4), std::memcpy(a + 4, &la, 8);
    std::memcpy(b, &ib, 4), std::memcpy(b + 4, &lb, 8);
    OmbrixTreeParms flat = treeParms(OMBRIX_KEY_COMPOSITE, parts, 2);
    EXPECT_EQ(omb::compareKeys(flat, a, 0, b, 0), 1) << "1 after 2 when descending";
    std::memcpy(b, &ia, 4);
    EXPECT_EQ(omb::compareKeys(flat, a, 0, b, 0), 1) << "equal first part: 5 > 4 ascending";
    flat.reverseOrder = 1;
    EXPECT_EQ(omb::compareKeys(flat, a, 0, b, 0), 1) << "reverseOrder leaves parts alone";
    OmbrixTreeParms none = treeParms(OMBRIX_KEY_COMPOSITE, parts, 0);
    EXPECT_EQ(omb::compareKeys(none, a, 0, b, 0), 0) << "no parts: every key is equal";
}

TEST(KeyOrder, ReferenceModeFollowsAccessPaths) {
    struct Inner {
        int32_t pad;
        int32_t value;
    };
    struct Outer {
        int64_t pad;
        Inner *inner;
    };
    Inner i1 = {0, 10}, i2 = {0, 20};
    Outer o1 = {0, &i1}, o2 = {0, &i2};
    OmbrixKeyPart p = directPart(OMBRIX_PART_INT32, 4, offsetof(Outer, inner));
    p.levels = 2;
    p.offsets[1] = offsetof(Inner, value);
    OmbrixTreeParms order = treeParms(OMBRIX_KEY_REFERENCE, &p, 1);
    EXPECT_EQ(omb::compareKeys(order, &o1, 0, &o2, 0), -1);
    i1.value = 20;
    EXPECT_EQ(omb::compareKeys(order, &o1, 0, &o2, 0), 0);
}

TEST(KeyOrder, PointerAndVariableKeysObeyReverseOrder) {
    int32_t x[2];
    OmbrixTreeParms pointers = treeParms(OMBRIX_KEY_REFERENCE, nullptr, 0);
    EXPECT_EQ(omb::compareKeys(pointers, &x[0], 0, &x[1], 0), -1);
    pointers.reverseOrder = 1;
    EXPECT_EQ(omb::compareKeys(pointers, &x[0], 0, &x[1], 0), 1);

    OmbrixTreeParms bytes = treeParms(OMBRIX_KEY_VARIABLE, nullptr, 0);
    EXPECT_EQ(omb::compareKeys(bytes, "ab", 2, "abc", 3), -1);
    EXPECT_EQ(omb::compareKeys(bytes, "abd", 3, "abc", 3), 1);
    EXPECT_EQ(omb::compareKeys(bytes, "abd", 2, "abc", 2), 0);
    EXPECT_EQ(omb::compareKeys(bytes, "", 0, "a", 1), -1);
    bytes.reverseOrder = 1;
    EXPECT_EQ(omb::compareKeys(bytes, "ab", 2, "abc", 3), 1);
    EXPECT_EQ(omb::compareKeys(bytes, "abd", 2, "abc", 2), 0);
    // A mode outside 0, 1 and 2 orders as a byte string.
    OmbrixTreeParms other = treeParms(7, nullptr, 0);
    EXPECT_EQ(omb::compareKeys(other, "b", 1, "ab", 2), 1);
}

TEST(KeyOrder, NormalizedResultsCountCaseOnlyDifferencesAsEqual) {
    EXPECT_EQ(omb::normalizedResult(1), 0);
    EXPECT_EQ(omb::normalizedResult(-1), 0);
    EXPECT_EQ(omb::normalizedResult(0), 0);
    EXPECT_EQ(omb::normalizedResult(2), 1);
    EXPECT_EQ(omb::normalizedResult(-2), -1);
    EXPECT_EQ(omb::normalizedResult(7), 1);
    EXPECT_EQ(omb::normalizedResult(INT32_MIN), -1);
}

TEST(KeyOrder, FlagBit8ComparesByteStringsNormalised) {
    OmbrixKeyPart text = directPart(OMBRIX_PART_BYTES, 3);
    OmbrixTreeParms plain = treeParms(OMBRIX_KEY_COMPOSITE, &text, 1);
    OmbrixTreeParms normalized =
        treeParms(OMBRIX_KEY_COMPOSITE, &text, 1, 0, 0, OMBRIX_TREE_NORMALIZED);
    EXPECT_EQ(omb::compareKeys(plain, "abc", 0, "ABC", 0), 1);
    EXPECT_EQ(omb::compareKeys(normalized, "abc", 0, "ABC", 0), 0) << "case only: equal";
    EXPECT_EQ(omb::compareKeys(normalized, "abc", 0, "ABD", 0), -1);
    EXPECT_EQ(omb::compareKeys(normalized, "b  ", 0, "A  ", 0), 1);
    text.partOption = 1;
    EXPECT_EQ(omb::compareKeys(normalized, "abc", 0, "ABD", 0), 1) << "descending still applies";

    OmbrixTreeParms variable =
        treeParms(OMBRIX_KEY_VARIABLE, nullptr, 0, 0, 0, OMBRIX_TREE_NORMALIZED);
    EXPECT_EQ(omb::compareKeys(variable, "abc", 3, "ABC", 3), 0);
    EXPECT_EQ(omb::compareKeys(variable, "abc", 3, "ABCD", 4), -1)
        << "equal over the shorter length: the shorter key first";
    EXPECT_EQ(omb::compareKeys(variable, "abd", 3, "ABCD", 4), 1);
    variable.reverseOrder = 1;
    EXPECT_EQ(omb::compareKeys(variable, "abc", 3, "ABCD", 4), 1);
}

// ---------------------------------------------------------------------------
// Specialised orders against the general comparison

enum class Chosen { General, Int32, Int64, Pointer, Bytes };

Chosen chosenFor(const OmbrixTreeParms &p) {
    return omb::withKeyOrder(p, [](const auto &order) {
        using T = std::decay_t<decltype(order)>;
        if constexpr (std::is_same_v<T, omb::DirectIntOrder<int32_t>>) return Chosen::Int32;
        if constexpr (std::is_same_v<T, omb::DirectIntOrder<int64_t>>) return Chosen::Int64;
        if constexpr (std::is_same_v<T, omb::PointerOrder>) return Chosen::Pointer;
        if constexpr (std::is_same_v<T, omb::ByteStringOrder>) return Chosen::Bytes;
        return Chosen::General;
    });
}

// Runs the chosen order and compareKeys on the same pairs.
void expectSameAsGeneral(const OmbrixTreeParms &p, const std::vector<const void *> &keys,
                         const std::vector<int32_t> &sizes) {
    std::mt19937 random(5);
    for (int i = 0; i < 20000; ++i) {
        size_t a = random() % keys.size(), b = random() % keys.size();
        int32_t fast = omb::withKeyOrder(p, [&](const auto &order) {
            return order(keys[a], sizes[a], keys[b], sizes[b]);
        });
        // The way a walk compares: the key bound once, the node prepared
        // when it was linked (the int32 order reads its copy of the key).
        OmbrixTreeNode node{};
        node.key = const_cast<void *>(keys[b]);
        node.keySize = sizes[b];
        int32_t general = omb::compareKeys(p, keys[a], sizes[a], keys[b], sizes[b]);
        int32_t walked = omb::withKeyOrder(p, [&](const auto &order) {
            omb::prepareNode(order, &node);
            auto probe = omb::probeFor(order, keys[a], sizes[a]);
            // Probes with one compare per question answer as the sign does.
            if constexpr (requires { probe.goesLeft(&node); }) {
                EXPECT_EQ(probe.equals(&node), general == 0) << "pair " << a << ", " << b;
                EXPECT_EQ(probe.goesLeft(&node), general < 0) << "pair " << a << ", " << b;
            }
            return probe.compare(&node);
        });
        ASSERT_EQ(fast, general) << "pair " << a << ", " << b;
        ASSERT_EQ(walked, general) << "pair " << a << ", " << b;
    }
}

struct Record {
    int64_t wide;
    int32_t narrow;
    int32_t other;
};

class SpecialisedOrder : public ::testing::Test {
  protected:
    void SetUp() override {
        std::mt19937 random(3);
        records.resize(400);
        for (Record &r : records) {
            // Few distinct values, so equal keys come up often; extremes too.
            uint32_t pick = random() % 12;
            r.narrow = pick == 0 ? INT32_MIN : pick == 1 ? INT32_MAX : int32_t(random() % 21) - 10;
            r.wide = pick == 2 ? INT64_MIN : pick == 3 ? INT64_MAX : int64_t(random() % 21) - 10;
            r.other = int32_t(random());
        }
        for (Record &r : records) {
            keys.push_back(&r);
            sizes.push_back(int32_t(random() % 8));
        }
    }
    std::vector<Record> records;
    std::vector<const void *> keys;
    std::vector<int32_t> sizes;
};

TEST_F(SpecialisedOrder, DirectIntegerParts) {
    for (uint32_t option : {0u, 1u, 0x200u}) {
        OmbrixKeyPart narrow = directPart(OMBRIX_PART_INT32, 4, offsetof(Record, narrow), option);
        OmbrixKeyPart wide = directPart(OMBRIX_PART_INT64, 8, offsetof(Record, wide), option);
        OmbrixKeyPart flatNarrow = directPart(OMBRIX_PART_INT32, 4, 0, option);
        OmbrixTreeParms byItem = treeParms(OMBRIX_KEY_REFERENCE, &narrow, 1, 0, 1);
        OmbrixTreeParms byItemWide = treeParms(OMBRIX_KEY_REFERENCE, &wide, 1);
        OmbrixTreeParms flat = treeParms(OMBRIX_KEY_COMPOSITE, &flatNarrow, 1);
        ASSERT_EQ(chosenFor(byItem), Chosen::Int32);
        ASSERT_EQ(chosenFor(byItemWide), Chosen::Int64);
        ASSERT_EQ(chosenFor(flat), Chosen::Int32);
        expectSameAsGeneral(byItem, keys, sizes);
        expectSameAsGeneral(byItemWide, keys, sizes);
        // The flat key starts at the record's wide field: its first four
        // bytes are the int32 of mode 0.
        expectSameAsGeneral(flat, keys, sizes);
    }
    // Shapes that keep the general loop.
    OmbrixKeyPart behind = directPart(OMBRIX_PART_INT32, 4);
    behind.levels = 2;
    OmbrixKeyPart dbl = directPart(OMBRIX_PART_DOUBLE, 8);
    OmbrixKeyPart two[2] = {directPart(OMBRIX_PART_INT32, 4), directPart(OMBRIX_PART_INT32, 4, 4)};
    EXPECT_EQ(chosenFor(treeParms(OMBRIX_KEY_REFERENCE, &behind, 1)), Chosen::General);
    EXPECT_EQ(chosenFor(treeParms(OMBRIX_KEY_REFERENCE, &dbl, 1)), Chosen::General);
    EXPECT_EQ(chosenFor(treeParms(OMBRIX_KEY_REFERENCE, two, 2)), Chosen::General);
}

TEST_F(SpecialisedOrder, PointerKeys) {
    for (uint8_t reverse : {0, 1}) {
        OmbrixTreeParms p = treeParms(OMBRIX_KEY_REFERENCE, nullptr, 0, 0, reverse);
        ASSERT_EQ(chosenFor(p), Chosen::Pointer);
        std::vector<const void *> pointers = keys;
        pointers.push_back(nullptr);
        pointers.push_back(reinterpret_cast<const void *>(~uintptr_t{0}));
        std::vector<int32_t> sz = sizes;
        sz.push_back(0), sz.push_back(0);
        expectSameAsGeneral(p, pointers, sz);
    }
}

TEST_F(SpecialisedOrder, ByteStrings) {
    // Short strings over a three-letter alphabet with a high byte: shared
    // prefixes, equal strings and every length from 0 to 7.
    std::mt19937 random(9);
    std::vector<std::array<unsigned char, 8>> texts(300);
    std::vector<const void *> textKeys;
    std::vector<int32_t> textSizes;
    for (auto &t : texts) {
        for (unsigned char &c : t) c = "ab\xf0"[random() % 3];
        textKeys.push_back(t.data());
        textSizes.push_back(int32_t(random() % 8));
    }
    for (uint8_t reverse : {0, 1}) {
        OmbrixTreeParms p = treeParms(OMBRIX_KEY_VARIABLE, nullptr, 0, 0, reverse);
        ASSERT_EQ(chosenFor(p), Chosen::Bytes);
        expectSameAsGeneral(p, textKeys, textSizes);
    }
    OmbrixKeyPart via = directPart(OMBRIX_PART_INT32, 0);
    EXPECT_EQ(chosenFor(treeParms(OMBRIX_KEY_VARIABLE, &via, 1)), Chosen::General);
    EXPECT_EQ(chosenFor(treeParms(OMBRIX_KEY_VARIABLE, nullptr, 0, 0, 0, OMBRIX_TREE_NORMALIZED)),
              Chosen::General);
}

}  // namespace
