// Steps over UTF-8 shared by the UTF-8 routines.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/host_calls.h"
#include "ombrix/utf8.h"
#include "text/utf8_rules.h"

namespace omb {

// The host's text services object, or null when there is no host or it
// offers none.
inline QVWord *textServices() { return hostTextServices(currentHost()); }

inline bool isContinuation(unsigned char b) { return utf8rules::valid_2nd_utf8(b); }

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

// The first n bytes of s cut back to the last whole character: a final
// sequence that n cuts short is left out, and an invalid lead byte where
// the cut lands gives 0. Inline, so that appends measuring a piece pay
// one call (strlen) for it.
inline uint64_t wholeCharacterPrefix(const char *s, uint64_t n) {
    if (n == 0) return 0;
    auto *p = reinterpret_cast<const unsigned char *>(s);
    if (p[n - 1] < 0x80) return n;
    uint64_t lead = n - 1;
    while (lead > 0 && isContinuation(p[lead])) --lead;
    if (!valid_1st_utf8[p[lead]]) return 0;
    uint64_t end = lead + _utf8_len[p[lead]];
    return end <= n ? end : lead;
}

// UTF8_BLEN: a NUL-terminated string's bytes up to its last whole character.
inline uint64_t wholeCharacterLength(const char *s) {
    return s ? wholeCharacterPrefix(s, std::strlen(s)) : 0;
}

constexpr QVChar kReplacementCharacter = 0xFFFD;

// One character of at most `available` (at least 1) bytes decoded with
// UTF8_UTF32: its code point (U+FFFD for a sequence it rejects or that does
// not fit), *consumed its bytes.
QVChar readUtf8Char(const unsigned char *p, uint64_t available, uint64_t *consumed);

}  // namespace omb
