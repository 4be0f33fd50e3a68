// The reference host's journals and message services, reached through the
// library's wrappers: what a journal records and writes, the QVChar
// formatter's conversions and the status texts.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "host_fixture.h"
#include "ombrix/messages.h"

namespace {

uintptr_t v(const void *p) { return reinterpret_cast<uintptr_t>(p); }
const QVChar *units(const std::u32string &s) { return reinterpret_cast<const QVChar *>(s.c_str()); }

const char kPoolFormat[] = "pool %s has %d blocks";
const char kNumberFormat[] = "x=%u";
constexpr QVStatus kTooSmall = 0x803fe807u;

class Journals : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        journal = qvhostJournalCreate(host);
        qvhostJournalSetEcho(journal, 0);
    }
    void TearDown() override {
        qvhostJournalDestroy(journal);
        HostTest::TearDown();
    }
    QVWord *journal = nullptr;
};

// `entry`: what the journal records (null: nothing); `text`: what the
// buffer holds (null: not touched). Buffers start as 'z' bytes.
TEST_F(Journals, EachSlotRecordsOrWritesItsTextAndRemembersItsValues) {
    char b[64];
    const struct {
        const char *what;
        std::function<QVStatus()> call;
        QVStatus status;
        const char *entry, *text;
        int slot;
        uintptr_t values[5];
    } cases[] = {
        {"status to journal", [&] { return qvlStatusToJnl(journal, 4, 1); }, 0,
         "status facility 4 code 1", nullptr, QV_JOURNAL_STATUS_TO_JNL, {4, 1}},
        {"message to journal", [&] { return qvlMessageToJnl(journal, 12, 3, v(kPoolFormat), "ombrixa", 7); },
         0, "message 12 severity 3: pool ombrixa has 7 blocks", nullptr, QV_JOURNAL_MESSAGE_TO_JNL,
         {12, 3, v(kPoolFormat)}},
        {"message without format", [&] { return qvlMessageToJnl(journal, 13, 0, 0); }, 0,
         "message 13 severity 0", nullptr, QV_JOURNAL_MESSAGE_TO_JNL, {13}},
        {"message to buffer", [&] { return qvlMessageToBuf(journal, v(b), 64, 5, 2, v(kNumberFormat), 42u); },
         0, nullptr, "message 5 severity 2: x=42", QV_JOURNAL_MESSAGE_TO_BUF,
         {v(b), 64, 5, 2, v(kNumberFormat)}},
        {"status to buffer", [&] { return qvlStatusToBuf(journal, v(b), 64, 4, 1); }, 0, nullptr,
         "status facility 4 code 1", QV_JOURNAL_STATUS_TO_BUF, {v(b), 64, 4, 1}},
        {"status cut short", [&] { return qvlStatusToBuf(journal, v(b), 7, 4, 1); }, kTooSmall,
         nullptr, "status", QV_JOURNAL_STATUS_TO_BUF, {v(b), 7, 4, 1}},
        {"null buffer", [&] { return qvlStatusToBuf(journal, 0, 10, 4, 1); }, kTooSmall, nullptr,
         nullptr, QV_JOURNAL_STATUS_TO_BUF, {0, 10, 4, 1}},
        {"capacity 0", [&] { return qvlStatusToBuf(journal, v(b), 0, 4, 1); }, kTooSmall, nullptr,
         nullptr, QV_JOURNAL_STATUS_TO_BUF, {v(b), 0, 4, 1}},
        {"locale", [&] { return qvlGetLocale(journal, v(b), 64, 0, 0); }, 0, nullptr, "en_US",
         QV_JOURNAL_GET_LOCALE, {v(b), 64}},
        {"locale without room", [&] { return qvlGetLocale(journal, v(b), 5, 0, 0); }, kTooSmall,
         nullptr, nullptr, QV_JOURNAL_GET_LOCALE, {v(b), 5}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::memset(b, 'z', sizeof b);
        size_t entries = qvhostJournalCount(journal);
        EXPECT_EQ(c.call(), c.status);
        ASSERT_EQ(qvhostJournalCount(journal), entries + (c.entry ? 1 : 0));
        EXPECT_STREQ(qvhostJournalEntry(journal, entries), c.entry);
        if (c.text) {
            EXPECT_STREQ(b, c.text);
            EXPECT_EQ(b[std::strlen(c.text) + 1], 'z') << "nothing past the terminator";
        } else {
            EXPECT_EQ(b[0], 'z');
        }
        uintptr_t values[5] = {9, 9, 9, 9, 9};
        EXPECT_EQ(qvhostJournalLastValues(journal, values), c.slot);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(values[i], c.values[i]) << "value " << i;
    }
    EXPECT_EQ(qvhostJournalEntry(journal, qvhostJournalCount(journal)), nullptr);
}

TEST_F(Journals, ClearAndTheHandlesOwnJournal) {
    qvlStatusToJnl(journal, 7, 8);
    qvhostJournalClear(journal);
    uintptr_t values[5] = {1, 1, 1, 1, 1};
    EXPECT_EQ(qvhostJournalLastValues(journal, values), 0);
    EXPECT_TRUE(values[0] == 0 && qvhostJournalCount(journal) == 0) << "forgotten";

    EXPECT_EQ(host[QV_HOST_DEFAULT_JOURNAL], qvhostDefaultJournal(host));
    EXPECT_NE(qvhostDefaultJournal(host), journal);
}

// The formatter through the host's default context; `text` receives the
// units written, `unitAfter` the unit just past the capacity.
class Formatter : public HostTest {
  protected:
    template <typename... Args>
    QVStatus format(int32_t capacity, const std::u32string &f, Args... args) {
        QVChar out[256];
        std::fill(std::begin(out), std::end(out), 0xFFFFu);
        length = -7;
        QVStatus s = qvzFormatBuff(nullptr, units(f), int32_t(f.size()), out, capacity, &length, args...);
        text.assign(reinterpret_cast<const char32_t *>(out), length > 0 ? length : 0);
        unitAfter = capacity >= 0 && capacity < 256 ? out[capacity] : 0;
        return s;
    }
    template <typename... Args>
    void expectText(const std::u32string &expected, const std::u32string &f, Args... args) {
        EXPECT_EQ(format(200, f, args...), 0u) << std::string(f.begin(), f.end());
        EXPECT_EQ(text, expected);
        EXPECT_EQ(length, static_cast<int32_t>(expected.size()));
    }
    std::u32string text;
    int32_t length = 0;
    QVChar unitAfter = 0;
};

TEST_F(Formatter, Conversions) {
    expectText(U"plain text", U"plain text");
    expectText(U"-42 42 beef BEEF 10", U"%d %u %x %X %o", -42, 42u, 0xbeefu, 0xbeefu, 8u);
    expectText(U"-9223372036854775808|18446744073709551615|123456789abcdef", U"%ld|%lu|%lx",
               long{INT64_MIN}, static_cast<unsigned long>(UINT64_MAX), 0x123456789abcdefUL);
    expectText(U"-1 -32767 -5 77", U"%hhd %hd %lld %zu", 0x1ff, 0x18001, -5LL, size_t{77});
    expectText(U"100% %y and %5 %\u00e9d", U"100%% %y and %5 %\u00e9d");  // no directive: copied
    expectText(U"[   42][42   ][00042][+42][ 42]", U"[%5d][%-5d][%05d][%+d][% d]", 42, 42, 42, 42, 42);
    expectText(U"[   7][7  ][007][7  ]", U"[%*d][%-*d][%.*d][%*d]", 4, 7, 3, 7, 3, 7, -3, 7);
    expectText(U"0xff 010", U"%#x %#o", 255u, 8u);
    expectText(U"3.14|  -2.500|1.234500e+03|0.0001|2.250000", U"%.2f|%8.3f|%e|%g|%Lf", 3.14159,
               -2.5, 1234.5, 0.0001, 2.25L);
    char p[32];
    expectText(std::u32string(p, p + std::snprintf(p, sizeof p, "%p", (void *)&text)), U"%p", (void *)&text);
    const QVChar wide[] = {'h', 0xE9, 0x1F600, 0};
    expectText(U"<bytes><h\u00e9\U0001F600><A><\u263a><  x>", U"<%s><%S><%c><%c><%3c>", "bytes", wide,
               'A', 0x263A, 'x');
    expectText(U"<abc><    ab><ab    ><h\u00e9>< h\u00e9\U0001F600><h\u00e9\U0001F600>",
               U"<%.3s><%6s><%-6s><%.2S><%4S><%ls>", "abcdef", "ab", "ab", wide, wide, wide);
    expectText(U"(null)|(null)", U"%s|%S", static_cast<const char *>(nullptr),
               static_cast<const QVChar *>(nullptr));
}

// Plain decimal and "%f" directives take a shorter path than the others;
// its text must be the C library's, rounding of exact ties included.
TEST_F(Formatter, PlainNumbersReadAsTheCLibraryWritesThem) {
    auto same = [&](const char *cFormat, auto value) {
        char expected[512];
        int n = std::snprintf(expected, sizeof expected, cFormat, value);
        ASSERT_EQ(format(200, std::u32string(cFormat, cFormat + std::strlen(cFormat)), value), 0u);
        EXPECT_EQ(text, std::u32string(expected, expected + n)) << cFormat << " " << expected;
    };
    for (long v : {0L, 1L, -1L, 9L, 10L, -10L, 2147483647L, -2147483648L, LONG_MAX, LONG_MIN}) {
        same("%ld", v);
        same("%d", static_cast<int>(v));
        same("%lu", static_cast<unsigned long>(v));
    }
    for (double v : {0.0, -0.0, 0.5, 1.5, 2.5, 0.125, 0.375, 1e-7, 5e-7, 4.5e-7, 0.1, 1.0 / 3,
                     2.0 / 3, 123456.789, 1e15, 1e22, 1e23, -9.999999e-5, 5e-324, 1e100,
                     std::nan(""), HUGE_VAL, -HUGE_VAL})
        for (const char *f : {"%f", "%.0f", "%.2f", "%.17f", "%F"}) same(f, v);
    same("%.40f", 0.1);
}

// At most the capacity is written, with no terminator; what does not fit
// is cut at the capacity with 0x803fe807. Only formatLength units are read.
TEST_F(Formatter, CapacityAndFormatLength) {
    EXPECT_EQ(format(4, U"abcdef"), kTooSmall);
    EXPECT_TRUE(text == U"abcd" && unitAfter == 0xFFFFu);
    EXPECT_EQ(format(13, U"%ld", 1234567890123L), 0u) << "an exact fit";
    EXPECT_TRUE(length == 13 && unitAfter == 0xFFFFu) << "no terminator";
    EXPECT_EQ(format(5, U"%ld", 1234567890123L), kTooSmall);
    EXPECT_EQ(text, U"12345");
    EXPECT_EQ(format(3, U"x%5s", "ab"), kTooSmall);
    EXPECT_EQ(text, U"x  ");
    EXPECT_EQ(format(30, U"%f", 1e22), 0u);
    EXPECT_EQ(text, U"10000000000000000000000.000000");
    EXPECT_EQ(format(0, U""), 0u);
    EXPECT_EQ(format(0, U"a"), kTooSmall);
    EXPECT_EQ(format(-3, U"a"), kTooSmall) << "a negative capacity holds nothing";
    EXPECT_EQ(length, 0);

    const std::u32string f = U"%ld and more";
    QVChar out[16];
    for (auto [formatLength, written] : {std::pair{3, 2}, {-1, 11}, {0, 0}}) {
        EXPECT_EQ(qvzFormatBuff(nullptr, units(f), formatLength, out, 16, &length, 12L), 0u);
        EXPECT_EQ(length, written) << "format length " << formatLength;
    }
}

TEST_F(Formatter, StatusTexts) {
    const struct { QVStatus status; size_t capacity; QVStatus result; const char *text; } cases[] = {
                 {0, 64, 0, "0x00000000: success"},
                 {0x803fc002, 64, 0, "0x803fc002: out of memory"},
                 {0x803fe807, 64, 0, "0x803fe807: buffer too small"},
                 {0x12345678, 64, 0, "0x12345678: unknown status"},
                 {0x803fc002, 11, kTooSmall, "0x803fc002"}};
    for (const auto &c : cases) {
        char buffer[64];
        std::memset(buffer, 'z', sizeof buffer);
        EXPECT_EQ(qvzStatusBuff(nullptr, c.status, v(buffer), c.capacity, 0), c.result);
        EXPECT_STREQ(buffer, c.text);
        EXPECT_EQ(buffer[std::strlen(c.text) + 1], 'z');
    }
    EXPECT_EQ(qvhostStatusMeaning(0x803fc003), nullptr);
}

}  // namespace
