// The text services' normaliser, the combining property and the
// "qvnlsudb" extension it waits for.
#include <gtest/gtest.h>

#include <string>

#include "host_test.h"

namespace {

using CreateFn = QVWord *(*)(QVWord *);
using NormalizeFn = QVStatus (*)(QVWord *, const void *, int64_t, void *, int64_t, int64_t *,
                                 int32_t, int32_t);
using CompareFn = QVStatus (*)(QVWord *, const void *, int64_t, const void *, int64_t, int32_t,
                               int32_t *);
using PropertyFn = int32_t (*)(QVWord *, QVChar, int32_t);

const std::string kComposedE = "\xc3\xa9";    // U+00E9
const std::string kDecomposedE = "e\xcc\x81"; // e, U+0301
const std::string kLigature = "\xef\xac\x81"; // U+FB01 fi

class Normalizer : public HostTest {
  protected:
    QVWord *text() { return static_cast<QVWord *>(host[QV_HOST_TEXT_SERVICES]); }
    QVWord *create() { return slot<CreateFn>(text(), QV_TEXT_CREATE_NORMALIZER)(text()); }

    QVStatus normalize(const std::string &in, int32_t form, int64_t capacity = 64) {
        QVWord *n = create();
        out.assign(64, '#');
        written = -1;
        return slot<NormalizeFn>(n, QV_NORMALIZER_NORMALIZE)(
            n, in.data(), static_cast<int64_t>(in.size()), out.data(), capacity, &written, form, 0);
    }
    std::string result() const { return out.substr(0, static_cast<size_t>(written)); }

    QVStatus compare(const std::string &a, const std::string &b, int32_t form, int32_t &order) {
        QVWord *n = create();
        order = 99;
        return slot<CompareFn>(n, QV_NORMALIZER_COMPARE)(n, a.data(), static_cast<int64_t>(a.size()),
                                                         b.data(), static_cast<int64_t>(b.size()),
                                                         form, &order);
    }
    int32_t property(QVChar c, int32_t which = 56) {
        return slot<PropertyFn>(text(), QV_TEXT_CHAR_PROPERTY)(text(), c, which);
    }
    void loadNlsData() {
        auto *loader = static_cast<QVWord *>(text()[QV_TEXT_EXTENSION_LOADER]);
        static const QVChar name[8] = {'q', 'v', 'n', 'l', 's', 'u', 'd', 'b'};
        void *extension = slot<QVLoadExtensionFn>(loader, QV_LOADER_LOAD)(loader, name, 8, 0);
        ASSERT_NE(extension, nullptr);
        text()[QV_TEXT_NLSUDB_EXTENSION] = static_cast<QVWord>(extension);
    }

    std::string out;
    int64_t written = 0;
};

TEST_F(Normalizer, CreationMakesTheCurrentNormaliser) {
    EXPECT_EQ(text()[QV_TEXT_CURRENT_NORMALIZER], nullptr);
    QVWord *n = create();
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(static_cast<QVWord *>(text()[QV_TEXT_CURRENT_NORMALIZER]), n);
    EXPECT_EQ(create(), n) << "one normaliser per handle";
}

TEST_F(Normalizer, NormalisesUtf8InEachForm) {
    EXPECT_EQ(normalize(kDecomposedE, 0), 0u);
    EXPECT_EQ(result(), kComposedE);
    EXPECT_EQ(normalize(kComposedE, 1), 0u);
    EXPECT_EQ(result(), kDecomposedE);
    EXPECT_EQ(normalize(kLigature, 0), 0u);
    EXPECT_EQ(result(), kLigature) << "canonical forms keep compatibility characters";
    EXPECT_EQ(normalize(kLigature, 2), 0u);
    EXPECT_EQ(result(), "fi");
    EXPECT_EQ(normalize("\xe1\xb8\x8a", 3), 0u);  // U+1E0A: D and a dot above
    EXPECT_EQ(result(), "D\xcc\x87");
    EXPECT_EQ(normalize("", 0), 0u);
    EXPECT_EQ(written, 0);
    EXPECT_EQ(normalize("a\xff", 0), 0u) << "an ill-formed byte reads as U+FFFD";
    EXPECT_EQ(result(), "a\xef\xbf\xbd");
}

TEST_F(Normalizer, WritesAllOrNothing) {
    EXPECT_EQ(normalize(kComposedE, 1, 2), 0x803fe807u);
    EXPECT_EQ(written, 3) << "the length the text needs";
    EXPECT_EQ(out[0], '#');
    EXPECT_EQ(normalize(kComposedE, 1, 3), 0u);
    EXPECT_EQ(result(), kDecomposedE);
    EXPECT_EQ(normalize(kComposedE, 4), 0x803fc004u);
    EXPECT_EQ(written, 0);
}

TEST_F(Normalizer, ComparesNormalFormsByCodePoint) {
    int32_t order = 0;
    EXPECT_EQ(compare(kComposedE, kDecomposedE, 0, order), 0u);
    EXPECT_EQ(order, 0);
    EXPECT_EQ(compare(kLigature, "fi", 0, order), 0u);
    EXPECT_EQ(order, 1);
    EXPECT_EQ(compare(kLigature, "fi", 2, order), 0u);
    EXPECT_EQ(order, 0);
    EXPECT_EQ(compare("a", "b", 1, order), 0u);
    EXPECT_EQ(order, -1);
    // Code point order: U+FF21 lies below U+1F600 although its UTF-16 unit
    // lies above the surrogates.
    EXPECT_EQ(compare("\xef\xbc\xa1", "\xf0\x9f\x98\x80", 0, order), 0u);
    EXPECT_EQ(order, -1);
    EXPECT_EQ(compare("a", "a", 9, order), 0x803fc004u);
    EXPECT_EQ(order, 0);
}

TEST_F(Normalizer, CombiningPropertyWaitsForTheExtension) {
    EXPECT_EQ(property(0x301), 0);
    expectedUnexpected = 1;
    EXPECT_EQ(counters().unexpectedCalls, 1u) << "asked before \"qvnlsudb\" was loaded";
    loadNlsData();
    EXPECT_EQ(property(0x301), 1);   // combining acute accent, Mn
    EXPECT_EQ(property(0x903), 1);   // Devanagari visarga, Mc
    EXPECT_EQ(property(0x20DD), 1);  // enclosing circle, Me
    EXPECT_EQ(property('a'), 0);
    EXPECT_EQ(property(0x200D), 0) << "a joiner is a format character";
    EXPECT_EQ(property(0x110000), 0);
    EXPECT_EQ(counters().unexpectedCalls, 1u);
    EXPECT_EQ(property('a', 57), 0);
    expectedUnexpected = 2;
}

TEST_F(Normalizer, ExtensionIsOneObjectOfTheHandle) {
    static const QVChar name[8] = {'q', 'v', 'n', 'l', 's', 'u', 'd', 'b'};
    void *first = slot<QVFindExtensionFn>(host, QV_HOST_FIND_EXTENSION)(host, name, 8, 0);
    ASSERT_NE(first, nullptr);
    auto *loader = static_cast<QVWord *>(text()[QV_TEXT_EXTENSION_LOADER]);
    EXPECT_EQ(slot<QVLoadExtensionFn>(loader, QV_LOADER_LOAD)(loader, name, 8, 0), first);
    EXPECT_EQ(slot<QVFindExtensionFn>(host, QV_HOST_FIND_EXTENSION)(host, name, 7, 0), nullptr);
}

}  // namespace
