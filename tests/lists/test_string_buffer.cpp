// The string buffer: exact bytes and lengths, growth, the shared status,
// numbers through the host's formatter and transcoder, refused allocations.
#include <gtest/gtest.h>

#include <string>

#include "core/container.h"
#include "fault_sweep.h"
#include "host_fixture.h"
#include "lists/string_buffer.h"

namespace {

using Buffer = OmbrixStringBuffer;
using std::string;
constexpr int32_t kNoMemory = static_cast<int32_t>(OMBRIX_E_NO_MEMORY);
constexpr int32_t kTooSmall = static_cast<int32_t>(OMBRIX_E_BUFFER_TOO_SMALL);

class StringBufferTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        pool = omb::hostCreatePool(host, omb::poolParms, nullptr, "c");
    }
    void TearDown() override { omb::poolDestroy(pool), HostTest::TearDown(); }
    // The text, once every byte from length through capacity is seen zero.
    static string textOf(const Buffer *b) {
        for (uint64_t i = b->length; i <= b->capacity; ++i) EXPECT_EQ(b->text[i], 0) << i;
        return string(b->text, b->length);
    }
    QVWord *pool = nullptr;
    int32_t status = 0;
};

// Each row appends its pieces (length 0: measured as whole UTF-8 characters)
// to a new buffer and ends with that text and capacity.
TEST_F(StringBufferTest, AppendRows) {
    const struct {
        uint64_t capacity;
        std::vector<std::pair<string, uint64_t>> pieces;
        string text;
        uint64_t grown;
    } rows[] = {
        {0, {{"abc", 0}, {"defghi", 2}, {string("x\0y", 3), 3}, {"", 0}}, string("abcdex\0y", 8), 32},
        {0, {{"\xC3\xA9t\xC3\xA9", 0}, {"z\xE2\x82", 0}, {"abc\xFF", 0}, {"a\xFF", 2}},
         "\xC3\xA9t\xC3\xA9za\xFF", 32},  // a cut character, a byte that starts none: not taken
        {0, {{string(31, 'a'), 0}, {"b", 0}}, string(31, 'a') + "b", 48},
        {0, {{string(32, 'a'), 0}, {string(100, 'c'), 0}}, string(32, 'a') + string(100, 'c'), 132},
        {0, {{string(132, 'c'), 0}, {"d", 0}}, string(132, 'c') + "d", 198},
        {1, {{"", 0}, {"q", 0}, {"r", 0}}, "qr", 2},  // 1 + 1 / 2 is still 1
    };
    for (const auto &row : rows) {
        Buffer *b = stringBufferNew(pool, row.capacity);
        for (const auto &[piece, n] : row.pieces) EXPECT_EQ(b->addString(b, piece.data(), n, &status), b);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(textOf(b), row.text) << &row - rows;
        EXPECT_EQ(b->capacity, row.grown) << &row - rows;
        EXPECT_EQ(poolStats(pool).liveBlocks, 2u) << "the old arrays went back";
        b->destroy(b, 1);
    }
    EXPECT_EQ(stringBufferNew(nullptr, 16), nullptr);
    EXPECT_EQ(stringBufferNew(pool, UINT64_MAX), nullptr) << "capacity + 1 cannot be asked for";
}

// A piece from the buffer's own text, impossible lengths, a failed or
// missing status, reset, and a text kept past its buffer.
TEST_F(StringBufferTest, EdgesOfAppendResetAndDestroy) {
    Buffer *b = stringBufferNew(pool, 8);
    b->addString(b, "abc", 0, &status)->addString(b, b->text, 3, &status);  // fits
    b->addString(b, b->text + 1, 4, &status);  // grows: read before the old array goes
    for (uint64_t n : {UINT64_MAX - 1, UINT64_MAX - 10}) {  // length + n, capacity + 1 wrap
        b->addString(b, "x", n, &(status = 0));
        EXPECT_EQ(status, kNoMemory);
    }
    status = 1;
    b->addString(b, "x", 1, &status)->addInt(b, 7, &status)->addDouble(b, nullptr, 0, &status, 1.0);
    b->addString(b, "x", 1, nullptr)->addInt(b, 1, nullptr)->addDouble(b, nullptr, 0, nullptr, 1.0);
    EXPECT_EQ(stringBufferAddInt(nullptr, 1, &(status = 0)), nullptr);
    EXPECT_EQ(qvhostMessageCallCount(host), 0u) << "no number was formatted";
    EXPECT_EQ(textOf(b), "abcabcbcab");
    b->reset(b);
    EXPECT_EQ(textOf(b), "") << "all zero again, the array kept";
    char *text = b->addString(b, "kept", 0, &status)->text;
    b->destroy(b, 0);
    EXPECT_STREQ(text, "kept");
    EXPECT_EQ(poolStats(pool).liveBlocks, 1u) << "the text stays in the pool";
}

// Each row appends one int or double: the status it ends with and what it
// appended (nothing when it failed). Without a format a double is "%f".
TEST_F(StringBufferTest, NumberRows) {
    std::u32string surrogate = U"%.0f";
    surrogate += static_cast<char32_t>(0xD800);
    // A format of "int" stands for an AddInt.
    const struct {
        std::u32string format;
        int32_t formatLength;
        double value;
        int32_t status;
        string appended;
    } rows[] = {
        {U"int", 0, -5, 0, "-5"}, {U"int", 0, INT32_MIN, 0, "-2147483648"},
        {U"", 0, 1.5, 0, "1.500000"}, {U"", 9, -0.25, 0, "-0.250000"},  // no format: no length read
        {U"%.2f", 4, 3.14159, 0, "3.14"}, {U"%fxyz", 0, 2.0, 0, "2.000000"},  // 0 is two units
        {U"%.1f\u20ac", 5, 2.5, 0, "2.5\xE2\x82\xAC"},
        {U"%030.2f", 7, 1.5, 0, string(26, '0') + "1.50"},
        {U"%031.2f", 7, 1.5, kTooSmall, ""}, {U"", 0, 1e300, kTooSmall, ""},
        {U"%.0f" + std::u32string(10, U'\u20ac'), 14, 7.0, kTooSmall, ""},  // over 30 bytes as UTF-8
        {surrogate, 5, 7.0, static_cast<int32_t>(OMBRIX_E_INVALID_SEQUENCE), ""},
    };
    Buffer *b = stringBufferNew(pool, 0);
    for (const auto &row : rows) {
        b->reset(b);
        auto *units = reinterpret_cast<const QVChar *>(row.format.empty() ? nullptr : row.format.c_str());
        b->addString(b, "n:", 0, &(status = 0));
        if (row.format == U"int") b->addInt(b, static_cast<int32_t>(row.value), &status);
        else b->addDouble(b, units, row.formatLength, &status, row.value);
        EXPECT_EQ(status, row.status) << &row - rows;
        EXPECT_EQ(textOf(b), "n:" + row.appended) << &row - rows;
    }
    qvhostSetValue(host, QV_HOST_DEFAULT_MSG_CONTEXT, nullptr);
    b->addInt(b, 1, &(status = 0));
    EXPECT_EQ(status, static_cast<int32_t>(OMBRIX_E_NO_CONTEXT));
    qvhostSetValue(host, QV_HOST_CONVERSION_SERVICES, nullptr);
    uint64_t calls = qvhostMessageCallCount(host);
    b->addDouble(b, nullptr, 0, &(status = 0), 1.0);
    EXPECT_EQ(status, static_cast<int32_t>(OMBRIX_E_UNSUPPORTED)) << "no transcoder";
    EXPECT_EQ(qvhostMessageCallCount(host), calls) << "nothing formatted that cannot be converted";
    EXPECT_EQ(textOf(b), "n:");
}

// Each append on a buffer a byte short of growing: every refused allocation
// leaves the buffer as it was and reports 0x803fc002.
TEST_F(StringBufferTest, RefusedAllocationsLeaveTheBufferAsItWas) {
    using Add = Buffer *(*)(Buffer *, int32_t *);
    const std::pair<Add, string> adds[] = {
        {[](Buffer *b, int32_t *s) { return b->addString(b, "xyz", 0, s); }, "xyz"},
        {[](Buffer *b, int32_t *s) { return b->addInt(b, -42, s); }, "-42"},
        {[](Buffer *b, int32_t *s) { return b->addDouble(b, nullptr, 0, s, 0.5); }, "0.500000"}};
    const string kept(31, 'k');
    for (const auto &[add, added] : adds) {
        Buffer *b = stringBufferNew(pool, 0);
        char *const text = b->addString(b, kept.data(), 0, &status)->text;
        uint64_t made = sweepAllocationFailures(
            host, [&] { return add(b, &(status = 0)) && status == 0; },
            [&](uint64_t n) {
                EXPECT_TRUE(status == kNoMemory && b->text == text && poolStats(pool).liveBlocks == 2) << n;
                EXPECT_EQ(textOf(b), kept) << n;
            });
        EXPECT_EQ(made, 1u) << "the grown array only";
        EXPECT_EQ(textOf(b), kept + added);
        b->destroy(b, 1);
    }
    uint64_t made = sweepAllocationFailures(
        host, [&] { Buffer *b = stringBufferNew(pool, 64); return b && (b->destroy(b, 1), true); },
        [&](uint64_t) { EXPECT_EQ(poolStats(pool).liveBlocks, 0u); });
    EXPECT_EQ(made, 2u);
}

}  // namespace
