// The two drivers over arbitrary input and every output capacity, both buffers exactly sized: the
// exported driver, each vector variant and the plain per-character driver agree on every output
// byte, the written count and the status, for any reader and writer (the vector loops' pairs half
// the time); valid text survives UTF-32 -> UTF-8 -> UTF-32; each variant's UTF-8 length of QVChar
// strings is the unit-by-unit sum.
#include "fuzz_support.h"
#include "text/kernels.h"
#include "text/utf.h"

namespace {

const OmbrixUtfReader kReaders[] = {UTF8_UTF32, UTF16_UTF32, UTF16_UTF32_SWAP, COPY_UTF32b, COPY_UTF32b_SWAP};
const OmbrixUtfWriter kWriters[] = {COPY_UTF32,   COPY_UTF32_SWAP,   UTF32_UTF16, UTF32_UTF16_SWAP,
                                    UTF32_UTF16s, UTF32_UTF16s_SWAP, UTF32_UTF8,  UTF16_UTF8};
using Outcome = std::tuple<std::vector<uint8_t>, uint64_t, QVStatus>;  // bytes, written, status
using Step = std::function<QVStatus(uint8_t *, uint64_t *)>;

// Runs one conversion into a fresh exactly-sized block prefilled with a
// pattern, so that a stray store shows in the bytes as well as to ASan.
Outcome convert(uint64_t cap, const Step &run) {
    ExactBuffer out(cap);
    std::memset(out.data(), 0xA5, cap);
    uint64_t written = 0xDEADBEEF;
    QVStatus status = run(out.data(), &written);
    FUZZ_CHECK(written <= cap);
    return {out.bytes(cap), written, status};
}

const std::vector<const omb::TextKernels *> &variants() {
    static const auto v = omb::wideKernelsSupported()
                              ? std::vector<const omb::TextKernels *>{&omb::baselineKernels, &omb::wideKernels}
                              : std::vector<const omb::TextKernels *>{&omb::baselineKernels};
    return v;
}

void checkDrivers(const ExactBuffer &src, uint64_t cap, bool toUtf32, OmbrixUtfReader read, OmbrixUtfWriter write) {
    const uint8_t *s = src.data();
    const uint64_t n = src.size();
    Outcome plain = convert(cap, [&](uint8_t *d, uint64_t *w) {
        return toUtf32 ? omb::convertToUtf32Plain(s, n, d, cap, w, read, write)
                       : omb::convertFromUtf32Plain(s, n, d, cap, w, write, read);
    });
    FUZZ_CHECK(plain == convert(cap, [&](uint8_t *d, uint64_t *w) {
                   return toUtf32 ? ConvertToUTF32(s, n, d, cap, w, read, write)
                                  : ConvertFromUTF32(s, n, d, cap, w, write, read);
               }));
    bool vectorPair = toUtf32 ? read == UTF8_UTF32 && (write == COPY_UTF32 || write == COPY_UTF32_SWAP)
                              : write == UTF32_UTF8 && (read == COPY_UTF32b || read == COPY_UTF32b_SWAP);
    for (const omb::TextKernels *k : vectorPair ? variants() : std::vector<const omb::TextKernels *>{}) {
        auto loop = toUtf32 ? (write == COPY_UTF32 ? k->utf8ToUtf32Be : k->utf8ToUtf32Le)
                            : (read == COPY_UTF32b ? k->utf32BeToUtf8 : k->utf32LeToUtf8);
        FUZZ_CHECK(plain == convert(cap, [&](uint8_t *d, uint64_t *w) { return loop(s, n, d, cap, w); }));
    }
}

// The bytes as big-endian UTF-32 of scalar values (surrogates and values past
// U+10FFFF folded into range, mostly short characters as text has them), to
// UTF-8 and back: the same units, and GET_UTF8_LEN_FROM_QVCHAR predicts the UTF-8 size.
void checkRoundTrip(const uint8_t *data, size_t size) {
    size_t count = size / 4;
    ExactBuffer units(4 * count), back(4 * count);
    std::vector<QVChar> values(count);
    for (size_t i = 0; i < count; ++i) {
        QVChar c = omb::load32be(data + 4 * i) % 0x110000;
        if (c >= 0xD800 && c <= 0xDFFF) c -= 0x800;
        omb::store32be(units.data() + 4 * i, values[i] = data[4 * i] & 0x80 ? c & 0x7F : c);
    }
    uint64_t need = GET_UTF8_LEN_FROM_QVCHAR(values.data(), int64_t(count)), written = 0;
    ExactBuffer utf8(need);
    FUZZ_CHECK(ConvertFromUTF32(units.data(), units.size(), utf8.data(), need, &written, UTF32_UTF8, COPY_UTF32b) == 0);
    FUZZ_CHECK(written == need);
    FUZZ_CHECK(ConvertToUTF32(utf8.data(), need, back.data(), back.size(), &written, UTF8_UTF32, COPY_UTF32) == 0);
    FUZZ_CHECK(written == 4 * count && back.bytes(4 * count) == units.bytes(4 * count));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    uint8_t mode = in.byte(), readerChoice = in.byte(), writerChoice = in.byte();
    uint64_t cap = in.word() % 4096;
    if (mode & 1) cap %= 64;  // small capacities end the output inside the text
    ExactBuffer src = in.restBlock();
    bool fastPair = mode & 2, toUtf32 = mode & 4;
    OmbrixUtfReader read = kReaders[readerChoice % std::size(kReaders)];
    OmbrixUtfWriter write = kWriters[writerChoice % std::size(kWriters)];
    if (fastPair && toUtf32) read = UTF8_UTF32, write = writerChoice & 1 ? COPY_UTF32 : COPY_UTF32_SWAP;
    if (fastPair && !toUtf32) write = UTF32_UTF8, read = readerChoice & 1 ? COPY_UTF32b : COPY_UTF32b_SWAP;
    checkDrivers(src, cap, toUtf32, read, write);
    if (mode & 8) checkRoundTrip(src.data(), src.size());

    std::vector<QVChar> units(src.size() / 4);
    uint64_t expected = 0;
    for (size_t i = 0; i < units.size(); ++i) expected += omb::utf8Length(units[i] = omb::load32le(src.data() + 4 * i));
    for (const omb::TextKernels *k : variants()) FUZZ_CHECK(k->utf8LengthOf(units.data(), units.size()) == expected);
    return 0;
}
