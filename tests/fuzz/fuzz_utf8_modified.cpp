// qvzsu8Encode and qvzsu8Decode over arbitrary input, flags and output capacity, both buffers exactly
// sized on the heap: nothing is read or written past the lengths given, the written count stays within
// the capacity, a full output is a prefix of the complete one, and well-formed text comes back
// unchanged through Encode then Decode.
#include "fuzz_support.h"
#include "ombrix/utf8.h"

namespace {

using Convert = QVStatus (*)(const char *, uint64_t, char *, uint64_t, uint64_t *, uint32_t);
using Result = std::pair<std::vector<uint8_t>, QVStatus>;

Result run(Convert convert, const ExactBuffer &in, uint64_t cap, uint32_t flags) {
    ExactBuffer out(cap);
    uint64_t written = 0xDEADBEEF;
    QVStatus status = convert(in.chars(), in.size(), reinterpret_cast<char *>(out.data()), cap, &written, flags);
    FUZZ_CHECK(written <= cap && (status == 0 || status == OMBRIX_UTF8_OUTPUT_FULL || status == OMBRIX_UTF8_REPLACED));
    return {out.bytes(written), status};
}

// Well-formed UTF-8: every character valid by qvzsu8CharSize and none beyond U+10FFFF.
bool wellFormed(const ExactBuffer &text) {
    const uint8_t *p = text.data();
    for (uint64_t i = 0, step = 0; i < text.size(); i += step) {
        uint8_t valid = 0;
        if (_utf8_len[p[i]] > text.size() - i) return false;
        step = qvzsu8CharSize(text.chars() + i, &valid);
        if (!valid || (p[i] == 0xF4 && p[i + 1] > 0x8F)) return false;
    }
    return true;
}

void checkPrefixWhenFull(Convert convert, const ExactBuffer &in, uint64_t cap, uint32_t flags) {
    auto [small, smallStatus] = run(convert, in, cap, flags);
    auto [whole, wholeStatus] = run(convert, in, in.size() * 3 + 8, flags);
    FUZZ_CHECK(wholeStatus != OMBRIX_UTF8_OUTPUT_FULL && small.size() <= whole.size());
    FUZZ_CHECK(std::equal(small.begin(), small.end(), whole.begin()));
    if (smallStatus != OMBRIX_UTF8_OUTPUT_FULL) FUZZ_CHECK(small == whole);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    uint32_t flags = input.byte() & 0x7;
    uint64_t cap = input.word() % 512;
    ExactBuffer text = input.restBlock();
    checkPrefixWhenFull(qvzsu8Encode, text, cap, flags);
    // Decode's plain copy (flag 4 without 1) pads a short copy with blanks, so
    // its output is no prefix of a longer one; the other flags' are.
    if ((flags & 0x5) != 0x4) checkPrefixWhenFull(qvzsu8Decode, text, cap, flags);
    else run(qvzsu8Decode, text, cap, flags);
    if (wellFormed(text)) {
        uint32_t roundTrip = flags & 0x1;
        auto [encoded, encodedStatus] = run(qvzsu8Encode, text, text.size() * 2, roundTrip);
        FUZZ_CHECK(encodedStatus == 0);
        auto [decoded, decodedStatus] = run(qvzsu8Decode, ExactBuffer(encoded.size(), encoded.data()), text.size(), roundTrip);
        FUZZ_CHECK(decodedStatus == 0 && decoded == text.bytes(text.size()));
    }
    return 0;
}
