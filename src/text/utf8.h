// Steps over UTF-8 shared by the UTF-8 routines.
#pragma once

#include <cstdint>

#include "extension/host_calls.h"
#include "ombrix/utf8.h"

namespace omb {

// The host's text services object, or null when there is no host or it
// offers none.
inline QVWord *textServices() {
    QVWord *host = currentHost();
    return host ? slotValue<QVWord *>(host, QV_HOST_TEXT_SERVICES) : nullptr;
}

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

// One character of at most `available` (at least 1) bytes decoded with
// UTF8_UTF32: its code point (U+FFFD for a sequence it rejects or that does
// not fit), *consumed its bytes.
QVChar readUtf8Char(const unsigned char *p, uint64_t available, uint64_t *consumed);

}  // namespace omb
