// The UTF-8 comparisons, lengths, copy and blank stripping over two arbitrary strings in exactly
// sized heap blocks, with the reference host's text services and without them: nothing is read past
// the lengths given, the vector counts equal byte-by-byte ones, results stay in their ranges, a
// string equals itself, byte order is antisymmetric, byte-equal strings are equal without case too.
#include "fuzz_support.h"
#include "ombrix/utf8.h"

namespace {

// The counts stepped one byte at a time, straight from their rules.
uint64_t slenbByBytes(const uint8_t *s, uint64_t n) {
    uint64_t count = 0;
    for (uint64_t i = 0; i < n; i += _utf8_len[s[i]]) ++count;
    return count;
}

uint64_t numCharsByBytes(const uint8_t *s, uint64_t n) {
    uint64_t count = 0;
    for (uint64_t i = 0, span = 1; i < n; ++count, i += span)
        for (span = 1; span < _utf8_len[s[i]] && i + span < n && valid_2nd_utf8[s[i + span]];) ++span;
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    bool withServices = input.byte() & 1;
    uint64_t split = input.word(), dn = input.byte();
    split = input.restSize() ? split % (input.restSize() + 1) : 0;
    ExactBuffer a(split, input.rest()), b(input.restSize() - split, input.rest() + split);
    QVWord *host = referenceHost();
    static void *const services = host[QV_HOST_TEXT_SERVICES];
    uint64_t major = 0, minor = 0;
    qvextver(host, &major, &minor);
    qvhostSetValue(host, QV_HOST_TEXT_SERVICES, withServices ? services : nullptr);
    for (const ExactBuffer *s : {&a, &b}) {
        const char *c = s->chars();
        uint64_t n = s->size();
        FUZZ_CHECK(UTF8_SLENB(c, n) == slenbByBytes(s->data(), n) && qvzsu8NumChars(c, n) == numCharsByBytes(s->data(), n));
        FUZZ_CHECK(UTF8_BLENB(c, n) <= n);
        for (int32_t mode : {0, 1, 2}) FUZZ_CHECK(qvzsu8StripBlanks(c, n, mode) <= n);
        FUZZ_CHECK(qvzsu8NormCompare(c, n, c, n) == 0 && qvzsu8NormEqual(c, n, c, n) == 1 && qvzsu8Compare(c, n, c, n) == 0);
    }
    int32_t order = qvzsu8Compare(a.chars(), a.size(), b.chars(), b.size());
    FUZZ_CHECK(order >= -1 && order <= 1 && order == -qvzsu8Compare(b.chars(), b.size(), a.chars(), a.size()));
    int32_t norm = qvzsu8NormCompare(a.chars(), a.size(), b.chars(), b.size());
    int32_t equal = qvzsu8NormEqual(a.chars(), a.size(), b.chars(), b.size());
    FUZZ_CHECK(norm >= -2 && norm <= 2 && (equal == 0 || equal == 1));
    if (order == 0) FUZZ_CHECK(norm == 0 && equal == 1);
    FUZZ_CHECK(equal == qvzsu8NormEqual(b.chars(), b.size(), a.chars(), a.size()));
    // The copy into a field of dn bytes: a prefix of the source, padded with blanks.
    ExactBuffer field(dn);
    uint64_t copied = qvzsu8Copy(a.chars(), a.size(), reinterpret_cast<char *>(field.data()), dn);
    FUZZ_CHECK(copied <= dn && copied <= a.size() && field.bytes(copied) == a.bytes(copied));
    FUZZ_CHECK(std::all_of(field.data() + copied, field.data() + dn, [](uint8_t c) { return c == ' '; }));
    return 0;
}
