// The two drivers over arbitrary input and every output capacity, with both
// buffers exactly sized on the heap: the exported driver, each vector
// variant and the plain per-character driver agree on every output byte,
// the written count and the status, for any reader and writer (the pairs
// the vector loops take come up half the time); valid text survives the
// round trip UTF-32 -> UTF-8 -> UTF-32; and both variants' UTF-8 length of
// QVChar strings is the unit-by-unit sum.
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "text/kernels.h"
#include "text/utf.h"

namespace {

const OmbrixUtfReader kReaders[] = {UTF8_UTF32, UTF16_UTF32, UTF16_UTF32_SWAP, COPY_UTF32b,
                                    COPY_UTF32b_SWAP};
const OmbrixUtfWriter kWriters[] = {COPY_UTF32, COPY_UTF32_SWAP, UTF32_UTF16, UTF32_UTF16_SWAP,
                                    UTF32_UTF16s, UTF32_UTF16s_SWAP, UTF32_UTF8, UTF16_UTF8};

// One of the routines, by a byte of the input.
template <class T, size_t N>
T pick(const T (&all)[N], uint8_t choice) { return all[choice % N]; }

struct Outcome {
    std::vector<uint8_t> bytes;
    uint64_t written;
    QVStatus status;
    bool operator==(const Outcome &o) const {
        return bytes == o.bytes && written == o.written && status == o.status;
    }
};

// Runs one conversion into a fresh exactly-sized block prefilled with a
// pattern, so that a stray store shows in the bytes as well as to ASan.
template <class Run>
Outcome convert(uint64_t cap, Run run) {
    ExactBuffer out(cap);
    std::memset(out.data(), 0xA5, cap);
    uint64_t written = 0xDEADBEEF;
    QVStatus status = run(out.data(), &written);
    FUZZ_CHECK(written <= cap);
    return {std::vector<uint8_t>(out.data(), out.data() + cap), written, status};
}

std::vector<const omb::TextKernels *> variants() {
    std::vector<const omb::TextKernels *> v{&omb::baselineKernels};
    if (omb::wideKernelsSupported()) v.push_back(&omb::wideKernels);
    return v;
}

void checkToUtf32(const ExactBuffer &src, uint64_t cap, OmbrixUtfReader read, OmbrixUtfWriter write) {
    Outcome plain = convert(cap, [&](uint8_t *d, uint64_t *w) {
        return omb::convertToUtf32Plain(src.data(), src.size(), d, cap, w, read, write);
    });
    Outcome exported = convert(cap, [&](uint8_t *d, uint64_t *w) {
        return ConvertToUTF32(src.data(), src.size(), d, cap, w, read, write);
    });
    FUZZ_CHECK(exported == plain);
    if (read != UTF8_UTF32 || (write != COPY_UTF32 && write != COPY_UTF32_SWAP)) return;
    for (const omb::TextKernels *k : variants()) {
        auto loop = write == COPY_UTF32 ? k->utf8ToUtf32Be : k->utf8ToUtf32Le;
        Outcome vec = convert(cap, [&](uint8_t *d, uint64_t *w) {
            return loop(src.data(), src.size(), d, cap, w);
        });
        FUZZ_CHECK(vec == plain);
    }
}

void checkFromUtf32(const ExactBuffer &src, uint64_t cap, OmbrixUtfWriter write, OmbrixUtfReader read) {
    Outcome plain = convert(cap, [&](uint8_t *d, uint64_t *w) {
        return omb::convertFromUtf32Plain(src.data(), src.size(), d, cap, w, write, read);
    });
    Outcome exported = convert(cap, [&](uint8_t *d, uint64_t *w) {
        return ConvertFromUTF32(src.data(), src.size(), d, cap, w, write, read);
    });
    FUZZ_CHECK(exported == plain);
    if (write != UTF32_UTF8 || (read != COPY_UTF32b && read != COPY_UTF32b_SWAP)) return;
    for (const omb::TextKernels *k : variants()) {
        auto loop = read == COPY_UTF32b ? k->utf32BeToUtf8 : k->utf32LeToUtf8;
        Outcome vec = convert(cap, [&](uint8_t *d, uint64_t *w) {
            return loop(src.data(), src.size(), d, cap, w);
        });
        FUZZ_CHECK(vec == plain);
    }
}

// The bytes as big-endian UTF-32 of scalar values (surrogates and values
// past U+10FFFF folded into range), to UTF-8 and back: the same units, and
// GET_UTF8_LEN_FROM_QVCHAR predicts the UTF-8 size.
void checkRoundTrip(const uint8_t *data, size_t size) {
    size_t count = size / 4;
    ExactBuffer units(4 * count);
    std::vector<QVChar> values(count);
    for (size_t i = 0; i < count; ++i) {
        QVChar c = omb::load32be(data + 4 * i) % 0x110000;
        if (c >= 0xD800 && c <= 0xDFFF) c -= 0x800;
        // Mostly short characters, as text has them.
        if (data[4 * i] & 0x80) c &= 0x7F;
        values[i] = c;
        omb::store32be(units.data() + 4 * i, c);
    }
    uint64_t need = GET_UTF8_LEN_FROM_QVCHAR(values.data(), int64_t(count));
    ExactBuffer utf8(need);
    uint64_t written = 0;
    FUZZ_CHECK(ConvertFromUTF32(units.data(), units.size(), utf8.data(), need, &written, UTF32_UTF8,
                                COPY_UTF32b) == 0);
    FUZZ_CHECK(written == need);
    ExactBuffer back(4 * count);
    FUZZ_CHECK(ConvertToUTF32(utf8.data(), need, back.data(), back.size(), &written, UTF8_UTF32,
                              COPY_UTF32) == 0);
    FUZZ_CHECK(written == 4 * count);
    FUZZ_CHECK(count == 0 || std::memcmp(back.data(), units.data(), 4 * count) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    uint8_t mode = in.byte();
    uint8_t readerChoice = in.byte(), writerChoice = in.byte();
    uint64_t cap = in.word() % 4096;
    if (mode & 1) cap %= 64;  // small capacities end the output inside the text
    ExactBuffer src(in.rest(), in.restSize());

    // Half the time the pair the vector loops take.
    bool fastPair = mode & 2;
    if (mode & 4) {
        OmbrixUtfReader read = fastPair ? UTF8_UTF32 : pick(kReaders, readerChoice);
        OmbrixUtfWriter write = fastPair ? (writerChoice & 1 ? COPY_UTF32 : COPY_UTF32_SWAP)
                                         : pick(kWriters, writerChoice);
        checkToUtf32(src, cap, read, write);
    } else {
        OmbrixUtfWriter write = fastPair ? UTF32_UTF8 : pick(kWriters, writerChoice);
        OmbrixUtfReader read = fastPair ? (readerChoice & 1 ? COPY_UTF32b : COPY_UTF32b_SWAP)
                                        : pick(kReaders, readerChoice);
        checkFromUtf32(src, cap, write, read);
    }
    if (mode & 8) checkRoundTrip(src.data(), src.size());

    // The length in UTF-8 of the input as units, against the unit sum.
    size_t count = src.size() / 4;
    std::vector<QVChar> units(count);
    uint64_t expected = 0;
    for (size_t i = 0; i < count; ++i) expected += omb::utf8Length(units[i] = omb::load32le(src.data() + 4 * i));
    for (const omb::TextKernels *k : variants()) FUZZ_CHECK(k->utf8LengthOf(units.data(), count) == expected);
    return 0;
}
