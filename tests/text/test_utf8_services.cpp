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

int32_t codePointOf(QVChar c) { return static_cast<int32_t>(c); }

// Services that record what the library asks of them.
struct RecordingServices {
    QVWord slots[QV_TEXT_SLOT_COUNT] = {};
    QVWord loader[16] = {};
    int loads = 0, questions = 0;
    void *extension = nullptr;
    std::vector<QVChar> lastName;
    int32_t lastProperty = 0;

    static void *load(QVWord *self, const QVChar *name, int32_t length, int32_t zero) {
        auto *r = reinterpret_cast<RecordingServices *>(reinterpret_cast<char *>(self) - offsetof(RecordingServices, loader));
        ++r->loads;
        r->lastName.assign(name, name + length);
        return zero == 0 ? r->extension : nullptr;
    }
    static int32_t property(QVWord *self, QVChar c, int32_t which) {
        auto *r = reinterpret_cast<RecordingServices *>(self);
        ++r->questions;
        r->lastProperty = which;
        return c == 0x301 ? 1 : 0;
    }
    RecordingServices() {
        slots[QV_TEXT_EXTENSION_LOADER] = loader;
        loader[QV_LOADER_LOAD] = reinterpret_cast<QVWord>(&load);
        slots[QV_TEXT_CHAR_PROPERTY] = reinterpret_cast<QVWord>(&property);
    }
};

TEST_F(Utf8Services, ClassificationAndCombining) {
    for (auto [s, c] : {std::pair<const char *, int32_t>{"a", 'a'}, {"\xe2\x82\xac" "x", 0x20AC}, {"\xf0\x9f\x98\x80", 0x1F600}, {"\x80", 0xFFFD}})
        EXPECT_EQ(_QVZSU8IsFunct(s, codePointOf), c);
    EXPECT_EQ(text()[QV_TEXT_NLSUDB_EXTENSION], nullptr);
    EXPECT_EQ(qvzsu8IsCombining("\xcc\x81"), 1);  // U+0301
    void *loaded = text()[QV_TEXT_NLSUDB_EXTENSION];
    EXPECT_NE(loaded, nullptr) << "the first question loads the extension";
    EXPECT_EQ(qvzsu8IsCombining("a") + qvzsu8IsCombining("\xe0\xa4\x83") + qvzsu8IsCombining("\xe2\x80\x8c"), 2);
    EXPECT_EQ(text()[QV_TEXT_NLSUDB_EXTENSION], loaded);

    RecordingServices services;
    int data = 0;
    services.extension = &data;
    use(services.slots);
    EXPECT_EQ(qvzsu8IsCombining("\xe2\x80\x8d"), 1);  // U+200D: joiners never ask
    EXPECT_EQ(services.loads + services.questions, 0);
    EXPECT_EQ(qvzsu8IsCombining("\xcc\x81") + qvzsu8IsCombining("b"), 1);
    EXPECT_EQ(services.loads, 1);
    EXPECT_EQ(services.questions, 2);
    EXPECT_EQ(services.lastProperty, 56);
    EXPECT_EQ(services.lastName, (std::vector<QVChar>{'q', 'v', 'n', 'l', 's', 'u', 'd', 'b'}));
    EXPECT_EQ(services.slots[QV_TEXT_NLSUDB_EXTENSION], &data);

    RecordingServices empty;  // its loader finds nothing
    use(empty.slots);
    EXPECT_EQ(qvzsu8IsCombining("\xcc\x81"), 0);
    EXPECT_EQ(empty.loads * 10 + empty.questions, 10);
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
        status = 0;
        EXPECT_EQ(qvzsu8ICUNormCompare("a", 1, "b", 1, 0, &status), 0);
        EXPECT_EQ(status, 0x803fc002u);
        status = 0;
        EXPECT_EQ(qvzsu8ICUNormEqual("a", 1, "a", 1, 0, &status), 0);
        EXPECT_EQ(status, 0x803fc002u);
    }

    static QVWord normalizer[2];
    static int compares;
    normalizer[QV_NORMALIZER_COMPARE] = reinterpret_cast<QVWord>(
        +[](QVWord *, const void *, int64_t aLength, const void *, int64_t bLength, int32_t form, int32_t *result) -> QVStatus {
            ++compares;
            *result = int32_t(aLength - bLength) + form;
            return 0;
        });
    RecordingServices current;  // no way to make one: calling for it would crash
    current.slots[QV_TEXT_CURRENT_NORMALIZER] = normalizer;
    use(current.slots);
    status = 5;
    EXPECT_EQ(qvzsu8ICUNormCompare("abc", 3, "a", 1, 10, &status), 12);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(compares, 1);
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

template <int Slot, typename... Args>
QVStatus note(QVWord *self, Args... args) {
    reinterpret_cast<Formatter *>(self)->args = {asWord(args)...};
    return 0x1000 + Slot;
}

template <int Slot, typename... Args>
void install(Formatter &f) {
    f.slots[Slot] = reinterpret_cast<QVWord>(&note<Slot, Args...>);
}

#define FORMAT(T) T, char *, uint64_t, uint64_t *, const char *
#define PARSE(T) const char *, uint64_t, T *, uint64_t *
#define RECORD const char *, uint64_t, void *, uint64_t *, const char *

TEST_F(Utf8Services, ForwardersCallTheirSlotWithTheArgumentsUnchanged) {
    Formatter f;
    install<71, const char *, uint64_t, double *, uint64_t *, uintptr_t>(f);
    install<74, double, char *, uint64_t, uint64_t *, const char *, uintptr_t, uintptr_t>(f);
    install<75, FORMAT(int_fast64_t)>(f), install<76, FORMAT(intmax_t)>(f), install<77, FORMAT(uint_fast64_t)>(f);
    install<78, FORMAT(uintmax_t)>(f), install<79, PARSE(int_fast64_t)>(f), install<80, PARSE(intmax_t)>(f);
    install<81, PARSE(uint_fast64_t)>(f), install<82, PARSE(uintmax_t)>(f), install<83, FORMAT(int32_t)>(f);
    install<84, FORMAT(uint32_t)>(f), install<85, PARSE(int32_t)>(f), install<86, PARSE(uint32_t)>(f);
    install<87, FORMAT(int64_t)>(f), install<88, FORMAT(uint64_t)>(f), install<89, PARSE(int64_t)>(f);
    install<90, PARSE(uint64_t)>(f), install<95, FORMAT(const void *)>(f), install<96, FORMAT(const void *)>(f);
    install<97, FORMAT(const void *)>(f), install<98, RECORD>(f), install<99, RECORD>(f), install<100, RECORD>(f);

    char b[8];
    uint64_t n = 0;
    int64_t v = 0;
    int32_t i = 0;
    double d = 0;
    const char *p = "p", *t = "1.5";
    QVWord *o = f.slots;
    const auto w = [](const void *ptr) { return asWord(ptr); };
    const std::vector<uint64_t> format = {w(b), 8, w(&n), w(p)}, parse = {w(t), 3, w(&v), w(&n)},
                                record = {w(t), 3, w(&v), w(&n), w(p)};
    auto with = [](uint64_t first, const std::vector<uint64_t> &rest) {
        std::vector<uint64_t> all{first};
        all.insert(all.end(), rest.begin(), rest.end());
        return all;
    };
    using Call = std::function<QVStatus()>;
    const std::tuple<int, Call, std::vector<uint64_t>> calls[] = {
        {71, [&] { return qvzsu8ToDouble(o, t, 3, &d, &n, 77); }, {w(t), 3, w(&d), w(&n), 0}},  // the sixth as 0
        {74, [&] { return qvzsu8DoubleFormat(o, 2.5, b, 8, &n, p, 6); }, {asWord(2.5), w(b), 8, w(&n), w(p), 6, 0}},
        {75, [&] { return qvzsu8IntfastFormat(o, -5, b, 8, &n, p); }, with(asWord(int_fast64_t{-5}), format)},
        {76, [&] { return qvzsu8IntmaxFormat(o, -6, b, 8, &n, p); }, with(asWord(intmax_t{-6}), format)},
        {77, [&] { return qvzsu8UintfastFormat(o, 7, b, 8, &n, p); }, with(7, format)},
        {78, [&] { return qvzsu8UintmaxFormat(o, 8, b, 8, &n, p); }, with(8, format)},
        {79, [&] { return qvzsu8ToIntfast(o, t, 3, reinterpret_cast<int_fast64_t *>(&v), &n); }, parse},
        {80, [&] { return qvzsu8ToIntmax(o, t, 3, reinterpret_cast<intmax_t *>(&v), &n); }, parse},
        {81, [&] { return qvzsu8ToUintfast(o, t, 3, reinterpret_cast<uint_fast64_t *>(&v), &n); }, parse},
        {82, [&] { return qvzsu8ToUintmax(o, t, 3, reinterpret_cast<uintmax_t *>(&v), &n); }, parse},
        {83, [&] { return qvzsu8IntFormat(o, -9, b, 8, &n, p); }, with(asWord(int32_t{-9}), format)},
        {84, [&] { return qvzsu8UIntFormat(o, 10, b, 8, &n, p); }, with(10, format)},
        {85, [&] { return qvzsu8ToInt(o, t, 3, &i, &n); }, {w(t), 3, w(&i), w(&n)}},
        {86, [&] { return qvzsu8ToUInt(o, t, 3, reinterpret_cast<uint32_t *>(&i), &n); }, {w(t), 3, w(&i), w(&n)}},
        {87, [&] { return qvzsu8LongFormat(o, -11, b, 8, &n, p); }, with(asWord(int64_t{-11}), format)},
        {88, [&] { return qvzsu8ULongFormat(o, 12, b, 8, &n, p); }, with(12, format)},
        {89, [&] { return qvzsu8ToLong(o, t, 3, &v, &n); }, parse},
        {90, [&] { return qvzsu8ToULong(o, t, 3, reinterpret_cast<uint64_t *>(&v), &n); }, parse},
        {95, [&] { return qvzsu8DatetimeFormat(o, &v, b, 8, &n, p); }, with(w(&v), format)},
        {96, [&] { return qvzsu8DateFormat(o, &v, b, 8, &n, p); }, with(w(&v), format)},
        {97, [&] { return qvzsu8TimeFormat(o, &v, b, 8, &n, p); }, with(w(&v), format)},
        {98, [&] { return qvzsu8ToDatetime(o, t, 3, &v, &n, p); }, record},
        {99, [&] { return qvzsu8ToDate(o, t, 3, &v, &n, p); }, record},
        {100, [&] { return qvzsu8ToTime(o, t, 3, &v, &n, p); }, record},
    };
    for (const auto &[slot, call, args] : calls) {
        EXPECT_EQ(call(), 0x1000u + slot);
        EXPECT_EQ(f.args, args) << slot;
    }
}

#undef FORMAT
#undef PARSE
#undef RECORD

}  // namespace
