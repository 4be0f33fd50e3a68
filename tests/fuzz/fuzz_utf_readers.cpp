// The readers walked over arbitrary bytes held in an exactly-sized heap
// block: every step stays inside what it was given, makes progress, reports
// one of its three statuses with U+FFFD on failure, and a character read
// without complaint from legal input is written back to the same bytes.
#include <cstdint>

#include "fuzz_support.h"
#include "text/utf.h"

namespace {

struct ReaderCase {
    OmbrixUtfReader read;
    OmbrixUtfWriter writeBack;  // the writer of the same form and order
};

const ReaderCase kReaders[] = {
    {UTF8_UTF32, UTF32_UTF8},
    {UTF16_UTF32, UTF32_UTF16s_SWAP},
    {UTF16_UTF32_SWAP, UTF32_UTF16s},
    {COPY_UTF32b, COPY_UTF32},
    {COPY_UTF32b_SWAP, COPY_UTF32_SWAP},
};

bool isKnownStatus(QVStatus s) {
    return s == 0 || s == OMBRIX_E_INVALID_SEQUENCE || s == OMBRIX_E_TRUNCATED;
}

// A UTF-8 sequence that isLegalUTF8 accepts over the bytes the reader took.
bool legalUtf8(const uint8_t *s, uint64_t used) {
    int32_t index = -1;
    return used <= 4 && isLegalUTF8(s, int32_t(used), &index) == 1 && index == int32_t(used);
}

void checkUtf8Extras(const uint8_t *s, uint64_t available, QVChar c, uint64_t used, QVStatus status) {
    // UTF8_UTF16 reads the same character the same way.
    uint16_t units[2] = {0, 0};
    uint64_t used16 = 0;
    QVStatus status16 = UTF8_UTF16(s, available, units, &used16);
    FUZZ_CHECK(used16 == used);
    if (status != 0) {
        FUZZ_CHECK(status16 == OMBRIX_E_INVALID_SEQUENCE && units[0] == 0xFFFD);
        return;
    }
    FUZZ_CHECK(status16 == 0);
    if (c > 0x10FFFF) {
        FUZZ_CHECK(units[0] == uint16_t(0xD800 + ((c - 0x10000) >> 10)));
    } else if (c >= 0x10000) {
        QVChar back = ((QVChar(units[0]) - 0xD800) << 10 | (QVChar(units[1]) - 0xDC00)) + 0x10000;
        FUZZ_CHECK(units[0] >= 0xD800 && units[0] <= 0xDBFF && units[1] >= 0xDC00 && units[1] <= 0xDFFF);
        FUZZ_CHECK(back == c);
    } else {
        FUZZ_CHECK(units[0] == c);
    }
    // A character read without complaint has as many bytes as its lead
    // byte announces.
    FUZZ_CHECK(used == omb::utf8rules::bytesFromUTF8(s[0]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    const ReaderCase &rc = kReaders[in.byte() % (sizeof kReaders / sizeof kReaders[0])];
    ExactBuffer text(in.rest(), in.restSize());

    uint64_t pos = 0;
    while (pos < text.size()) {
        const uint8_t *s = text.data() + pos;
        uint64_t available = text.size() - pos;
        QVChar c = 0x12345678;
        uint64_t used = ~uint64_t(0);
        QVStatus status = rc.read(s, available, &c, &used);
        FUZZ_CHECK(isKnownStatus(status));
        FUZZ_CHECK(used >= 1 && used <= available);
        if (status != 0) FUZZ_CHECK(c == 0xFFFD);
        if (status == OMBRIX_E_TRUNCATED && rc.read != UTF16_UTF32 && rc.read != UTF16_UTF32_SWAP)
            FUZZ_CHECK(used == available);

        if (rc.read == UTF8_UTF32) checkUtf8Extras(s, available, c, used, status);

        bool legal = status == 0 && (rc.read != UTF8_UTF32 || legalUtf8(s, used));
        if (legal) {
            // Written back in its own form, the character is the bytes read.
            ExactBuffer back(4);
            uint64_t put = 0;
            FUZZ_CHECK(rc.writeBack(c, back.data(), back.size(), &put) == 0);
            FUZZ_CHECK(put == used && std::memcmp(back.data(), s, used) == 0);
        }

        // isLegalUTF8 looks at exactly the bytes it is given.
        if (rc.read == UTF8_UTF32) {
            uint64_t len = available < 4 ? available : 4;
            ExactBuffer seq(s, len);
            int32_t index = -1;
            int32_t verdict = isLegalUTF8(seq.data(), int32_t(len), &index);
            FUZZ_CHECK(verdict == 0 || verdict == 1);
            FUZZ_CHECK(index >= 1 && index <= int32_t(len));
        }
        pos += used;
    }

    // The unit readers over the last bytes of the block.
    if (text.size() >= 4) {
        const uint8_t *p = text.data() + text.size() - 4;
        FUZZ_CHECK(Byte2DWord(p) == omb::load32le(p) && Byte2DWord_swap(p) == omb::load32be(p));
    }
    if (text.size() >= 2) {
        const uint8_t *p = text.data() + text.size() - 2;
        FUZZ_CHECK(Byte2Word(p) == omb::load16le(p) && Byte2Word_swap(p) == omb::load16be(p));
        FUZZ_CHECK(BYTE_UTF16_UTF32(p) == omb::load16be(p) && BYTE_UTF16_UTF32_SWAP(p) == omb::load16le(p));
    }
    return 0;
}
