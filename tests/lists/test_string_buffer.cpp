// The string buffer on the reference host: exact bytes and lengths, growth,
// the shared status, numbers through the host's formatter and transcoder,
// and refused allocations.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "core/container.h"
#include "core/host_calls.h"
#include "fault_sweep.h"
#include "host_fixture.h"
#include "lists/string_buffer.h"
#include "qvhost.h"

namespace {

using Buffer = OmbrixStringBuffer;

constexpr int32_t kNoMemory = static_cast<int32_t>(OMBRIX_E_NO_MEMORY);
constexpr int32_t kTooSmall = static_cast<int32_t>(OMBRIX_E_BUFFER_TOO_SMALL);

const QVChar *units(const std::u32string &s) { return reinterpret_cast<const QVChar *>(s.c_str()); }

class StringBufferTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        pool = omb::hostCreatePool(host, omb::poolParms, nullptr, "caller");
        ASSERT_NE(pool, nullptr);
    }
    // The pool takes every buffer a test left in it.
    void TearDown() override {
        omb::poolDestroy(pool);
        HostTest::TearDown();
    }

    static std::string textOf(const Buffer *b) { return std::string(b->text, b->length); }

    // The invariant: every byte from length through the terminator slot at
    // capacity is zero.
    static bool zeroFromLength(const Buffer *b) {
        for (uint64_t i = b->length; i <= b->capacity; ++i)
            if (b->text[i] != 0) return false;
        return true;
    }

    uint64_t liveBlocks() { return poolStats(pool).liveBlocks; }

    Buffer *append(Buffer *b, const std::string &piece) {
        int32_t status = 0;
        b->addString(b, piece.data(), piece.size(), &status);
        EXPECT_EQ(status, 0);
        return b;
    }

    QVWord *pool = nullptr;
};

TEST_F(StringBufferTest, NewNeedsAPoolAndStartsEmptyAndTerminated) {
    EXPECT_EQ(stringBufferNew(nullptr, 16), nullptr);
    EXPECT_EQ(stringBufferNew(pool, UINT64_MAX), nullptr) << "capacity + 1 cannot be asked for";
    EXPECT_EQ(liveBlocks(), 0u);

    Buffer *b = stringBufferNew(pool, 0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->length, 0u);
    EXPECT_EQ(b->capacity, 32u) << "0 selects 32";
    EXPECT_EQ(b->pool, pool);
    EXPECT_TRUE(zeroFromLength(b));
    EXPECT_EQ(liveBlocks(), 2u) << "the object and the text";
    b->destroy(b, 1);
    EXPECT_EQ(liveBlocks(), 0u);

    b = stringBufferNew(pool, 5);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->capacity, 5u);
}

TEST_F(StringBufferTest, AddStringCopiesExactBytesAndKeepsTheTerminator) {
    Buffer *b = stringBufferNew(pool, 0);
    ASSERT_NE(b, nullptr);
    int32_t status = 0;
    EXPECT_EQ(b->addString(b, "abc", 0, &status), b) << "returns the buffer, for chaining";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(b->length, 3u);
    EXPECT_STREQ(b->text, "abc");

    b->addString(b, "defghi", 2, &status);  // a given length is taken as it is
    EXPECT_EQ(textOf(b), "abcde");
    b->addString(b, "x\0y", 3, &status);  // embedded NUL: n bytes, not up to the NUL
    EXPECT_EQ(b->length, 8u);
    EXPECT_EQ(std::memcmp(b->text, "abcdex\0y", 9), 0);
    b->addString(b, "", 0, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(b->length, 8u);
    EXPECT_TRUE(zeroFromLength(b));
}

TEST_F(StringBufferTest, LengthZeroMeasuresWholeUtf8Characters) {
    Buffer *b = stringBufferNew(pool, 0);
    ASSERT_NE(b, nullptr);
    int32_t status = 0;
    b->addString(b, "\xC3\xA9t\xC3\xA9", 0, &status);  // "été": 5 bytes
    EXPECT_EQ(b->length, 5u);
    // A lead byte whose sequence the NUL cuts short is not taken.
    b->addString(b, "z\xE2\x82", 0, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(textOf(b), "\xC3\xA9t\xC3\xA9z");
    // Text whose last byte can start no character measures 0: nothing is
    // appended, and that is no failure.
    b->addString(b, "abc\xFF", 0, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(b->length, 6u);
    b->addString(b, "abc\xFF", 4, &status);  // a given length is not measured
    EXPECT_EQ(textOf(b), "\xC3\xA9t\xC3\xA9zabc\xFF");
}

TEST_F(StringBufferTest, GrowsWhenTheTextReachesTheCapacity) {
    Buffer *b = stringBufferNew(pool, 0);
    ASSERT_NE(b, nullptr);
    append(b, std::string(31, 'a'));
    EXPECT_EQ(b->capacity, 32u) << "31 bytes stay below the capacity";
    append(b, "b");
    EXPECT_EQ(b->capacity, 48u) << "32 >= 32 grows by half";
    EXPECT_EQ(textOf(b), std::string(31, 'a') + "b");
    EXPECT_TRUE(zeroFromLength(b));

    append(b, std::string(100, 'c'));
    EXPECT_EQ(b->capacity, 132u) << "a piece larger than half grows to the exact need";
    append(b, "d");
    EXPECT_EQ(b->capacity, 198u) << "reaching an exact fit grows by half again";
    EXPECT_EQ(b->length, 133u);
    EXPECT_EQ(textOf(b), std::string(31, 'a') + "b" + std::string(100, 'c') + "d");
    EXPECT_TRUE(zeroFromLength(b));
    EXPECT_EQ(liveBlocks(), 2u) << "each old array went back to the pool";
    b->destroy(b, 1);

    b = stringBufferNew(pool, 0);
    append(b, std::string(32, 'x'));
    EXPECT_EQ(b->capacity, 48u) << "a 32-byte append to a new buffer";
    b->destroy(b, 1);

    b = stringBufferNew(pool, 1);
    append(b, "");
    EXPECT_EQ(b->capacity, 1u) << "an empty piece never grows the array";
    append(b, "q");
    EXPECT_EQ(b->capacity, 1u) << "max(1, 1 * 3 / 2): the text may fill the capacity";
    EXPECT_EQ(textOf(b), "q");
    append(b, "r");
    EXPECT_EQ(b->capacity, 2u);
    EXPECT_EQ(textOf(b), "qr");
}

TEST_F(StringBufferTest, APieceMayComeFromTheBuffersOwnText) {
    Buffer *b = stringBufferNew(pool, 8);
    ASSERT_NE(b, nullptr);
    append(b, "abc");
    int32_t status = 0;
    b->addString(b, b->text, 3, &status);  // fits: no growth
    EXPECT_EQ(textOf(b), "abcabc");
    b->addString(b, b->text + 1, 4, &status);  // grows: the old array is read before it goes
    EXPECT_EQ(status, 0);
    EXPECT_EQ(textOf(b), "abcabcbcab");
    EXPECT_TRUE(zeroFromLength(b));
}

TEST_F(StringBufferTest, AFailedStatusStopsEveryAppendAndNullsDoNothing) {
    Buffer *b = stringBufferNew(pool, 0);
    ASSERT_NE(b, nullptr);
    append(b, "kept");
    int32_t status = 12345;
    EXPECT_EQ(b->addString(b, "x", 1, &status), b);
    EXPECT_EQ(b->addInt(b, 7, &status), b);
    EXPECT_EQ(b->addDouble(b, nullptr, 0, &status, 1.0), b);
    EXPECT_EQ(status, 12345) << "left as it was";
    EXPECT_EQ(textOf(b), "kept");

    status = 0;
    EXPECT_EQ(stringBufferAddString(nullptr, "x", 1, &status), nullptr);
    EXPECT_EQ(stringBufferAddInt(nullptr, 1, &status), nullptr);
    EXPECT_EQ(stringBufferAddDouble(nullptr, nullptr, 0, &status, 1.0), nullptr);
    b->addString(b, nullptr, 3, &status);
    EXPECT_EQ(status, 0);
    // The status is required; without one nothing happens.
    b->addString(b, "x", 1, nullptr);
    b->addInt(b, 1, nullptr);
    b->addDouble(b, nullptr, 0, nullptr, 1.0);
    EXPECT_EQ(textOf(b), "kept");
    EXPECT_EQ(qvhostMessageCallCount(host), 0u) << "no number was formatted";
}

TEST_F(StringBufferTest, AddIntFormatsTheWidenedValueWithLd) {
    Buffer *b = stringBufferNew(pool, 0);
    ASSERT_NE(b, nullptr);
    int32_t status = 0;
    b->addString(b, "x=", 0, &status)->addInt(b, -5, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(textOf(b), "x=-5");

    QVHostMessageCall call{};
    qvhostLastMessageCall(host, &call);
    EXPECT_EQ(call.slot, QV_HOST_FORMAT_BUFF);
    EXPECT_EQ(call.context, nullptr) << "no context: the host's default";
    const QVChar *format = reinterpret_cast<const QVChar *>(call.values[0]);
    EXPECT_EQ(std::u32string(reinterpret_cast<const char32_t *>(format), 3), U"%ld");
    EXPECT_EQ(call.values[1], 3u);
    EXPECT_EQ(call.values[3], 30u) << "a 30-unit buffer";

    b->addInt(b, INT32_MIN, &status)->addInt(b, INT32_MAX, &status)->addInt(b, 0, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(textOf(b), "x=-5-214748364821474836470");
    EXPECT_TRUE(zeroFromLength(b));
}

// Each row appends one double to "n:": the status it ends with and what
// it appended (nothing when it failed). An empty format stands for none,
// which is "%f" whatever length is given.
TEST_F(StringBufferTest, AddDoubleFormatsOrFailsAndAppendsNothing) {
    std::u32string surrogate = U"%.0f";
    surrogate += static_cast<char32_t>(0xD800);
    const struct {
        const char *what;
        std::u32string format;
        int32_t formatLength;
        double value;
        int32_t status;
        std::string appended;
    } rows[] = {
        {"no format: %f", U"", 0, 1.5, 0, "1.500000"},
        {"without a format the length is not read", U"", 9, -0.25, 0, "-0.250000"},
        {"a format of its length", U"%.2f", 4, 3.14159, 0, "3.14"},
        {"a format length of 0 is two units", U"%fxyz", 0, 2.0, 0, "2.000000"},
        {"the units come out as UTF-8", U"%.1f\u20ac", 5, 2.5, 0, "2.5\xE2\x82\xAC"},
        {"30 units fit exactly", U"%030.2f", 7, 1.5, 0, std::string(26, '0') + "1.50"},
        {"31 units: the formatter's status", U"%031.2f", 7, 1.5, kTooSmall, ""},
        {"%f of 1e300", U"", 0, 1e300, kTooSmall, ""},
        {"30 units, more than 30 bytes once in UTF-8: the transcoder's status",
         U"%.0f" + std::u32string(10, U'\u20ac'), 14, 7.0, kTooSmall, ""},
        {"a unit that is no character: the transcoder refuses it", surrogate, 5, 7.0,
         static_cast<int32_t>(OMBRIX_E_INVALID_SEQUENCE), ""},
    };
    Buffer *b = stringBufferNew(pool, 0);
    ASSERT_NE(b, nullptr);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        b->reset(b);
        append(b, "n:");
        int32_t status = 0;
        b->addDouble(b, row.format.empty() ? nullptr : units(row.format), row.formatLength, &status,
                     row.value);
        EXPECT_EQ(status, row.status);
        EXPECT_EQ(textOf(b), "n:" + row.appended);
        EXPECT_TRUE(zeroFromLength(b));
    }
}

TEST_F(StringBufferTest, NumbersNeedTheHostsContextAndTranscoder) {
    Buffer *b = stringBufferNew(pool, 0);
    ASSERT_NE(b, nullptr);
    int32_t status = 0;
    qvhostSetValue(host, QV_HOST_DEFAULT_MSG_CONTEXT, nullptr);
    b->addInt(b, 1, &status);
    EXPECT_EQ(status, static_cast<int32_t>(OMBRIX_E_NO_CONTEXT)) << "the formatter's refusal";
    EXPECT_EQ(b->length, 0u);

    status = 0;
    qvhostSetValue(host, QV_HOST_CONVERSION_SERVICES, nullptr);
    uint64_t calls = qvhostMessageCallCount(host);
    b->addDouble(b, nullptr, 0, &status, 1.0);
    EXPECT_EQ(status, static_cast<int32_t>(OMBRIX_E_UNSUPPORTED));
    EXPECT_EQ(qvhostMessageCallCount(host), calls) << "nothing formatted that cannot be converted";
    EXPECT_EQ(b->length, 0u);
    // Before the host has handed over its handle there is no transcoder either.
    status = 0;
    Exported_QVHandle = nullptr;
    b->addInt(b, 3, &status);
    Exported_QVHandle = host;
    EXPECT_EQ(status, static_cast<int32_t>(OMBRIX_E_UNSUPPORTED));
    EXPECT_EQ(b->length, 0u);
    b->addString(b, "text still works", 0, &(status = 0));
    EXPECT_EQ(textOf(b), "text still works");
}

TEST_F(StringBufferTest, ResetEmptiesAndKeepsTheCapacity) {
    Buffer *b = stringBufferNew(pool, 4);
    ASSERT_NE(b, nullptr);
    append(b, "abcdefghij");
    uint64_t capacity = b->capacity;
    b->reset(b);
    EXPECT_EQ(b->length, 0u);
    EXPECT_EQ(b->capacity, capacity);
    EXPECT_TRUE(zeroFromLength(b));
    append(b, "z");
    EXPECT_STREQ(b->text, "z");
    stringBufferReset(nullptr);
}

TEST_F(StringBufferTest, DestroyWithoutFreeingLeavesTheTextInThePool) {
    Buffer *b = stringBufferNew(pool, 0);
    ASSERT_NE(b, nullptr);
    append(b, "outlives the buffer");
    char *text = b->text;
    b->destroy(b, 0);
    EXPECT_EQ(liveBlocks(), 1u);
    EXPECT_STREQ(text, "outlives the buffer");
    omb::poolFree(pool, text);

    stringBufferDestroy(nullptr, 1);
    Buffer orphan{};  // no pool: nothing to free it to
    stringBufferDestroy(&orphan, 1);
    EXPECT_EQ(liveBlocks(), 0u);
}

TEST_F(StringBufferTest, ImpossibleLengthsFailAsOutOfMemoryWithoutReadingThePiece) {
    Buffer *b = stringBufferNew(pool, 0);
    ASSERT_NE(b, nullptr);
    append(b, "ab");
    int32_t status = 0;
    b->addString(b, "x", UINT64_MAX - 1, &status);  // length + n would wrap
    EXPECT_EQ(status, kNoMemory);
    status = 0;
    b->addString(b, "x", UINT64_MAX - 2, &status);  // capacity + 1 would wrap
    EXPECT_EQ(status, kNoMemory);
    EXPECT_EQ(textOf(b), "ab");
    EXPECT_EQ(b->capacity, 32u);
}

class StringBufferFaults : public StringBufferTest {
  protected:
    // Runs `add` on a buffer a byte short of growing; every refused
    // allocation must leave the buffer exactly as it was, with 0x803fc002.
    void sweep(const char *what, Buffer *(*add)(Buffer *, int32_t *), const std::string &added) {
        SCOPED_TRACE(what);
        Buffer *b = stringBufferNew(pool, 0);
        ASSERT_NE(b, nullptr);
        append(b, std::string(31, 'k'));
        const std::string before = textOf(b);
        char *const text = b->text;
        int32_t status = 0;
        uint64_t made = sweepAllocationFailures(
            host,
            [&] {
                status = 0;
                add(b, &status);
                EXPECT_TRUE(status == 0 || status == kNoMemory) << status;
                return status == 0;
            },
            [&](uint64_t) {
                EXPECT_EQ(status, kNoMemory);
                EXPECT_EQ(b->text, text);
                EXPECT_EQ(b->capacity, 32u);
                EXPECT_EQ(textOf(b), before);
                EXPECT_TRUE(zeroFromLength(b));
                EXPECT_EQ(liveBlocks(), 2u);
            });
        EXPECT_EQ(made, 1u) << "the grown array only";
        EXPECT_EQ(textOf(b), before + added);
        EXPECT_EQ(b->capacity, 48u);
        b->destroy(b, 1);
    }
};

TEST_F(StringBufferFaults, EveryRefusedGrowthLeavesTheBufferAsItWas) {
    sweep("addString", [](Buffer *b, int32_t *s) { return b->addString(b, "xyz", 0, s); }, "xyz");
    sweep("addInt", [](Buffer *b, int32_t *s) { return b->addInt(b, -42, s); }, "-42");
    sweep("addDouble",
          [](Buffer *b, int32_t *s) { return b->addDouble(b, nullptr, 0, s, 0.5); }, "0.500000");
}

TEST_F(StringBufferFaults, ARefusedNewLeavesNothingInThePool) {
    Buffer *made = nullptr;
    uint64_t allocations = sweepAllocationFailures(
        host, [&] { return (made = stringBufferNew(pool, 64)) != nullptr; },
        [&](uint64_t) { EXPECT_EQ(liveBlocks(), 0u); });
    EXPECT_EQ(allocations, 2u);
    ASSERT_NE(made, nullptr);
    made->destroy(made, 1);
}

TEST_F(StringBufferFaults, AFailedAppendStopsTheChainUntilTheStatusIsCleared) {
    Buffer *b = stringBufferNew(pool, 0);
    ASSERT_NE(b, nullptr);
    append(b, std::string(31, 'k'));
    int32_t status = 0;
    qvhostFailAllocation(host, 1);
    b->addString(b, "grow", 0, &status)->addString(b, "", 0, &status)->addInt(b, 5, &status);
    qvhostFailAllocation(host, 0);
    EXPECT_EQ(status, kNoMemory) << "reported once, by the first failure";
    EXPECT_EQ(b->length, 31u);
    status = 0;
    b->addString(b, "grow", 0, &status)->addInt(b, 5, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(textOf(b), std::string(31, 'k') + "grow5");
}

}  // namespace
