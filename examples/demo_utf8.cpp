// The UTF-8 routines on a few multilingual strings: measured, carried into
// the host's modified form and back, and compared with and without case.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "demo.h"

namespace {

struct Utf8Routines {
    uint64_t (*slen)(const char *);
    uint64_t (*blenb)(const char *, uint64_t);
    void (*lengths)(const char *, uint64_t *, uint64_t *);
    QVStatus (*encode)(const char *, uint64_t, char *, uint64_t, uint64_t *, uint32_t);
    QVStatus (*decode)(const char *, uint64_t, char *, uint64_t, uint64_t *, uint32_t);
    int32_t (*normCompare)(const char *, uint64_t, const char *, uint64_t);
    int32_t (*normEqual)(const char *, uint64_t, const char *, uint64_t);
    int32_t (*icuNormEqual)(const void *, int64_t, const void *, int64_t, int32_t, QVStatus *);
};

bool bindAll(void *library, Utf8Routines *r) {
    return bind(library, "UTF8_SLEN", &r->slen) && bind(library, "UTF8_BLENB", &r->blenb) &&
           bind(library, "qvzsu8Lengths", &r->lengths) &&
           bind(library, "qvzsu8Encode", &r->encode) && bind(library, "qvzsu8Decode", &r->decode) &&
           bind(library, "qvzsu8NormCompare", &r->normCompare) &&
           bind(library, "qvzsu8NormEqual", &r->normEqual) &&
           bind(library, "qvzsu8ICUNormEqual", &r->icuNormEqual);
}

unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

void printHex(const char *bytes, uint64_t n) {
    for (uint64_t i = 0; i < n; ++i) std::printf(" %02X", static_cast<unsigned char>(bytes[i]));
    std::printf("\n");
}

// Characters and bytes, and how much of a 7-byte field holds whole
// characters.
void measure(const Utf8Routines &r) {
    static const char *const samples[] = {"Grüße", "ελληνικά", "日本語のテキスト", "emoji 😀🎉"};
    for (const char *s : samples) {
        uint64_t chars = 0, bytes = 0;
        r.lengths(s, &chars, &bytes);
        char field[8] = {};
        uint64_t fits = r.blenb(s, bytes < 7 ? bytes : 7);
        std::memcpy(field, s, fits);
        std::printf("  \"%s\": %llu characters in %llu bytes; 7 bytes hold \"%s\" (%llu characters)\n",
                    s, ull(chars), ull(bytes), field, ull(r.slen(field)));
    }
}

// A zero and an emoji into modified UTF-8 and back.
void convert(const Utf8Routines &r) {
    const char text[] = "a\0\xf0\x9f\x98\x80z";
    const uint64_t n = sizeof text - 1;
    char modified[32], back[32];
    uint64_t written = 0, restored = 0;
    QVStatus status = r.encode(text, n, modified, sizeof modified, &written, 1);
    std::printf("  qvzsu8Encode(a U+0000 U+1F600 z, flags 1) = 0x%x:", status);
    printHex(modified, written);
    status = r.decode(modified, written, back, sizeof back, &restored, 1);
    std::printf("  qvzsu8Decode back = 0x%x, %s\n", status,
                restored == n && std::memcmp(back, text, n) == 0 ? "the same bytes" : "different bytes");
    status = r.encode(text, n, modified, sizeof modified, &written, 4);
    std::printf("  qvzsu8Encode(flags 4) = 0x%x (the emoji replaced):", status);
    printHex(modified, written);
}

void compare(const Utf8Routines &r) {
    struct Pair {
        const char *a, *b;
    };
    static const Pair pairs[] = {{"Straße", "STRAßE"},       {"Ελλάδα", "ελλάδα"},
                                 {"café", "cafe"},           {"résumé", "résumé  "},
                                 {"\xe2\x84\xaa" "elvin", "kelvin"}};
    for (const Pair &p : pairs) {
        uint64_t an = std::strlen(p.a), bn = std::strlen(p.b);
        std::printf("  \"%s\" vs \"%s\": qvzsu8NormCompare %+d, qvzsu8NormEqual %d\n", p.a, p.b,
                    r.normCompare(p.a, an, p.b, bn), r.normEqual(p.a, an, p.b, bn));
    }
    const char composed[] = "\xc3\xa9", decomposed[] = "e\xcc\x81";
    QVStatus status = 0;
    int32_t equal = r.icuNormEqual(composed, 2, decomposed, 3, 0, &status);
    std::printf("  U+00E9 vs e U+0301 under NFC: qvzsu8ICUNormEqual %d (status 0x%x)\n", equal, status);
}

}  // namespace

void utf8Tour(void *library) {
    Utf8Routines r{};
    if (!bindAll(library, &r)) return;
    std::printf("UTF-8 lengths:\n");
    measure(r);
    std::printf("modified UTF-8:\n");
    convert(r);
    std::printf("comparisons (-2/2 differ, -1/1 differ only in case, 0 equal):\n");
    compare(r);
}
