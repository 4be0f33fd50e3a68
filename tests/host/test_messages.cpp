// The handle's message services: the QVChar formatter, status texts, the
// other services and the record of what reached them.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "host_test.h"

namespace {

const QVChar *units(const std::u32string &s) { return reinterpret_cast<const QVChar *>(s.c_str()); }

class Messages : public HostTest {
  protected:
    struct Record {
        void *context;
        void *reserved;
    };

    // Formats through slot 230 with a {context, 0} record; `text` receives
    // the units written.
    template <typename... Args>
    QVStatus format(void *argument, const std::u32string &fmt, int32_t capacity, Args... args) {
        QVChar out[256];
        std::fill(std::begin(out), std::end(out), 0xFFFFu);
        length = -7;
        auto formatBuff = slot<QVFormatBuffFn>(host, QV_HOST_FORMAT_BUFF);
        QVStatus s = withArgs([&](va_list ap) {
            return formatBuff(host, argument, units(fmt), static_cast<int32_t>(fmt.size()), out,
                              capacity, &length, 0, ap);
        }, 0, args...);
        text.assign(reinterpret_cast<const char32_t *>(out), length > 0 ? length : 0);
        unitAfter = capacity >= 0 && capacity < 256 ? out[capacity] : 0;
        return s;
    }
    // The same with the host's default context reached through {null, 0}.
    template <typename... Args>
    QVStatus fmt(const std::u32string &f, Args... args) {
        return format(&noContext, f, 200, args...);
    }

    // Formats through the default context and expects status 0 and exactly
    // `expected`.
    template <typename... Args>
    void expectText(const std::u32string &expected, const std::u32string &f, Args... args) {
        EXPECT_EQ(fmt(f, args...), 0u);
        EXPECT_EQ(text, expected);
    }

    QVStatus statusText(void *argument, QVStatus status, char *buffer, size_t capacity) {
        return callStatus(argument, status, reinterpret_cast<uintptr_t>(buffer), capacity, 0);
    }
    QVStatus callStatus(void *argument, QVStatus status, uintptr_t v1, uintptr_t v2, uintptr_t v3) {
        auto call = slot<QVStatusBuffFn>(host, QV_HOST_STATUS_BUFF);
        return withArgs([&](va_list ap) { return call(host, argument, status, v1, v2, v3, ap); }, 0);
    }

    QVHostMessageCall last() {
        QVHostMessageCall call{};
        qvhostLastMessageCall(host, &call);
        return call;
    }

    Record noContext{nullptr, nullptr};
    std::u32string text;
    int32_t length = 0;
    QVChar unitAfter = 0;
};

TEST_F(Messages, FormatterCopiesTextAndIntegerDirectives) {
    expectText(U"plain text", U"plain text");
    EXPECT_EQ(length, 10);

    expectText(U"-42 42 beef BEEF 10", U"%d %u %x %X %o", -42, 42u, 0xbeefu, 0xbeefu, 8u);
    expectText(U"-9223372036854775808|18446744073709551615|123456789abcdef", U"%ld|%lu|%lx",
               static_cast<long>(INT64_MIN), static_cast<unsigned long>(UINT64_MAX), 0x123456789abcdefUL);
    expectText(U"-1 -32767 -5 77", U"%hhd %hd %lld %zu", 0x1ff, 0x18001, -5LL, static_cast<size_t>(77));
    expectText(U"100%", U"100%%");
    // What is no directive is copied as it stands.
    expectText(U"%y and %5", U"%y and %5");
    expectText(U"50%", U"50%");
    expectText(U"%\u00e9d", U"%\u00e9d");
}

TEST_F(Messages, FormatterFlagsWidthAndPrecision) {
    expectText(U"[   42][42   ][00042][+42][ 42]", U"[%5d][%-5d][%05d][%+d][% d]", 42, 42, 42, 42, 42);
    expectText(U"[   7][7  ][007]", U"[%*d][%-*d][%.*d]", 4, 7, 3, 7, 3, 7);
    expectText(U"[7  ]", U"[%*d]", -3, 7);  // a negative width argument: left-justified
    expectText(U"0xff 010", U"%#x %#o", 255u, 8u);
}

TEST_F(Messages, FormatterFloatingPointAndPointers) {
    expectText(U"1.500000", U"%f", 1.5);
    expectText(U"3.14|  -2.500|1.234500e+03|0.0001", U"%.2f|%8.3f|%e|%g", 3.14159, -2.5, 1234.5, 0.0001);
    expectText(U"2.250000", U"%Lf", 2.25L);
    char expected[32];
    std::snprintf(expected, sizeof expected, "%p", static_cast<void *>(&text));
    expectText(std::u32string(expected, expected + std::strlen(expected)), U"%p",
               static_cast<void *>(&text));
}

TEST_F(Messages, FormatterTextDirectives) {
    const QVChar wide[] = {'h', 0xE9, 0x1F600, 0};
    expectText(U"<bytes><h\u00e9\U0001F600><A><\u263a>", U"<%s><%S><%c><%c>", "bytes", wide, 'A', 0x263A);
    expectText(U"<abc><    ab><ab    ><h\u00e9>< h\u00e9\U0001F600><h\u00e9\U0001F600>",
               U"<%.3s><%6s><%-6s><%.2S><%4S><%ls>", "abcdef", "ab", "ab", wide, wide, wide);
    expectText(U"<  x>", U"<%3c>", 'x');
    expectText(U"(null)|(null)", U"%s|%S", static_cast<const char *>(nullptr),
               static_cast<const QVChar *>(nullptr));
    expectText(U"\u00e9\U0001F600 1", U"\u00e9\U0001F600 %d", 1);  // units outside ASCII are copied
}

// "%ld" and "%f" into 30 units, as the string buffer formats its numbers:
// what fits is the C library's text, and a text one unit too long is cut
// at the capacity with 0x803fe807.
TEST_F(Messages, FormatterNumbersIntoAFixedBuffer) {
    EXPECT_EQ(format(&noContext, U"%ld", 30, static_cast<long>(INT32_MIN)), 0u);
    EXPECT_EQ(text, U"-2147483648");
    EXPECT_EQ(format(&noContext, U"%f", 30, -0.0), 0u);
    EXPECT_EQ(text, U"-0.000000");
    EXPECT_EQ(format(&noContext, U"%f|%f|%F", 30, HUGE_VAL, -HUGE_VAL, HUGE_VAL), 0u);
    EXPECT_EQ(text, U"inf|-inf|INF");
    EXPECT_EQ(format(&noContext, U"%f", 30, 1e22), 0u);
    EXPECT_EQ(text, U"10000000000000000000000.000000");
    EXPECT_EQ(length, 30) << "an exact fit";

    EXPECT_EQ(format(&noContext, U"%f", 30, 1e24), 0x803fe807u) << "31 units";
    EXPECT_EQ(length, 30);
    char expected[400];
    std::snprintf(expected, sizeof expected, "%f", 1e300);
    EXPECT_EQ(format(&noContext, U"%f", 30, 1e300), 0x803fe807u);
    EXPECT_EQ(text, std::u32string(expected, expected + 30)) << "the first 30 units of the text";
    EXPECT_EQ(unitAfter, 0xFFFFu) << "nothing past the capacity";
}

// Plain decimal and "%f" directives take a shorter path than the others;
// its text must be the C library's, rounding of exact ties included.
TEST_F(Messages, FormatterPlainNumbersReadAsTheCLibraryWritesThem) {
    auto same = [&](const char *cFormat, const std::u32string &qvFormat, auto value) {
        char expected[512];
        int n = std::snprintf(expected, sizeof expected, cFormat, value);
        ASSERT_EQ(fmt(qvFormat, value), 0u) << cFormat;
        EXPECT_EQ(text, std::u32string(expected, expected + n)) << cFormat << " " << expected;
    };
    const long integers[] = {0, 1, -1, 9, 10, -10, 2147483647L, -2147483648L, INT64_MAX, INT64_MIN};
    for (long v : integers) {
        same("%ld", U"%ld", v);
        same("%d", U"%d", static_cast<int>(v));
        same("%lu", U"%lu", static_cast<unsigned long>(v));
    }
    const double doubles[] = {0.0,    -0.0,   0.5,     1.5,     2.5,    0.125, 0.375,
                              1e-7,   5e-7,   4.5e-7,  0.1,     1.0 / 3, 2.0 / 3, 123456.789,
                              1e15,   1e22,   1e23,    -9.999999e-5, 5e-324, 1e100};
    for (double v : doubles) {
        same("%f", U"%f", v);
        same("%.0f", U"%.0f", v);
        same("%.2f", U"%.2f", v);
        same("%.17f", U"%.17f", v);
    }
    same("%f", U"%f", std::nan(""));
    same("%f", U"%f", -HUGE_VAL);
    same("%.40f", U"%.40f", 0.1);
}

TEST_F(Messages, FormatterReadsOnlyFormatLengthUnits) {
    std::u32string f = U"%ld and more";
    QVChar out[16];
    int32_t n = -1;
    auto formatBuff = slot<QVFormatBuffFn>(host, QV_HOST_FORMAT_BUFF);
    auto call = [&](int32_t formatLength, long value) {
        return withArgs(
            [&](va_list ap) { return formatBuff(host, &noContext, units(f), formatLength, out, 16, &n, 0, ap); },
            0, value);
    };
    EXPECT_EQ(call(3, -5L), 0u);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(out[0], QVChar('-'));
    EXPECT_EQ(out[1], QVChar('5'));
    EXPECT_EQ(call(-1, 12L), 0u) << "a negative length reads to the zero unit";
    EXPECT_EQ(n, 11);
    EXPECT_EQ(call(0, 12L), 0u);
    EXPECT_EQ(n, 0);
}

TEST_F(Messages, FormatterOverflowWritesWhatFitsAndNoMore) {
    EXPECT_EQ(format(&noContext, U"abcdef", 4), 0x803fe807u);
    EXPECT_EQ(text, U"abcd");
    EXPECT_EQ(length, 4);
    EXPECT_EQ(unitAfter, 0xFFFFu);

    EXPECT_EQ(format(&noContext, U"%ld", 5, 1234567890123L), 0x803fe807u);
    EXPECT_EQ(text, U"12345");
    EXPECT_EQ(format(&noContext, U"%ld", 13, 1234567890123L), 0u) << "an exact fit is no overflow";
    EXPECT_EQ(length, 13);
    EXPECT_EQ(unitAfter, 0xFFFFu) << "no terminator";
    EXPECT_EQ(format(&noContext, U"x%5s", 3, "ab"), 0x803fe807u);
    EXPECT_EQ(text, U"x  ");
    EXPECT_EQ(format(&noContext, U"", 0), 0u);
    EXPECT_EQ(format(&noContext, U"a", 0), 0x803fe807u);
    EXPECT_EQ(length, 0);
}

TEST_F(Messages, FormatterNeedsAContext) {
    EXPECT_EQ(format(nullptr, U"x", 10), 0x803fc009u);
    EXPECT_EQ(length, 0);

    int mine = 0;
    Record record{&mine, nullptr};
    EXPECT_EQ(format(&record, U"x", 10), 0u);
    void *holder = &mine;
    EXPECT_EQ(format(&holder, U"y", 10), 0u) << "a holder's word is the context as well";
    EXPECT_EQ(text, U"y");

    void *emptyHolder = nullptr;
    qvhostSetValue(host, QV_HOST_DEFAULT_MSG_CONTEXT, &emptyHolder);
    EXPECT_EQ(format(&noContext, U"x", 10), 0x803fc009u) << "default context word holds null";
    qvhostSetValue(host, QV_HOST_DEFAULT_MSG_CONTEXT, nullptr);
    EXPECT_EQ(format(&noContext, U"x", 10), 0x803fc009u) << "no default context word";
    EXPECT_EQ(format(&record, U"x", 10), 0u) << "a context of the caller's still works";
}

TEST_F(Messages, FormatterCallIsRecorded) {
    std::u32string f = U"%d";
    QVChar out[8];
    int32_t n = 0;
    uint64_t before = qvhostMessageCallCount(host);
    int mine = 0;
    Record record{&mine, nullptr};
    auto formatBuff = slot<QVFormatBuffFn>(host, QV_HOST_FORMAT_BUFF);
    EXPECT_EQ(withArgs([&](va_list ap) { return formatBuff(host, &record, units(f), 2, out, -3, &n, 0, ap); },
                       0, 5),
              0x803fe807u)
        << "a negative capacity holds nothing";
    QVHostMessageCall c = last();
    EXPECT_EQ(c.slot, QV_HOST_FORMAT_BUFF);
    EXPECT_EQ(c.argument, &record);
    EXPECT_EQ(c.context, &mine);
    EXPECT_EQ(c.values[0], reinterpret_cast<uintptr_t>(units(f)));
    EXPECT_EQ(c.values[1], 2u);
    EXPECT_EQ(c.values[2], reinterpret_cast<uintptr_t>(out));
    EXPECT_EQ(c.values[3], static_cast<uintptr_t>(-3));
    EXPECT_EQ(c.values[4], reinterpret_cast<uintptr_t>(&n));
    EXPECT_EQ(c.values[5], 0u);
    EXPECT_EQ(c.result, 0x803fe807u);
    EXPECT_EQ(qvhostMessageCallCount(host), before + 1);
}

TEST_F(Messages, StatusTextsOfTheKnownCodes) {
    const struct {
        QVStatus status;
        const char *text;
    } known[] = {{0, "0x00000000: success"},
                 {0x803fc002, "0x803fc002: out of memory"},
                 {0x803fc004, "0x803fc004: unsupported operation"},
                 {0x803fc009, "0x803fc009: no message context"},
                 {0x803fe807, "0x803fe807: buffer too small"},
                 {0x803fe808, "0x803fe808: invalid character sequence"},
                 {0x803fe814, "0x803fe814: truncated character sequence"},
                 {0x12345678, "0x12345678: unknown status"}};
    char buffer[64];
    for (const auto &k : known) {
        EXPECT_EQ(statusText(&noContext, k.status, buffer, sizeof buffer), 0u);
        EXPECT_STREQ(buffer, k.text);
    }
    EXPECT_EQ(qvhostStatusMeaning(0x803fc002), std::string("out of memory"));
    EXPECT_EQ(qvhostStatusMeaning(0x803fc003), nullptr);
}

TEST_F(Messages, StatusTextCutShortAndWithoutContext) {
    char buffer[16];
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(statusText(&noContext, 0x803fc002, buffer, 11), 0x803fe807u);
    EXPECT_STREQ(buffer, "0x803fc002");
    EXPECT_EQ(buffer[11], 'z');
    EXPECT_EQ(statusText(&noContext, 0x803fc002, nullptr, 11), 0x803fe807u);

    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(statusText(nullptr, 0x803fc002, buffer, sizeof buffer), 0x803fc009u);
    EXPECT_EQ(buffer[0], 'z');
    QVHostMessageCall c = last();
    EXPECT_EQ(c.slot, QV_HOST_STATUS_BUFF);
    EXPECT_EQ(c.argument, nullptr);
    EXPECT_EQ(c.result, 0x803fc009u);
}

TEST_F(Messages, StatusCallIsRecorded) {
    char buffer[64];
    void *context = qvhostDefaultMessageContext(host);
    void *holder = context;
    EXPECT_EQ(callStatus(&holder, 0x803fe808, reinterpret_cast<uintptr_t>(buffer), sizeof buffer, 99),
              0u);
    EXPECT_STREQ(buffer, "0x803fe808: invalid character sequence");
    QVHostMessageCall c = last();
    EXPECT_EQ(c.slot, QV_HOST_STATUS_BUFF);
    EXPECT_EQ(c.argument, &holder);
    EXPECT_EQ(c.context, context);
    EXPECT_EQ(c.values[0], 0x803fe808u);
    EXPECT_EQ(c.values[1], reinterpret_cast<uintptr_t>(buffer));
    EXPECT_EQ(c.values[2], sizeof buffer);
    EXPECT_EQ(c.values[3], 99u);
    EXPECT_EQ(c.result, 0u);
}

TEST_F(Messages, CaptureRenderAndRenderFormatted) {
    auto capture = slot<QVCaptureFn>(host, QV_HOST_CAPTURE);
    EXPECT_EQ(withArgs([&](va_list ap) { return capture(host, 11, 22, ap); }, 0), 0u);
    QVHostMessageCall c = last();
    EXPECT_EQ(c.slot, QV_HOST_CAPTURE);
    EXPECT_EQ(c.argument, nullptr);
    EXPECT_EQ(c.values[0], 11u);
    EXPECT_EQ(c.values[1], 22u);

    int mine = 0;
    Record record{&mine, nullptr};
    auto render = slot<QVRenderFn>(host, QV_HOST_RENDER);
    EXPECT_EQ(render(host, &record, 33, 44), 0u);
    c = last();
    EXPECT_EQ(c.slot, QV_HOST_RENDER);
    EXPECT_EQ(c.context, &mine);
    EXPECT_EQ(c.values[0], 33u);
    EXPECT_EQ(c.values[1], 44u);
    EXPECT_EQ(render(host, nullptr, 0, 0), 0x803fc009u);

    char buffer[32];
    auto renderFmt = [&](void *argument, char *out, size_t capacity, const char *f, auto... args) {
        return withArgs([&](va_list ap) {
            return slot<QVRenderFmtFn>(host, QV_HOST_RENDER_FMT)(host, argument, reinterpret_cast<uintptr_t>(out),
                                                                 capacity, reinterpret_cast<uintptr_t>(f), ap);
        }, 0, args...);
    };
    EXPECT_EQ(renderFmt(&record, buffer, sizeof buffer, "%s=%d", "n", 5), 0u);
    EXPECT_STREQ(buffer, "n=5");
    c = last();
    EXPECT_EQ(c.slot, QV_HOST_RENDER_FMT);
    EXPECT_EQ(c.values[1], sizeof buffer);
    EXPECT_EQ(renderFmt(&record, buffer, 3, "%s=%d", "n", 5), 0x803fe807u);
    EXPECT_STREQ(buffer, "n=");
    EXPECT_EQ(renderFmt(&record, buffer, sizeof buffer, nullptr), 0u);
    EXPECT_STREQ(buffer, "");
}

}  // namespace
