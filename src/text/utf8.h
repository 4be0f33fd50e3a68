// Steps over UTF-8 shared by the UTF-8 routines.
#pragma once

#include <cstdint>

#include "ombrix/utf8.h"

namespace omb {

inline bool isContinuation(unsigned char b) { return valid_2nd_utf8[b] != 0; }

// The bytes of the character at p when at most `available` bytes may be
// read: the lead byte, then up to the announced number of continuation
// bytes that are really there. At least 1 when available is.
inline uint64_t charSpan(const unsigned char *p, uint64_t available) {
    uint64_t announced = _utf8_len[*p];
    uint64_t limit = announced < available ? announced : available;
    uint64_t span = 1;
    while (span < limit && isContinuation(p[span])) ++span;
    return span;
}

constexpr QVChar kReplacementCharacter = 0xFFFD;

// Decodes one character of at most `available` (at least 1) bytes. A byte
// below 0x80 is itself; a lead byte that may start a character gives its
// payload with the continuation bytes' low six bits, unexamined, or U+FFFD
// over all available bytes when the sequence does not fit; a rejected lead
// byte gives U+FFFD over itself and the continuation bytes it announces.
QVChar readUtf8Char(const unsigned char *p, uint64_t available, uint64_t *consumed);

}  // namespace omb
