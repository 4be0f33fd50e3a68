// The UTF-8 comparisons, lengths, copy and blank stripping over two
// arbitrary strings in exactly sized heap blocks, with the reference host's
// text services and without them: nothing is read past the lengths given,
// the vector counts equal byte-by-byte ones, results stay in their ranges, a string equals itself, byte order is
// antisymmetric, and byte-equal strings are equal without case too.
#include <cstdint>

#include "fuzz_support.h"
#include "ombrix/utf8.h"

namespace {

const char *chars(const ExactBuffer &b) { return reinterpret_cast<const char *>(b.data()); }

// The counts stepped one byte at a time, straight from their rules.
uint64_t slenbByBytes(const uint8_t *s, uint64_t n) {
    uint64_t count = 0;
    for (uint64_t i = 0; i < n; i += _utf8_len[s[i]]) ++count;
    return count;
}

uint64_t numCharsByBytes(const uint8_t *s, uint64_t n) {
    uint64_t count = 0;
    for (uint64_t i = 0; i < n; ++count) {
        uint64_t span = 1;
        while (span < _utf8_len[s[i]] && i + span < n && valid_2nd_utf8[s[i + span]]) ++span;
        i += span;
    }
    return count;
}

void checkOne(const ExactBuffer &s) {
    uint64_t n = s.size();
    FUZZ_CHECK(UTF8_SLENB(chars(s), n) == slenbByBytes(s.data(), n));
    FUZZ_CHECK(qvzsu8NumChars(chars(s), n) == numCharsByBytes(s.data(), n));
    FUZZ_CHECK(UTF8_BLENB(chars(s), n) <= n);
    for (int32_t mode : {0, 1, 2}) FUZZ_CHECK(qvzsu8StripBlanks(chars(s), n, mode) <= n);
    FUZZ_CHECK(qvzsu8NormCompare(chars(s), n, chars(s), n) == 0);
    FUZZ_CHECK(qvzsu8NormEqual(chars(s), n, chars(s), n) == 1);
    FUZZ_CHECK(qvzsu8Compare(chars(s), n, chars(s), n) == 0);
}

void checkPair(const ExactBuffer &a, const ExactBuffer &b) {
    int32_t order = qvzsu8Compare(chars(a), a.size(), chars(b), b.size());
    FUZZ_CHECK(order >= -1 && order <= 1);
    FUZZ_CHECK(order == -qvzsu8Compare(chars(b), b.size(), chars(a), a.size()));
    int32_t norm = qvzsu8NormCompare(chars(a), a.size(), chars(b), b.size());
    FUZZ_CHECK(norm >= -2 && norm <= 2);
    int32_t equal = qvzsu8NormEqual(chars(a), a.size(), chars(b), b.size());
    FUZZ_CHECK(equal == 0 || equal == 1);
    if (order == 0) FUZZ_CHECK(norm == 0 && equal == 1);
    FUZZ_CHECK(equal == qvzsu8NormEqual(chars(b), b.size(), chars(a), a.size()));
}

void checkCopy(const ExactBuffer &src, uint64_t dn) {
    ExactBuffer field(dn);
    uint64_t copied = qvzsu8Copy(chars(src), src.size(), reinterpret_cast<char *>(field.data()), dn);
    FUZZ_CHECK(copied <= dn && copied <= src.size());
    FUZZ_CHECK(std::equal(field.data(), field.data() + copied, src.data()));
    for (uint64_t i = copied; i < dn; ++i) FUZZ_CHECK(field.data()[i] == ' ');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    bool withServices = input.byte() & 1;
    uint64_t split = input.word();
    uint64_t dn = input.byte();
    split = input.restSize() ? split % (input.restSize() + 1) : 0;
    ExactBuffer a(input.rest(), split);
    ExactBuffer b(input.rest() + split, input.restSize() - split);

    QVWord *host = referenceHost();
    static void *const services = host[QV_HOST_TEXT_SERVICES];
    uint64_t major = 0, minor = 0;
    qvextver(host, &major, &minor);
    qvhostSetValue(host, QV_HOST_TEXT_SERVICES, withServices ? services : nullptr);

    checkOne(a);
    checkOne(b);
    checkPair(a, b);
    checkCopy(a, dn);
    return 0;
}
