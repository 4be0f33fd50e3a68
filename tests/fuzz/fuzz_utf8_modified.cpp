// qvzsu8Encode and qvzsu8Decode over arbitrary input, flags and output
// capacity, with both buffers exactly sized on the heap: nothing is read or
// written past the lengths given, the written count stays within the
// capacity, a full output is a prefix of the complete one, and well-formed
// text comes back unchanged through Encode then Decode.
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "ombrix/utf8.h"

namespace {

using Convert = QVStatus (*)(const char *, uint64_t, char *, uint64_t, uint64_t *, uint32_t);

struct Result {
    std::vector<uint8_t> bytes;
    QVStatus status;
};

Result run(Convert convert, const ExactBuffer &in, uint64_t cap, uint32_t flags) {
    ExactBuffer out(cap);
    uint64_t written = 0xDEADBEEF;
    QVStatus status = convert(reinterpret_cast<const char *>(in.data()), in.size(),
                              reinterpret_cast<char *>(out.data()), cap, &written, flags);
    FUZZ_CHECK(written <= cap);
    FUZZ_CHECK(status == 0 || status == OMBRIX_UTF8_OUTPUT_FULL || status == OMBRIX_UTF8_REPLACED);
    return {std::vector<uint8_t>(out.data(), out.data() + written), status};
}

// Well-formed UTF-8: every character valid by qvzsu8CharSize and none
// beyond U+10FFFF.
bool wellFormed(const ExactBuffer &text) {
    const auto *p = reinterpret_cast<const char *>(text.data());
    uint64_t i = 0;
    while (i < text.size()) {
        auto lead = static_cast<uint8_t>(p[i]);
        if (_utf8_len[lead] > text.size() - i) return false;
        uint8_t valid = 0;
        uint64_t size = qvzsu8CharSize(p + i, &valid);
        if (!valid) return false;
        if (lead == 0xF4 && static_cast<uint8_t>(p[i + 1]) > 0x8F) return false;
        i += size;
    }
    return true;
}

void checkPrefixWhenFull(Convert convert, const ExactBuffer &in, uint64_t cap, uint32_t flags) {
    Result small = run(convert, in, cap, flags);
    Result whole = run(convert, in, in.size() * 3 + 8, flags);
    FUZZ_CHECK(whole.status != OMBRIX_UTF8_OUTPUT_FULL);
    FUZZ_CHECK(small.bytes.size() <= whole.bytes.size());
    FUZZ_CHECK(std::equal(small.bytes.begin(), small.bytes.end(), whole.bytes.begin()));
    if (small.status != OMBRIX_UTF8_OUTPUT_FULL) FUZZ_CHECK(small.bytes == whole.bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    uint32_t flags = input.byte() & 0x7;
    uint64_t cap = input.word() % 512;
    ExactBuffer text(input.rest(), input.restSize());

    checkPrefixWhenFull(qvzsu8Encode, text, cap, flags);
    // Decode's plain copy (flag 4 without 1) pads a short copy with blanks,
    // so its output is no prefix of a longer one; the other flags are.
    if ((flags & 0x5) != 0x4) checkPrefixWhenFull(qvzsu8Decode, text, cap, flags);
    else run(qvzsu8Decode, text, cap, flags);

    if (wellFormed(text)) {
        uint32_t roundTrip = flags & 0x1;
        Result encoded = run(qvzsu8Encode, text, text.size() * 2, roundTrip);
        FUZZ_CHECK(encoded.status == 0);
        ExactBuffer modified(encoded.bytes.data(), encoded.bytes.size());
        Result decoded = run(qvzsu8Decode, modified, text.size(), roundTrip);
        FUZZ_CHECK(decoded.status == 0);
        FUZZ_CHECK(decoded.bytes.size() == text.size());
        FUZZ_CHECK(std::equal(decoded.bytes.begin(), decoded.bytes.end(), text.data()));
    }
    return 0;
}
