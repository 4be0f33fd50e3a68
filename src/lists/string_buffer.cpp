// The string buffer: one growable, always NUL-terminated array of UTF-8
// text, from the caller's pool.
//
// Invariant, kept by every operation: `text` holds capacity + 1 bytes and
// the bytes from `length` on are zero. The array only ever comes zero-filled
// from the pool and appends only write below the new length, so the text is
// terminated without a store of its own.
#include "lists/string_buffer.h"

#include <cstring>

#include "core/export.h"
#include "core/host_calls.h"
#include "ombrix/container.h"
#include "ombrix/messages.h"
#include "ombrix/primitives.h"
#include "ombrix/utf8.h"
#include "text/utf8.h"

using Buffer = OmbrixStringBuffer;

namespace {

constexpr uint64_t kDefaultCapacity = 32;

// Numbers are formatted into fixed stack buffers: no allocation, and a
// number whose text does not fit fails with the formatter's status.
constexpr int32_t kNumberUnits = 30;
constexpr int64_t kNumberBytes = 30;

// "%ld" and the default "%f", in QVChar units.
constexpr QVChar kIntegerFormat[] = {'%', 'l', 'd'};
constexpr int32_t kIntegerFormatUnits = 3;
constexpr QVChar kDoubleFormat[] = {'%', 'f'};
constexpr int32_t kDoubleFormatUnits = 2;

// The transcoder's options, zeroed, one record for each number kind.
struct TranscoderOptions {
    uint64_t words[8];
};
const TranscoderOptions intOpts = {};
const TranscoderOptions doubleOpts = {};

bool mayAppend(const Buffer *buffer, const int32_t *status) {
    // The status is required; a missing one is treated like a failed one.
    return buffer && status && *status == 0;
}

// One and a half times the capacity, saturating instead of wrapping.
uint64_t halfAgainSaturating(uint64_t capacity) {
    uint64_t half = capacity / 2;
    return capacity > UINT64_MAX - half ? UINT64_MAX : capacity + half;
}

// Appends n bytes into a new, larger array: the larger of `needed` and one
// and a half times the capacity, so appends stay amortised constant time.
// The piece is copied before the old array goes back to the pool, so it may
// lie in the buffer's own text. False, with nothing changed, when the pool
// refuses the array. Kept out of line: the append that fits is the one
// that must be fast.
__attribute__((noinline, cold)) bool appendGrowing(Buffer *buffer, const char *piece, uint64_t n,
                                                   uint64_t needed) {
    uint64_t grown = halfAgainSaturating(buffer->capacity);
    uint64_t capacity = needed > grown ? needed : grown;
    if (capacity == UINT64_MAX) return false;  // capacity + 1 bytes cannot be asked for
    auto *text = static_cast<char *>(omb::poolAllocateZeroed(buffer->pool, capacity + 1));
    if (!text) return false;
    qvmemcpy(text, buffer->text, buffer->length);
    qvmemcpy(text + buffer->length, piece, n);
    omb::poolFree(buffer->pool, buffer->text);
    buffer->text = text;
    buffer->capacity = capacity;
    buffer->length = needed;
    return true;
}

// Formats one number through the host's buffer formatter, converts the units
// to UTF-8 with the host's transcoder and appends the bytes through the
// buffer's own addString. A host without a transcoder gives
// OMBRIX_E_UNSUPPORTED; any status of the formatter or the transcoder
// becomes the caller's status, and nothing is appended.
template <typename Number>
Buffer *appendNumber(Buffer *buffer, const QVChar *format, int32_t formatLength,
                     const TranscoderOptions &options, int32_t *status, Number value) {
    QVWord *transcoder = omb::hostTranscoder(omb::currentHost());
    if (!transcoder) {
        *status = static_cast<int32_t>(OMBRIX_E_UNSUPPORTED);
        return buffer;
    }
    QVChar units[kNumberUnits] = {};
    int32_t unitCount = 0;
    QVStatus formatted = qvzFormatBuff(nullptr, format, formatLength, units, kNumberUnits,
                                       &unitCount, value);
    if (formatted != 0) {
        *status = static_cast<int32_t>(formatted);
        return buffer;
    }
    // The host promises at most kNumberUnits; a host that says otherwise
    // still gets no read outside the buffer.
    if (unitCount < 0) unitCount = 0;
    if (unitCount > kNumberUnits) unitCount = kNumberUnits;

    char bytes[kNumberBytes] = {};
    int64_t byteCount = 0;
    QVStatus converted = omb::transcode(transcoder, units, int64_t{unitCount} * 4, bytes,
                                        kNumberBytes, &byteCount, &options);
    if (converted != 0) {
        *status = static_cast<int32_t>(converted);
        return buffer;
    }
    if (byteCount < 0) byteCount = 0;
    if (byteCount > kNumberBytes) byteCount = kNumberBytes;
    return buffer->addString(buffer, bytes, static_cast<uint64_t>(byteCount), status);
}

}  // namespace

extern "C" {

OMBRIX_API Buffer *stringBufferNew(QVWord *pool, uint64_t capacity) {
    if (!pool) return nullptr;
    if (capacity == 0) capacity = kDefaultCapacity;
    if (capacity == UINT64_MAX) return nullptr;  // capacity + 1 bytes cannot be asked for
    // Every member is set below: the object need not come zero-filled.
    auto *buffer = static_cast<Buffer *>(omb::poolAllocate(pool, sizeof(Buffer), 0));
    if (!buffer) return nullptr;
    buffer->text = static_cast<char *>(omb::poolAllocateZeroed(pool, capacity + 1));
    if (!buffer->text) {
        // The pool is the caller's: give the object back rather than leave it there.
        omb::poolFree(pool, buffer);
        return nullptr;
    }
    buffer->length = 0;
    buffer->pool = pool;
    buffer->capacity = capacity;
    buffer->addString = stringBufferAddString;
    buffer->addInt = stringBufferAddInt;
    buffer->addDouble = stringBufferAddDouble;
    buffer->destroy = stringBufferDestroy;
    buffer->reset = stringBufferReset;
    return buffer;
}

OMBRIX_LINE_START Buffer *stringBufferAddString(Buffer *buffer, const char *piece, uint64_t n,
                                             int32_t *status) {
    if (!mayAppend(buffer, status) || !piece) return buffer;
    if (n == 0) n = omb::wholeCharacterLength(piece);  // UTF8_BLEN without its calls
    if (n > UINT64_MAX - buffer->length) {
        // No pool can hold it; report it as the refused array it would need.
        *status = static_cast<int32_t>(OMBRIX_E_NO_MEMORY);
        return buffer;
    }
    uint64_t needed = buffer->length + n;
    // The array grows when the text would reach the capacity, not only when
    // it would pass it.
    if (needed >= buffer->capacity) {
        bool grown = appendGrowing(buffer, piece, n, needed);
        *status = grown ? 0 : static_cast<int32_t>(OMBRIX_E_NO_MEMORY);
        return buffer;
    }
    // memmove: the piece may be a part of the text itself. Called directly,
    // not through the exported qvmemmove, which a short piece would pay for
    // with a second call; and last, so that the buffer is all that must
    // outlive the call.
    char *end = buffer->text + buffer->length;
    buffer->length = needed;
    *status = 0;
    std::memmove(end, piece, n);
    return buffer;
}

Buffer *stringBufferAddInt(Buffer *buffer, int32_t value, int32_t *status) {
    if (!mayAppend(buffer, status)) return buffer;
    // "%ld" reads a 64-bit argument.
    return appendNumber(buffer, kIntegerFormat, kIntegerFormatUnits, intOpts, status,
                        static_cast<long>(value));
}

Buffer *stringBufferAddDouble(Buffer *buffer, const QVChar *format, int32_t formatLength,
                              int32_t *status, double value) {
    if (!mayAppend(buffer, status)) return buffer;
    // A format length of 0 means two units. Without a format of the caller's
    // the default "%f" is used whole, whatever length was given, so the
    // formatter never reads past it. Other lengths reach the host unchanged
    // (its formatter reads a negative one up to a zero unit).
    if (!format) {
        format = kDoubleFormat;
        formatLength = kDoubleFormatUnits;
    } else if (formatLength == 0) {
        formatLength = kDoubleFormatUnits;
    }
    return appendNumber(buffer, format, formatLength, doubleOpts, status, value);
}

void stringBufferReset(Buffer *buffer) {
    if (!buffer) return;
    buffer->length = 0;
    qvmemset(buffer->text, 0, buffer->capacity);
}

void stringBufferDestroy(Buffer *buffer, uint8_t freeText) {
    if (!buffer || !buffer->pool) return;
    QVWord *pool = buffer->pool;
    if (freeText) omb::poolFree(pool, buffer->text);
    omb::poolFree(pool, buffer);
}

}  // extern "C"
