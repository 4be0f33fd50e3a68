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

}  // namespace omb
