// The UTF-8 routines that the host's services answer: classification, the
// combining property, normalisation and the formatting forwarders.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "ombrix/utf8.h"

namespace {

class Utf8Services : public HostTest {
  protected:
    QVWord *text() { return static_cast<QVWord *>(host[QV_HOST_TEXT_SERVICES]); }
    void use(QVWord *services) { qvhostSetValue(host, QV_HOST_TEXT_SERVICES, services); }
};

// Services that record what the library asks of them.
struct RecordingServices {
    QVWord slots[QV_TEXT_SLOT_COUNT] = {}, loader[16] = {};
    int loads = 0, questions = 0, lastProperty = 0;
    void *extension = nullptr;
    std::u32string lastName;
    RecordingServices() {
        slots[QV_TEXT_EXTENSION_LOADER] = loader;
        loader[QV_LOADER_LOAD] = reinterpret_cast<QVWord>(+[](QVWord *self, const QVChar *name, int32_t n, int32_t zero) {
            auto *r = reinterpret_cast<RecordingServices *>(reinterpret_cast<char *>(self) - offsetof(RecordingServices, loader));
            ++r->loads;
            r->lastName.assign(reinterpret_cast<const char32_t *>(name), size_t(n));
            return zero == 0 ? r->extension : nullptr;
        });
        slots[QV_TEXT_CHAR_PROPERTY] = reinterpret_cast<QVWord>(+[](QVWord *self, QVChar c, int32_t which) {
            auto *r = reinterpret_cast<RecordingServices *>(self);
            ++r->questions;
            r->lastProperty = which;
            return int32_t(c == 0x301);
        });
    }
};

TEST_F(Utf8Services, ClassificationAndCombining) {
    for (auto [s, c] : {std::pair<const char *, int32_t>{"a", 'a'}, {"\xe2\x82\xac" "x", 0x20AC}, {"\xf0\x9f\x98\x80", 0x1F600}, {"\x80", 0xFFFD}})
        EXPECT_EQ(_QVZSU8IsFunct(s, [](QVChar u) { return int32_t(u); }), c);
    EXPECT_EQ(text()[QV_TEXT_NLSUDB_EXTENSION], nullptr);
    EXPECT_EQ(qvzsu8IsCombining("\xcc\x81"), 1);  // U+0301
    void *loaded = text()[QV_TEXT_NLSUDB_EXTENSION];
    EXPECT_NE(loaded, nullptr) << "the first question loads the extension";
    EXPECT_EQ(qvzsu8IsCombining("a") + qvzsu8IsCombining("\xe0\xa4\x83") + qvzsu8IsCombining("\xe2\x80\x8c"), 2);
    EXPECT_EQ(text()[QV_TEXT_NLSUDB_EXTENSION], loaded);
    RecordingServices services, empty;  // the second one's loader finds nothing
    int data = 0;
    services.extension = &data;
    use(services.slots);
    EXPECT_EQ(qvzsu8IsCombining("\xe2\x80\x8d"), 1);  // U+200D: joiners never ask
    EXPECT_EQ(services.loads + services.questions, 0);
    EXPECT_EQ(qvzsu8IsCombining("\xcc\x81") + qvzsu8IsCombining("b"), 1);
    EXPECT_EQ(std::vector<int>({services.loads, services.questions, services.lastProperty}), std::vector<int>({1, 2, 56}));
    EXPECT_EQ(services.lastName, U"qvnlsudb");
    EXPECT_EQ(services.slots[QV_TEXT_NLSUDB_EXTENSION], &data);
    use(empty.slots);
    EXPECT_EQ(qvzsu8IsCombining("\xcc\x81"), 0);
    EXPECT_EQ(empty.loads * 10 + empty.questions, 10) << "one load, no question";
    use(nullptr);
    EXPECT_EQ(qvzsu8IsCombining("\xcc\x81") * 10 + qvzsu8IsCombining("\xe2\x80\x8c"), 1);
}

TEST_F(Utf8Services, NormalisationGoesThroughTheHostsNormaliser) {
    const std::string decomposed = "e\xcc\x81", composed = "\xc3\xa9", ligature = "\xef\xac\x81";
    char out[16] = {};
    int64_t written = -1;
    EXPECT_EQ(qvzsu8ICUNormalize(decomposed.data(), 3, out, sizeof out, &written, 0, 0), 0u);
    EXPECT_EQ(std::string(out, size_t(written)), composed);
    EXPECT_NE(text()[QV_TEXT_CURRENT_NORMALIZER], nullptr);
    QVStatus status = 99;
    EXPECT_EQ(qvzsu8ICUNormCompare(composed.data(), 2, decomposed.data(), 3, 0, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(qvzsu8ICUNormCompare("a", 1, "b", 1, 0, nullptr), -1);
    EXPECT_EQ(qvzsu8ICUNormEqual(composed.data(), 2, decomposed.data(), 3, 1, &status), 1);
    EXPECT_EQ(qvzsu8ICUNormEqual(ligature.data(), 3, "fi", 2, 0, &status), 0);
    EXPECT_EQ(qvzsu8ICUNormEqual(ligature.data(), 3, "fi", 2, 2, &status), 1);
    EXPECT_EQ(qvzsu8ICUNormEqual("a", 1, "a", 1, 9, &status), 0) << "a status makes the texts unequal";
    EXPECT_EQ(status, 0x803fc004u);
    RecordingServices noNormaliser;
    noNormaliser.slots[QV_TEXT_CREATE_NORMALIZER] = reinterpret_cast<QVWord>(+[](QVWord *) -> QVWord * { return nullptr; });
    for (QVWord *services : {static_cast<QVWord *>(nullptr), noNormaliser.slots}) {
        use(services);
        EXPECT_EQ(qvzsu8ICUNormalize("a", 1, out, 4, &written, 0, 0), 0x803fc002u);
        QVStatus compared = 0, equal = 0;
        EXPECT_EQ(qvzsu8ICUNormCompare("a", 1, "b", 1, 0, &compared) + qvzsu8ICUNormEqual("a", 1, "a", 1, 0, &equal), 0);
        EXPECT_TRUE(compared == 0x803fc002u && equal == 0x803fc002u);
    }
    static QVWord normalizer[2];
    static int compares;
    normalizer[QV_NORMALIZER_COMPARE] = reinterpret_cast<QVWord>(
        +[](QVWord *, const void *, int64_t aLength, const void *, int64_t bLength, int32_t form, int32_t *result) {
            return ++compares, *result = int32_t(aLength - bLength) + form, QVStatus(0);
        });
    RecordingServices current;  // no way to make one: calling for it would crash
    current.slots[QV_TEXT_CURRENT_NORMALIZER] = normalizer;
    use(current.slots);
    status = 5;
    EXPECT_EQ((std::tuple{qvzsu8ICUNormCompare("abc", 3, "a", 1, 10, &status), status, compares}), std::tuple(12, 0u, 1));
}

// A formatting object whose every operation notes its arguments and returns
// 0x1000 plus its slot.
struct Formatter {
    QVWord slots[128] = {};
    std::vector<uint64_t> args;
};

template <typename T>
uint64_t asWord(T v) {
    uint64_t w = 0;
    std::memcpy(&w, &v, sizeof v < sizeof w ? sizeof v : sizeof w);
    return w;
}

// Puts the operation in `Slot`, taking what `forwarder` takes; returns Slot.
template <int Slot, typename... Args>
int install(Formatter &f, QVStatus (*)(QVWord *, Args...) = nullptr) {
    f.slots[Slot] = reinterpret_cast<QVWord>(+[](QVWord *self, Args... args) -> QVStatus {
        reinterpret_cast<Formatter *>(self)->args = {asWord(args)...};
        return 0x1000 + Slot;
    });
    return Slot;
}

TEST_F(Utf8Services, ForwardersCallTheirSlotWithTheArgumentsUnchanged) {
    Formatter f;
    install<71, const char *, uint64_t, double *, uint64_t *, uintptr_t>(f);
    install<74, double, char *, uint64_t, uint64_t *, const char *, uintptr_t, uintptr_t>(f);
    char b[8];
    uint64_t n = 0;
    int64_t v = 0;
    double d = 0;
    const char *p = "p", *t = "1.5";
    QVWord *o = f.slots;
    auto w = [](const void *ptr) { return asWord(ptr); };
    // A value first, then the buffer, its size, the count and the pattern;
    // or the text, its length and the two outputs (and the pattern).
    auto format = [&](uint64_t value) { return std::vector<uint64_t>{value, w(b), 8, w(&n), w(p)}; };
    const std::vector<uint64_t> parse = {w(t), 3, w(&v), w(&n)}, record = {w(t), 3, w(&v), w(&n), w(p)};
    const std::tuple<int, std::function<QVStatus()>, std::vector<uint64_t>> calls[] = {
        {71, [&] { return qvzsu8ToDouble(o, t, 3, &d, &n, 77); }, {w(t), 3, w(&d), w(&n), 0}},  // the sixth as 0
        {74, [&] { return qvzsu8DoubleFormat(o, 2.5, b, 8, &n, p, 6); }, {asWord(2.5), w(b), 8, w(&n), w(p), 6, 0}},
        {install<75>(f, qvzsu8IntfastFormat), [&] { return qvzsu8IntfastFormat(o, -5, b, 8, &n, p); }, format(asWord(int_fast64_t{-5}))},
        {install<76>(f, qvzsu8IntmaxFormat), [&] { return qvzsu8IntmaxFormat(o, -6, b, 8, &n, p); }, format(asWord(intmax_t{-6}))},
        {install<77>(f, qvzsu8UintfastFormat), [&] { return qvzsu8UintfastFormat(o, 7, b, 8, &n, p); }, format(7)},
        {install<78>(f, qvzsu8UintmaxFormat), [&] { return qvzsu8UintmaxFormat(o, 8, b, 8, &n, p); }, format(8)},
        {install<79>(f, qvzsu8ToIntfast), [&] { return qvzsu8ToIntfast(o, t, 3, reinterpret_cast<int_fast64_t *>(&v), &n); }, parse},
        {install<80>(f, qvzsu8ToIntmax), [&] { return qvzsu8ToIntmax(o, t, 3, reinterpret_cast<intmax_t *>(&v), &n); }, parse},
        {install<81>(f, qvzsu8ToUintfast), [&] { return qvzsu8ToUintfast(o, t, 3, reinterpret_cast<uint_fast64_t *>(&v), &n); }, parse},
        {install<82>(f, qvzsu8ToUintmax), [&] { return qvzsu8ToUintmax(o, t, 3, reinterpret_cast<uintmax_t *>(&v), &n); }, parse},
        {install<83>(f, qvzsu8IntFormat), [&] { return qvzsu8IntFormat(o, -9, b, 8, &n, p); }, format(asWord(int32_t{-9}))},
        {install<84>(f, qvzsu8UIntFormat), [&] { return qvzsu8UIntFormat(o, 10, b, 8, &n, p); }, format(10)},
        {install<85>(f, qvzsu8ToInt), [&] { return qvzsu8ToInt(o, t, 3, reinterpret_cast<int32_t *>(&v), &n); }, parse},
        {install<86>(f, qvzsu8ToUInt), [&] { return qvzsu8ToUInt(o, t, 3, reinterpret_cast<uint32_t *>(&v), &n); }, parse},
        {install<87>(f, qvzsu8LongFormat), [&] { return qvzsu8LongFormat(o, -11, b, 8, &n, p); }, format(asWord(int64_t{-11}))},
        {install<88>(f, qvzsu8ULongFormat), [&] { return qvzsu8ULongFormat(o, 12, b, 8, &n, p); }, format(12)},
        {install<89>(f, qvzsu8ToLong), [&] { return qvzsu8ToLong(o, t, 3, &v, &n); }, parse},
        {install<90>(f, qvzsu8ToULong), [&] { return qvzsu8ToULong(o, t, 3, reinterpret_cast<uint64_t *>(&v), &n); }, parse},
        {install<95>(f, qvzsu8DatetimeFormat), [&] { return qvzsu8DatetimeFormat(o, &v, b, 8, &n, p); }, format(w(&v))},
        {install<96>(f, qvzsu8DateFormat), [&] { return qvzsu8DateFormat(o, &v, b, 8, &n, p); }, format(w(&v))},
        {install<97>(f, qvzsu8TimeFormat), [&] { return qvzsu8TimeFormat(o, &v, b, 8, &n, p); }, format(w(&v))},
        {install<98>(f, qvzsu8ToDatetime), [&] { return qvzsu8ToDatetime(o, t, 3, &v, &n, p); }, record},
        {install<99>(f, qvzsu8ToDate), [&] { return qvzsu8ToDate(o, t, 3, &v, &n, p); }, record},
        {install<100>(f, qvzsu8ToTime), [&] { return qvzsu8ToTime(o, t, 3, &v, &n, p); }, record},
    };
    for (const auto &[slot, call, args] : calls) {
        EXPECT_EQ(call(), 0x1000u + slot);
        EXPECT_EQ(f.args, args) << slot;
    }
}

}  // namespace
