// The readers walked over arbitrary bytes in an exactly-sized heap block: every step stays inside
// what it was given, makes progress, reports one of its three statuses with U+FFFD on failure, and
// a character read without complaint from legal input is written back to the same bytes.
#include "fuzz_support.h"
#include "text/utf.h"

namespace {

struct ReaderCase { OmbrixUtfReader read; OmbrixUtfWriter writeBack; };  // with the writer of its form and order
const ReaderCase kReaders[] = {{UTF8_UTF32, UTF32_UTF8},         {UTF16_UTF32, UTF32_UTF16s_SWAP},
                               {UTF16_UTF32_SWAP, UTF32_UTF16s}, {COPY_UTF32b, COPY_UTF32},
                               {COPY_UTF32b_SWAP, COPY_UTF32_SWAP}};

// UTF8_UTF16 reads the character the same way; one read without complaint has
// as many bytes as its lead byte announces; isLegalUTF8 looks at exactly the
// bytes it is given. Gives whether isLegalUTF8 accepts the bytes the reader took.
bool checkUtf8Extras(const uint8_t *s, uint64_t available, QVChar c, uint64_t used, QVStatus status) {
    uint16_t units[2] = {0, 0};
    uint64_t used16 = 0;
    QVStatus status16 = UTF8_UTF16(s, available, units, &used16);
    FUZZ_CHECK(used16 == used);
    FUZZ_CHECK(status == 0 ? status16 == 0 : status16 == OMBRIX_E_INVALID_SEQUENCE && units[0] == 0xFFFD);
    if (status == 0 && c > 0x10FFFF) {
        FUZZ_CHECK(units[0] == uint16_t(0xD800 + ((c - 0x10000) >> 10)));
    } else if (status == 0 && c >= 0x10000) {
        FUZZ_CHECK(units[0] >= 0xD800 && units[0] <= 0xDBFF && units[1] >= 0xDC00 && units[1] <= 0xDFFF);
        FUZZ_CHECK(((QVChar(units[0]) - 0xD800) << 10 | (QVChar(units[1]) - 0xDC00)) + 0x10000 == c);
    } else if (status == 0) {
        FUZZ_CHECK(units[0] == c);
    }
    if (status == 0) FUZZ_CHECK(used == omb::utf8rules::bytesFromUTF8(s[0]));
    uint64_t len = std::min<uint64_t>(available, 4);
    ExactBuffer seq(len, s);
    int32_t index = -1, verdict = isLegalUTF8(seq.data(), int32_t(len), &index);
    FUZZ_CHECK((verdict == 0 || verdict == 1) && index >= 1 && index <= int32_t(len));
    index = -1;
    return used <= 4 && isLegalUTF8(s, int32_t(used), &index) == 1 && index == int32_t(used);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    const ReaderCase &rc = kReaders[in.byte() % std::size(kReaders)];
    ExactBuffer text = in.restBlock();
    bool utf16 = rc.read == UTF16_UTF32 || rc.read == UTF16_UTF32_SWAP;
    for (uint64_t pos = 0, used = 0; pos < text.size(); pos += used) {
        const uint8_t *s = text.data() + pos;
        uint64_t available = text.size() - pos;
        QVChar c = 0x12345678;
        used = ~uint64_t(0);
        QVStatus status = rc.read(s, available, &c, &used);
        FUZZ_CHECK(status == 0 || status == OMBRIX_E_INVALID_SEQUENCE || status == OMBRIX_E_TRUNCATED);
        FUZZ_CHECK(used >= 1 && used <= available);
        if (status != 0) FUZZ_CHECK(c == 0xFFFD);
        if (status == OMBRIX_E_TRUNCATED && !utf16) FUZZ_CHECK(used == available);
        bool legal = rc.read != UTF8_UTF32 || checkUtf8Extras(s, available, c, used, status);
        if (status == 0 && legal) {  // written back in its own form, the character is the bytes read
            ExactBuffer back(4);
            uint64_t put = 0;
            FUZZ_CHECK(rc.writeBack(c, back.data(), back.size(), &put) == 0);
            FUZZ_CHECK(put == used && std::memcmp(back.data(), s, used) == 0);
        }
    }
    // The unit readers over the last bytes of the block.
    if (const uint8_t *p = text.data() + text.size() - std::min<size_t>(text.size(), 4); text.size() >= 4)
        FUZZ_CHECK(Byte2DWord(p) == omb::load32le(p) && Byte2DWord_swap(p) == omb::load32be(p));
    if (const uint8_t *p = text.data() + text.size() - std::min<size_t>(text.size(), 2); text.size() >= 2) {
        FUZZ_CHECK(Byte2Word(p) == omb::load16le(p) && Byte2Word_swap(p) == omb::load16be(p));
        FUZZ_CHECK(BYTE_UTF16_UTF32(p) == omb::load16be(p) && BYTE_UTF16_UTF32_SWAP(p) == omb::load16le(p));
    }
    return 0;
}
