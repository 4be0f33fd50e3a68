// Extension lookup by QVChar name, the text services' case operations and
// the transcoder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host_test.h"

namespace {

using CaseFn = QVChar (*)(QVWord *, QVChar, int32_t);

struct Made {
    int calls = 0;
    int object = 0;
    QVWord *host = nullptr;
};

void *makeCounted(QVWord *host, void *data) {
    auto *made = static_cast<Made *>(data);
    ++made->calls;
    made->host = host;
    return &made->object;
}

void *makeNothing(QVWord *, void *data) {
    ++static_cast<Made *>(data)->calls;
    return nullptr;
}

class Services : public HostTest {
  protected:
    void *find(const std::u32string &name, int32_t length) {
        return slot<QVFindExtensionFn>(host, QV_HOST_FIND_EXTENSION)(
            host, reinterpret_cast<const QVChar *>(name.c_str()), length, 0);
    }
    void *find(const std::u32string &name) { return find(name, static_cast<int32_t>(name.size())); }
    QVWord *text() { return static_cast<QVWord *>(host[QV_HOST_TEXT_SERVICES]); }
    QVWord *transcoder() {
        auto *conversion = static_cast<QVWord *>(host[QV_HOST_CONVERSION_SERVICES]);
        return static_cast<QVWord *>(conversion[QV_CONVERSION_TRANSCODER]);
    }
    QVStatus transcode(const std::u32string &source, int64_t sourceBytes, unsigned char *out,
                       int64_t capacity) {
        written = -1;
        return slot<QVTranscodeFn>(transcoder(), QV_TRANSCODER_CONVERT)(
            transcoder(), source.data(), sourceBytes, out, capacity, &written, nullptr);
    }
    QVStatus transcode(const std::u32string &source, unsigned char *out, int64_t capacity) {
        return transcode(source, static_cast<int64_t>(source.size() * 4), out, capacity);
    }

    int64_t written = 0;
};

TEST_F(Services, ExtensionIsMadeOnFirstLookupAndKept) {
    Made made;
    ASSERT_EQ(qvhostRegisterExtension(host, "qveaa", makeCounted, &made), 0);
    EXPECT_EQ(made.calls, 0) << "nothing is made before it is looked up";
    EXPECT_EQ(find(U"qveaa"), &made.object);
    EXPECT_EQ(made.host, host);
    EXPECT_EQ(find(U"qveaa"), &made.object);
    EXPECT_EQ(made.calls, 1);
}

TEST_F(Services, LookupMatchesTheWholeNameOnly) {
    Made aa, ai;
    qvhostRegisterExtension(host, "qveaa", makeCounted, &aa);
    qvhostRegisterExtension(host, "qveai", makeCounted, &ai);
    EXPECT_EQ(find(U"qveai"), &ai.object);
    EXPECT_EQ(find(U"qvea"), nullptr);
    EXPECT_EQ(find(U"qveaax"), nullptr);
    EXPECT_EQ(find(U"QVEAA"), nullptr);
    EXPECT_EQ(find(U"qveaaXYZ", 5), &aa.object) << "only `length` units are the name";
    EXPECT_EQ(find(U"qveaa", -1), &aa.object) << "a negative length reads to the zero unit";
    EXPECT_EQ(find(U"qve\u00e1a"), nullptr);
    EXPECT_EQ(slot<QVFindExtensionFn>(host, QV_HOST_FIND_EXTENSION)(host, nullptr, 5, 0), nullptr);
}

TEST_F(Services, NullResultIsNotKeptAndReRegistrationReplaces) {
    Made made;
    qvhostRegisterExtension(host, "x", makeNothing, &made);
    EXPECT_EQ(find(U"x"), nullptr);
    EXPECT_EQ(find(U"x"), nullptr);
    EXPECT_EQ(made.calls, 2);
    Made second;
    qvhostRegisterExtension(host, "x", makeCounted, &second);
    EXPECT_EQ(find(U"x"), &second.object);
}

TEST_F(Services, RegistrationRefusesBadArguments) {
    Made made;
    EXPECT_EQ(qvhostRegisterExtension(host, nullptr, makeCounted, &made), -1);
    EXPECT_EQ(qvhostRegisterExtension(host, "", makeCounted, &made), -1);
    EXPECT_EQ(qvhostRegisterExtension(host, "caf\xc3\xa9", makeCounted, &made), -1);
    EXPECT_EQ(qvhostRegisterExtension(host, "ok", nullptr, &made), -1);
    EXPECT_EQ(qvhostRegisterExtension(nullptr, "ok", makeCounted, &made), -1);
}

TEST_F(Services, LoaderOfTheTextServicesFindsTheSameExtensions) {
    Made made;
    qvhostRegisterExtension(host, "qvnlsudb", makeCounted, &made);
    auto *loader = static_cast<QVWord *>(text()[QV_TEXT_EXTENSION_LOADER]);
    const std::u32string name = U"qvnlsudb";
    auto load = slot<QVFindExtensionFn>(loader, QV_LOADER_LOAD);
    EXPECT_EQ(load(loader, reinterpret_cast<const QVChar *>(name.c_str()), 8, 0), &made.object);
    EXPECT_EQ(find(name), &made.object);
    EXPECT_EQ(made.calls, 1) << "one cache for both ways in";
}

TEST_F(Services, FourthArgumentOfLookupMustBeZero) {
    const std::u32string name = U"none";
    slot<QVFindExtensionFn>(host, QV_HOST_FIND_EXTENSION)(
        host, reinterpret_cast<const QVChar *>(name.c_str()), 4, 1);
    EXPECT_EQ(counters().unexpectedCalls, 1u);
    expectedUnexpected = 1;
}

TEST_F(Services, CaseOperationsMapOneCodePointWithFoldingInMode0) {
    auto upper = slot<CaseFn>(text(), QV_TEXT_TO_UPPER);
    auto lower = slot<CaseFn>(text(), QV_TEXT_TO_LOWER);
    for (int mode : {0, 1}) {
        EXPECT_EQ(upper(text(), 'a', mode), QVChar('A'));
        EXPECT_EQ(upper(text(), '{', mode), QVChar('{'));
        EXPECT_EQ(lower(text(), 'Z', mode), QVChar('z'));
        EXPECT_EQ(lower(text(), '[', mode), QVChar('['));
        EXPECT_EQ(lower(text(), 0xC0, mode), 0xE0u);
        EXPECT_EQ(upper(text(), 0xE0, mode), 0xC0u);
        EXPECT_EQ(upper(text(), 0xFF, mode), 0x178u);
        EXPECT_EQ(lower(text(), 0x10400, mode), 0x10428u) << "beyond the BMP too";
        EXPECT_EQ(upper(text(), 0xDF, mode), 0xDFu) << "no single-character upper case";
        EXPECT_EQ(lower(text(), 0x1F600, mode), 0x1F600u);
    }
    // Folding and lower case part ways on a few characters.
    EXPECT_EQ(lower(text(), 0x3C2, 1), 0x3C2u);
    EXPECT_EQ(lower(text(), 0x3C2, 0), 0x3C3u);
    EXPECT_EQ(lower(text(), 0x1E9E, 1), 0xDFu);
    EXPECT_EQ(lower(text(), 0x130, 1), 0x69u);
    EXPECT_EQ(lower(text(), 0x130, 0), 0x130u) << "the default fold leaves dotted I alone";
    EXPECT_EQ(upper(text(), 0x17F, 1), 0x53u);
}

TEST_F(Services, TranscoderEncodesEveryLength) {
    unsigned char out[32];
    EXPECT_EQ(transcode(U"A\u00e9\u20ac\U0001F600", out, sizeof out), 0u);
    const unsigned char expected[] = {'A', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80};
    ASSERT_EQ(written, 10);
    EXPECT_EQ(std::memcmp(out, expected, sizeof expected), 0);
    EXPECT_EQ(transcode(U"\u007f\u0080\u07ff\u0800\uffff\U00010000\U0010FFFF", out, sizeof out), 0u);
    const unsigned char edges[] = {0x7F, 0xC2, 0x80, 0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xEF, 0xBF,
                                   0xBF, 0xF0, 0x90, 0x80, 0x80, 0xF4, 0x8F, 0xBF, 0xBF};
    ASSERT_EQ(written, 19);
    EXPECT_EQ(std::memcmp(out, edges, sizeof edges), 0);
    EXPECT_EQ(transcode(U"", out, sizeof out), 0u);
    EXPECT_EQ(written, 0);
}

TEST_F(Services, TranscoderStopsAtWholeCharacterWhenFull) {
    unsigned char out[8];
    std::memset(out, 0, sizeof out);
    EXPECT_EQ(transcode(U"ab\u20ac", out, 4), 0x803fe807u);
    EXPECT_EQ(written, 2) << "the euro sign needs 3 bytes, 2 are left";
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(transcode(U"ab\u20ac", out, 5), 0u) << "an exact fit";
    EXPECT_EQ(written, 5);
    EXPECT_EQ(transcode(U"a", nullptr, 0), 0x803fe807u);
    EXPECT_EQ(written, 0);
}

TEST_F(Services, TranscoderIgnoresItsOptionsRecord) {
    // Eight words, as the string buffer passes them; their content changes nothing.
    const uint64_t options[8] = {~0ull, 1, 2, 3, 4, 5, 6, 7};
    unsigned char out[30];
    std::memset(out, 0xEE, sizeof out);
    int64_t bytes = -1;
    std::u32string source = U"-12.5\u00b0";
    EXPECT_EQ(slot<QVTranscodeFn>(transcoder(), QV_TRANSCODER_CONVERT)(
                  transcoder(), source.data(), static_cast<int64_t>(source.size() * 4), out,
                  sizeof out, &bytes, options),
              0u);
    EXPECT_EQ(bytes, 7);
    EXPECT_EQ(std::memcmp(out, "-12.5\xC2\xB0", 7), 0);
    EXPECT_EQ(out[7], 0xEE) << "no terminator";
}

TEST_F(Services, TranscoderRejectsInvalidCodePointsAndPartialUnits) {
    unsigned char out[16];
    std::u32string surrogate = U"ab";
    surrogate += static_cast<char32_t>(0xD800);
    surrogate += U'c';
    EXPECT_EQ(transcode(surrogate, out, sizeof out), 0x803fe808u);
    EXPECT_EQ(written, 2);
    std::u32string tooLarge = U"x";
    tooLarge += static_cast<char32_t>(0x110000);
    EXPECT_EQ(transcode(tooLarge, out, sizeof out), 0x803fe808u);
    EXPECT_EQ(written, 1);
    EXPECT_EQ(transcode(U"ab", 6, out, sizeof out), 0x803fe814u);
    EXPECT_EQ(written, 1) << "the whole unit is converted first";
    EXPECT_EQ(out[0], 'a');
}

}  // namespace
