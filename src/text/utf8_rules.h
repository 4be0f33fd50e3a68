// The rules of UTF-8 sequences, kept once: the exported byte tables
// (utf8.cpp), the one-character readers (utf.h) and the vector loops
// (utf_loops.h) all derive from these. In a namespace of their own, so that
// they never meet the exported tables of the same names in one lookup.
#pragma once

#include <cstdint>

namespace omb::utf8rules {

// Sequence length announced by a lead byte; a continuation byte counts as a
// one-byte unit, F8-FB announce five bytes and FC-FF six.
constexpr uint8_t bytesFromUTF8(uint8_t b) {
    return b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF8 ? 4 : b < 0xFC ? 5 : 6;
}
// Bytes that may start a character: 00-7F and C2-F4.
constexpr bool valid_1st_utf8(uint8_t b) { return b < 0x80 || (b >= 0xC2 && b <= 0xF4); }
// Continuation bytes: 80-BF.
constexpr bool valid_2nd_utf8(uint8_t b) { return b >= 0x80 && b <= 0xBF; }
// Payload bits of a lead byte, by sequence length.
constexpr uint8_t utf8_mask[7] = {0, 0x7F, 0x1F, 0x0F, 0x07, 0x03, 0x01};
// The narrower range of the continuation byte after E0 (no overlong form),
// ED (no surrogate) and F0 (no overlong form); other leads take any.
constexpr bool secondByteFits(uint8_t lead, uint8_t second) {
    return lead == 0xE0 ? second >= 0xA0 : lead == 0xED ? second <= 0x9F : lead == 0xF0 ? second >= 0x90 : true;
}

}  // namespace omb::utf8rules
