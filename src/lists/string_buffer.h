// The string buffer inside the library. The object layout is the public one
// (ombrix/string_buffer.h); only stringBufferNew is exported, the other
// operations are reached through the object, or called here by name:
//
//   int32_t status = 0;
//   OmbrixStringBuffer *b = stringBufferNew(pool, 0);  // 32 bytes to start
//   stringBufferAddString(b, "id=", 0, &status);
//   stringBufferAddInt(b, id, &status);                // "%ld" by the host
//   if (status == 0) use(b->text, b->length);
//   stringBufferDestroy(b, true);
#pragma once

#include <cstddef>

#include "ombrix/string_buffer.h"

// The object layout hosts read by offset.
static_assert(sizeof(OmbrixStringBuffer) == 9 * 8);
static_assert(offsetof(OmbrixStringBuffer, length) == 0);
static_assert(offsetof(OmbrixStringBuffer, text) == 8);
static_assert(offsetof(OmbrixStringBuffer, pool) == 16);
static_assert(offsetof(OmbrixStringBuffer, capacity) == 24);
static_assert(offsetof(OmbrixStringBuffer, addString) == 32);
static_assert(offsetof(OmbrixStringBuffer, addInt) == 40);
static_assert(offsetof(OmbrixStringBuffer, addDouble) == 48);
static_assert(offsetof(OmbrixStringBuffer, destroy) == 56);
static_assert(offsetof(OmbrixStringBuffer, reset) == 64);

extern "C" {

OmbrixStringBuffer *stringBufferAddString(OmbrixStringBuffer *buffer, const char *piece,
                                          uint64_t n, int32_t *status);
OmbrixStringBuffer *stringBufferAddInt(OmbrixStringBuffer *buffer, int32_t value,
                                       int32_t *status);
OmbrixStringBuffer *stringBufferAddDouble(OmbrixStringBuffer *buffer, const QVChar *format,
                                          int32_t formatLength, int32_t *status, double value);
void stringBufferDestroy(OmbrixStringBuffer *buffer, uint8_t freeText);
void stringBufferReset(OmbrixStringBuffer *buffer);

}
