// The tree's key ordering, row by row, through the general comparison and
// through the order a walk picks (its probe against a node prepared as linked).
#include <gtest/gtest.h>

#include <limits>

#include "tree/key_order.h"
#include "tree_keys.h"

namespace {

TEST(KeyOrder, EveryPartTypeModeAndFlag) {
    const uint32_t norm = OMBRIX_TREE_NORMALIZED;  struct Record { int64_t wide; int32_t narrow, pad; };
    const Record r[] = {{INT64_MIN, INT32_MAX, 0}, {INT64_MAX, INT32_MIN, 0}, {-1, 3, 0}, {-1, 3, 1}};
    OmbrixKeyPart dbl = directPart(OMBRIX_PART_DOUBLE, 8), byte1 = directPart(OMBRIX_PART_BYTES, 1),
                  bytes2 = directPart(OMBRIX_PART_BYTES, 2), text = directPart(OMBRIX_PART_BYTES, 3),
                  textDown = directPart(OMBRIX_PART_BYTES, 3, 0, 1), deep = directPart(OMBRIX_PART_INT32, 4, 8),
                  units[4] = {directPart(9, 12), directPart(9, 8), directPart(9, 11), directPart(9, 3)},
                  pair[2] = {directPart(OMBRIX_PART_INT32, 4, 0, 1), directPart(OMBRIX_PART_INT64, 8)},
                  narrow[3] = {directPart(OMBRIX_PART_INT32, 4, 8), directPart(OMBRIX_PART_INT32, 4, 8, 1),
                               directPart(OMBRIX_PART_INT32, 4, 8, 0x200)},
                  wide[2] = {directPart(OMBRIX_PART_INT64, 8), directPart(OMBRIX_PART_INT64, 8, 0, 1)};
    deep.levels = 2, deep.offsets[1] = 4;  // item -> pointer at 8 -> int32 at 4
    auto flat = [](OmbrixKeyPart *p, uint32_t flags = 0, int n = 1, uint8_t rev = 0) { return treeParms(0, p, n, 0, rev, flags); };
    auto ref = [](OmbrixKeyPart *p, uint8_t reverse = 0) { return treeParms(2, p, !!p, 0, reverse); };
    auto bytes = [](uint8_t reverse, uint32_t flags = 0) { return treeParms(1, nullptr, 0, 0, reverse, flags); };
    const double nan = std::numeric_limits<double>::quiet_NaN(), dbls[] = {1.5, 2.5, nan, -0.0, 0.0};
    const uint16_t shorts[] = {0x0001, 0x00ff, 0x0100, 0x0200};  // first bytes 01, ff, 00, 00
    const QVChar abc[3] = {'a', 'b', 'c'}, abd[3] = {'a', 'b', 'd'}, aca[3] = {'a', 'c', 'a'};
    const int32_t inner[2][2] = {{0, 10}, {0, 20}};
    const void *outer[2][2] = {{nullptr, inner[0]}, {nullptr, inner[1]}};
    struct __attribute__((packed)) { int32_t major; int64_t minor; } k12[2] = {{1, 5}, {1, 4}};
    struct Row { const char *what; OmbrixTreeParms parms; const void *a; int32_t sizeA; const void *b; int32_t sizeB; int32_t expected; } rows[] = {
        {"int32 extremes", ref(&narrow[0]), &r[0], 0, &r[1], 0, 1},
        {"int32 descending", ref(&narrow[1]), &r[0], 0, &r[1], 0, -1},
        {"only the low byte descends", ref(&narrow[2]), &r[1], 0, &r[0], 0, -1},
        {"int32 equal", ref(&narrow[1]), &r[2], 0, &r[3], 0, 0},
        {"int32 reverseOrder ignored", ref(&narrow[0], 1), &r[1], 0, &r[2], 0, -1},
        {"flat int32: the low half, -1 against 0", flat(&narrow[0]), &r[2], 0, &r[0], 0, -1},
        {"int64 extremes", ref(&wide[0]), &r[0], 0, &r[1], 0, -1},
        {"int64 descending", ref(&wide[1]), &r[0], 0, &r[1], 0, 1},
        {"pointers", ref(nullptr), &r[0], 0, &r[1], 0, -1},
        {"pointers reversed", ref(nullptr, 1), &r[0], 0, &r[1], 0, 1},
        {"pointer extremes", ref(nullptr), nullptr, 0, reinterpret_cast<void *>(~uintptr_t{0}), 0, -1},
        {"double less", flat(&dbl), &dbls[0], 0, &dbls[1], 0, -1},
        {"NaN equals", flat(&dbl), &dbls[2], 0, &dbls[1], 0, 0},
        {"equals NaN", flat(&dbl), &dbls[0], 0, &dbls[2], 0, 0},
        {"-0 equals 0", flat(&dbl), &dbls[3], 0, &dbls[4], 0, 0},
        {"bytes unsigned", flat(&bytes2), &shorts[0], 0, &shorts[1], 0, -1},
        {"only partSize bytes", flat(&byte1), &shorts[2], 0, &shorts[3], 0, 0},
        {"units: 12 bytes", flat(&units[0]), abc, 0, abd, 0, -1},
        {"units: 8 bytes", flat(&units[1]), abc, 0, abd, 0, 0},
        {"units: 11 bytes", flat(&units[2]), abc, 0, aca, 0, -1},
        {"units: 3 bytes", flat(&units[3]), aca, 0, abc, 0, 0},
        {"reverseOrder leaves parts", flat(pair, 0, 2, 1), &k12[0], 0, &k12[1], 0, 1},
        {"no parts: equal", flat(pair, 0, 0), &k12[0], 0, &k12[1], 0, 0},
        {"access path", ref(&deep), outer[0], 0, outer[1], 0, -1},
        {"shorter first", bytes(0), "ab", 2, "abc", 3, -1},
        {"unsigned bytes decide", bytes(0), "ab\xf0", 3, "abc", 3, 1},
        {"over the size", bytes(0), "abd", 2, "abc", 2, 0},
        {"empty first", bytes(0), "", 0, "a", 1, -1},
        {"reversed: shorter last", bytes(1), "ab", 2, "abc", 3, 1},
        {"mode 7 as bytes", treeParms(7), "b", 1, "ab", 2, 1},
        {"plain case", flat(&text), "abc", 0, "ABC", 0, 1},
        {"case only: equal", flat(&text, norm), "abc", 0, "ABC", 0, 0},
        {"case only: equal, swapped", flat(&text, norm), "ABC", 0, "abc", 0, 0},
        {"normalised less", flat(&text, norm), "abc", 0, "ABD", 0, -1},
        {"normalised greater", flat(&text, norm), "b  ", 0, "A  ", 0, 1},
        {"normalised descending", flat(&textDown, norm), "abc", 0, "ABD", 0, 1},
        {"normalised bytes", bytes(0, norm), "abc", 3, "ABC", 3, 0},
        {"normalised: shorter first", bytes(0, norm), "abc", 3, "ABCD", 4, -1},
        {"normalised reversed", bytes(1, norm), "abc", 3, "ABCD", 4, 1},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(omb::compareKeys(row.parms, row.a, row.sizeA, row.b, row.sizeB), row.expected) << row.what;
        for (int swap : {0, 1}) {  // the specialised orders in both directions
            void *stored = const_cast<void *>(swap ? row.a : row.b);
            OmbrixTreeNode node{swap ? row.sizeA : row.sizeB, stored, 0, 0, nullptr, nullptr, nullptr};
            int32_t walked = omb::withKeyOrder(row.parms, [&](const auto &order) {
                omb::prepareNode(order, &node);
                auto c = omb::probeFor(order, swap ? row.b : row.a, swap ? row.sizeB : row.sizeA).compare(&node);
                return (c > 0) - (c < 0);
            });
            EXPECT_EQ(walked, swap ? -row.expected : row.expected) << row.what << (swap ? ", swapped" : "");
        }
    }
}

}  // namespace
