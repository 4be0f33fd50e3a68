// The UTF-8 routines that the host's services answer: classification, the
// combining property, normalisation and the formatting forwarders.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "ombrix/utf8.h"

namespace {

class Utf8Services : public HostTest {
  protected:
    QVWord *text() { return static_cast<QVWord *>(host[QV_HOST_TEXT_SERVICES]); }
};

int32_t codePointOf(QVChar c) { return static_cast<int32_t>(c); }

TEST_F(Utf8Services, ClassificationSeesTheDecodedCodePoint) {
    EXPECT_EQ(_QVZSU8IsFunct("a", codePointOf), 'a');
    EXPECT_EQ(_QVZSU8IsFunct("\xe2\x82\xac" "x", codePointOf), 0x20AC);
    EXPECT_EQ(_QVZSU8IsFunct("\xf0\x9f\x98\x80", codePointOf), 0x1F600);
    EXPECT_EQ(_QVZSU8IsFunct("\x80", codePointOf), 0xFFFD);
}

TEST_F(Utf8Services, CombiningAsksTheHostOnceItsExtensionIsLoaded) {
    EXPECT_EQ(text()[QV_TEXT_NLSUDB_EXTENSION], nullptr);
    EXPECT_EQ(qvzsu8IsCombining("\xcc\x81"), 1);  // U+0301
    void *loaded = text()[QV_TEXT_NLSUDB_EXTENSION];
    EXPECT_NE(loaded, nullptr) << "the first question loads \"qvnlsudb\"";
    EXPECT_EQ(qvzsu8IsCombining("a"), 0);
    EXPECT_EQ(qvzsu8IsCombining("\xe0\xa4\x83"), 1);  // U+0903, a spacing mark
    EXPECT_EQ(qvzsu8IsCombining("\xe2\x80\x8c"), 1);  // U+200C
    EXPECT_EQ(text()[QV_TEXT_NLSUDB_EXTENSION], loaded);
}

// Text services that record what the library asks of them.
struct RecordingServices {
    QVWord slots[QV_TEXT_SLOT_COUNT] = {};
    QVWord loader[16] = {};
    int loads = 0;
    int questions = 0;
    void *extension = nullptr;
    std::vector<QVChar> lastName;
    int32_t lastProperty = 0;

    static void *load(QVWord *self, const QVChar *name, int32_t length, int32_t zero) {
        auto *r = reinterpret_cast<RecordingServices *>(reinterpret_cast<char *>(self) -
                                                         offsetof(RecordingServices, loader));
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

TEST_F(Utf8Services, JoinersCombineWithoutAskingAndTheExtensionLoadsOnce) {
    RecordingServices services;
    int data = 0;
    services.extension = &data;
    qvhostSetValue(host, QV_HOST_TEXT_SERVICES, services.slots);
    EXPECT_EQ(qvzsu8IsCombining("\xe2\x80\x8d"), 1);  // U+200D
    EXPECT_EQ(services.loads + services.questions, 0);
    EXPECT_EQ(qvzsu8IsCombining("\xcc\x81"), 1);
    EXPECT_EQ(qvzsu8IsCombining("b"), 0);
    EXPECT_EQ(services.loads, 1);
    EXPECT_EQ(services.questions, 2);
    EXPECT_EQ(services.lastProperty, 56);
    EXPECT_EQ(services.lastName, (std::vector<QVChar>{'q', 'v', 'n', 'l', 's', 'u', 'd', 'b'}));
    EXPECT_EQ(services.slots[QV_TEXT_NLSUDB_EXTENSION], &data);
}

TEST_F(Utf8Services, WithoutTheExtensionOrTheServicesNothingElseCombines) {
    RecordingServices services;  // its loader finds nothing
    qvhostSetValue(host, QV_HOST_TEXT_SERVICES, services.slots);
    EXPECT_EQ(qvzsu8IsCombining("\xcc\x81"), 0);
    EXPECT_EQ(services.loads, 1);
    EXPECT_EQ(services.questions, 0);
    qvhostSetValue(host, QV_HOST_TEXT_SERVICES, nullptr);
    EXPECT_EQ(qvzsu8IsCombining("\xcc\x81"), 0);
    EXPECT_EQ(qvzsu8IsCombining("\xe2\x80\x8c"), 1);
}

TEST_F(Utf8Services, NormalisationGoesThroughTheHostsNormaliser) {
    const std::string decomposed = "e\xcc\x81", composed = "\xc3\xa9";
    char out[16] = {};
    int64_t written = -1;
    EXPECT_EQ(qvzsu8ICUNormalize(decomposed.data(), 3, out, sizeof out, &written, 0, 0), 0u);
    EXPECT_EQ(std::string(out, static_cast<size_t>(written)), composed);
    EXPECT_NE(text()[QV_TEXT_CURRENT_NORMALIZER], nullptr);

    QVStatus status = 99;
    EXPECT_EQ(qvzsu8ICUNormCompare(composed.data(), 2, decomposed.data(), 3, 0, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(qvzsu8ICUNormCompare("a", 1, "b", 1, 0, nullptr), -1);
    EXPECT_EQ(qvzsu8ICUNormEqual(composed.data(), 2, decomposed.data(), 3, 1, &status), 1);
    EXPECT_EQ(qvzsu8ICUNormEqual("\xef\xac\x81", 3, "fi", 2, 0, &status), 0);
    EXPECT_EQ(qvzsu8ICUNormEqual("\xef\xac\x81", 3, "fi", 2, 2, &status), 1);
    // A status from the normaliser makes the texts unequal even with a zero
    // result.
    EXPECT_EQ(qvzsu8ICUNormEqual("a", 1, "a", 1, 9, &status), 0);
    EXPECT_EQ(status, 0x803fc004u);
}

TEST_F(Utf8Services, WithoutANormaliserTheWrappersReportNoMemory) {
    qvhostSetValue(host, QV_HOST_TEXT_SERVICES, nullptr);
    char out[4];
    int64_t written = 0;
    EXPECT_EQ(qvzsu8ICUNormalize("a", 1, out, 4, &written, 0, 0), 0x803fc002u);
    QVStatus status = 0;
    EXPECT_EQ(qvzsu8ICUNormCompare("a", 1, "b", 1, 0, &status), 0);
    EXPECT_EQ(status, 0x803fc002u);
    status = 0;
    EXPECT_EQ(qvzsu8ICUNormEqual("a", 1, "a", 1, 0, &status), 0);
    EXPECT_EQ(status, 0x803fc002u);

    // Services whose normaliser cannot be made.
    RecordingServices services;
    services.slots[QV_TEXT_CREATE_NORMALIZER] =
        reinterpret_cast<QVWord>(+[](QVWord *) -> QVWord * { return nullptr; });
    qvhostSetValue(host, QV_HOST_TEXT_SERVICES, services.slots);
    EXPECT_EQ(qvzsu8ICUNormalize("a", 1, out, 4, &written, 0, 0), 0x803fc002u);
    EXPECT_EQ(qvzsu8ICUNormEqual("a", 1, "a", 1, 0, nullptr), 0);
}

TEST_F(Utf8Services, ACurrentNormaliserIsUsedWithoutMakingANewOne) {
    static QVWord normalizer[2];
    static int compares;
    compares = 0;
    normalizer[QV_NORMALIZER_COMPARE] = reinterpret_cast<QVWord>(
        +[](QVWord *, const void *, int64_t aLength, const void *, int64_t bLength, int32_t form,
            int32_t *result) -> QVStatus {
            ++compares;
            *result = static_cast<int32_t>(aLength - bLength) + form;
            return 0;
        });
    RecordingServices services;  // slot 99 left empty: calling it would crash
    services.slots[QV_TEXT_CURRENT_NORMALIZER] = normalizer;
    qvhostSetValue(host, QV_HOST_TEXT_SERVICES, services.slots);
    QVStatus status = 5;
    EXPECT_EQ(qvzsu8ICUNormCompare("abc", 3, "a", 1, 10, &status), 12);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(compares, 1);
}

// A formatting object whose every operation notes its slot and arguments
// and returns 0x1000 plus its slot.
struct Formatter {
    QVWord slots[128] = {};
    int slot = -1;
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
    auto *f = reinterpret_cast<Formatter *>(self);
    f->slot = Slot;
    f->args = {asWord(args)...};
    return 0x1000 + Slot;
}

template <int Slot, typename... Args>
void install(Formatter &f) {
    f.slots[Slot] = reinterpret_cast<QVWord>(&note<Slot, Args...>);
}

#define FORMAT_ARGS(T) T, char *, uint64_t, uint64_t *, const char *
#define PARSE_ARGS(T) const char *, uint64_t, T *, uint64_t *

TEST_F(Utf8Services, ForwardersCallTheirSlotWithTheArgumentsUnchanged) {
    Formatter f;
    install<71, const char *, uint64_t, double *, uint64_t *, uintptr_t>(f);
    install<74, double, char *, uint64_t, uint64_t *, const char *, uintptr_t, uintptr_t>(f);
    install<75, FORMAT_ARGS(int_fast64_t)>(f);
    install<76, FORMAT_ARGS(intmax_t)>(f);
    install<77, FORMAT_ARGS(uint_fast64_t)>(f);
    install<78, FORMAT_ARGS(uintmax_t)>(f);
    install<79, PARSE_ARGS(int_fast64_t)>(f);
    install<80, PARSE_ARGS(intmax_t)>(f);
    install<81, PARSE_ARGS(uint_fast64_t)>(f);
    install<82, PARSE_ARGS(uintmax_t)>(f);
    install<83, FORMAT_ARGS(int32_t)>(f);
    install<84, FORMAT_ARGS(uint32_t)>(f);
    install<85, PARSE_ARGS(int32_t)>(f);
    install<86, PARSE_ARGS(uint32_t)>(f);
    install<87, FORMAT_ARGS(int64_t)>(f);
    install<88, FORMAT_ARGS(uint64_t)>(f);
    install<89, PARSE_ARGS(int64_t)>(f);
    install<90, PARSE_ARGS(uint64_t)>(f);
    install<95, FORMAT_ARGS(const void *)>(f);
    install<96, FORMAT_ARGS(const void *)>(f);
    install<97, FORMAT_ARGS(const void *)>(f);
    install<98, const char *, uint64_t, void *, uint64_t *, const char *>(f);
    install<99, const char *, uint64_t, void *, uint64_t *, const char *>(f);
    install<100, const char *, uint64_t, void *, uint64_t *, const char *>(f);

    char buffer[8];
    uint64_t count = 0;
    const char *pattern = "p";
    const char *num = "1.5", *one = "1", *two = "2", *three = "3", *four = "4";
    const auto w = [](const void *p) { return asWord(p); };
    QVWord *object = f.slots;

    double d = 0;
    EXPECT_EQ(qvzsu8ToDouble(object, num, 3, &d, &count, 77), 0x1000u + 71);
    EXPECT_EQ(f.args, (std::vector<uint64_t>{w(num), 3, w(&d), w(&count), 0}))
        << "the sixth argument goes as 0";
    EXPECT_EQ(qvzsu8DoubleFormat(object, 2.5, buffer, 8, &count, pattern, 6), 0x1000u + 74);
    EXPECT_EQ(f.args, (std::vector<uint64_t>{asWord(2.5), w(buffer), 8, w(&count), w(pattern), 6, 0}))
        << "a zero eighth argument is added";

    int64_t value = 0;
    void *record = &value;
    // Each format routine passes a value of its type, each parse routine
    // the text, its length and two outputs.
    EXPECT_EQ(qvzsu8IntfastFormat(object, -5, buffer, 8, &count, pattern), 0x1000u + 75);
    EXPECT_EQ(f.args, (std::vector<uint64_t>{asWord(int_fast64_t{-5}), w(buffer), 8, w(&count), w(pattern)}));
    EXPECT_EQ(qvzsu8IntmaxFormat(object, -6, buffer, 8, &count, pattern), 0x1000u + 76);
    EXPECT_EQ(f.args[0], asWord(intmax_t{-6}));
    EXPECT_EQ(qvzsu8UintfastFormat(object, 7, buffer, 8, &count, pattern), 0x1000u + 77);
    EXPECT_EQ(qvzsu8UintmaxFormat(object, 8, buffer, 8, &count, pattern), 0x1000u + 78);
    EXPECT_EQ(f.args[0], 8u);
    EXPECT_EQ(qvzsu8ToIntfast(object, one, 1, reinterpret_cast<int_fast64_t *>(&value), &count), 0x1000u + 79);
    EXPECT_EQ(f.args, (std::vector<uint64_t>{w(one), 1, w(&value), w(&count)}));
    EXPECT_EQ(qvzsu8ToIntmax(object, one, 1, reinterpret_cast<intmax_t *>(&value), &count), 0x1000u + 80);
    EXPECT_EQ(qvzsu8ToUintfast(object, one, 1, reinterpret_cast<uint_fast64_t *>(&value), &count), 0x1000u + 81);
    EXPECT_EQ(qvzsu8ToUintmax(object, one, 1, reinterpret_cast<uintmax_t *>(&value), &count), 0x1000u + 82);
    EXPECT_EQ(qvzsu8IntFormat(object, -9, buffer, 8, &count, pattern), 0x1000u + 83);
    EXPECT_EQ(static_cast<int32_t>(f.args[0]), -9);
    EXPECT_EQ(qvzsu8UIntFormat(object, 10, buffer, 8, &count, pattern), 0x1000u + 84);
    int32_t i32 = 0;
    EXPECT_EQ(qvzsu8ToInt(object, two, 1, &i32, &count), 0x1000u + 85);
    EXPECT_EQ(f.args[2], w(&i32));
    EXPECT_EQ(qvzsu8ToUInt(object, two, 1, reinterpret_cast<uint32_t *>(&i32), &count), 0x1000u + 86);
    EXPECT_EQ(qvzsu8LongFormat(object, -11, buffer, 8, &count, pattern), 0x1000u + 87);
    EXPECT_EQ(f.args[0], asWord(int64_t{-11}));
    EXPECT_EQ(qvzsu8ULongFormat(object, 12, buffer, 8, &count, pattern), 0x1000u + 88);
    EXPECT_EQ(qvzsu8ToLong(object, three, 1, &value, &count), 0x1000u + 89);
    EXPECT_EQ(qvzsu8ToULong(object, three, 1, reinterpret_cast<uint64_t *>(&value), &count), 0x1000u + 90);
    EXPECT_EQ(f.args, (std::vector<uint64_t>{w(three), 1, w(&value), w(&count)}));
    EXPECT_EQ(qvzsu8DatetimeFormat(object, record, buffer, 8, &count, pattern), 0x1000u + 95);
    EXPECT_EQ(f.args, (std::vector<uint64_t>{w(record), w(buffer), 8, w(&count), w(pattern)}));
    EXPECT_EQ(qvzsu8DateFormat(object, record, buffer, 8, &count, pattern), 0x1000u + 96);
    EXPECT_EQ(qvzsu8TimeFormat(object, record, buffer, 8, &count, pattern), 0x1000u + 97);
    EXPECT_EQ(qvzsu8ToDatetime(object, four, 1, record, &count, pattern), 0x1000u + 98);
    EXPECT_EQ(qvzsu8ToDate(object, four, 1, record, &count, pattern), 0x1000u + 99);
    EXPECT_EQ(qvzsu8ToTime(object, four, 1, record, &count, pattern), 0x1000u + 100);
    EXPECT_EQ(f.args, (std::vector<uint64_t>{w(four), 1, w(record), w(&count), w(pattern)}));
}

#undef FORMAT_ARGS
#undef PARSE_ARGS

}  // namespace
