/* ombrix: records and rules shared by every container family.
 *
 * Keys are described by a key definition: a mode and, for composite keys, an
 * array of key parts, each a typed field reached from the item through an
 * access path of up to five offsets. Iterators are small records returned by
 * value whose operations take the iterator itself. */
#ifndef OMBRIX_CONTAINER_H
#define OMBRIX_CONTAINER_H

#include <stdint.h>

#include "ombrix/host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes returned by the library. */
#define OMBRIX_OK                  0x00000000u
#define OMBRIX_E_NO_MEMORY         0x803fc002u /* a pool allocation failed */
#define OMBRIX_E_UNSUPPORTED       0x803fc004u
#define OMBRIX_E_NO_CONTEXT        0x803fc009u /* no message context available */
#define OMBRIX_E_BUFFER_TOO_SMALL  0x803fe807u
#define OMBRIX_E_INVALID_SEQUENCE  0x803fe808u /* replaced by U+FFFD */
#define OMBRIX_E_TRUNCATED         0x803fe814u /* input ends inside a sequence */

/* Key modes. */
#define OMBRIX_KEY_COMPOSITE   0u /* the concatenated key parts */
#define OMBRIX_KEY_VARIABLE    1u /* the first n bytes at the item */
#define OMBRIX_KEY_REFERENCE   2u /* the item pointer itself, or its parts */
#define OMBRIX_KEY_REFERENCE_UNSUMMED 3u /* hash map only */

/* Key part types. Any other value is a string of QVChar units. */
#define OMBRIX_PART_INT32  0u
#define OMBRIX_PART_DOUBLE 1u
#define OMBRIX_PART_BYTES  2u
#define OMBRIX_PART_INT64  5u

#define OMBRIX_MAX_LEVELS 5

/* Storage mode of list elements (the lists' keyType). */
#define OMBRIX_BY_REFERENCE 1u

/* flags bit 0: the container creates no lock (and its own pool unlocked). */
#define OMBRIX_FLAG_NO_LOCK 0x1u

typedef struct OmbrixKeyPart {
    uint32_t partType;
    int32_t partSize;   /* bytes the field contributes to the key */
    int32_t levels;     /* offsets in the access path; 1 = inside the item */
    int32_t offsets[OMBRIX_MAX_LEVELS];
    uint32_t partOption; /* a non-zero low byte orders this part descending */
} OmbrixKeyPart;

typedef struct OmbrixKeyDefinition {
    uint32_t keyMode;
    int32_t keyPartCount;
    OmbrixKeyPart *keyParts;
    uint8_t reverseOrder;
} OmbrixKeyDefinition;

/* The hash map's and the tree's parameter records begin with the four
 * members of a key definition and go on where a whole definition ends, at
 * byte 24: their next member is placed there, past the definition's
 * padding. */
#ifdef __cplusplus
#define OMBRIX_AFTER_KEY_DEFINITION alignas(8)
#else
#define OMBRIX_AFTER_KEY_DEFINITION _Alignas(8)
#endif

typedef struct OmbrixIterator OmbrixIterator;
struct OmbrixIterator {
    uint8_t hasNext;
    void *(*next)(OmbrixIterator *it);
    int32_t (*size)(OmbrixIterator *it);
    void (*release)(OmbrixIterator *it);
    QVStatus (*reset)(OmbrixIterator *it, void *container);
    void *state;
};

typedef struct OmbrixBlob {
    QVWord *blobPool;       /* holds the record and the data */
    uint64_t blobByteCount;
    void *blobData;
} OmbrixBlob;

/* Builds the key of `item` into `keyBuffer`. With `extract` false the item
 * already is a key. The buffer holds at least keySize bytes (composite keys:
 * the sum of the part sizes; mode 2: 8 bytes). Nothing is written when the
 * definition, item or buffer is null, or when a part is unusable: a positive
 * keyPartCount without keyParts, a negative partSize, levels outside 1..5. */
void ombrixGetKey(const OmbrixKeyDefinition *keyDefinition, uint8_t extract, const void *item,
                  void *keyBuffer, int32_t keySize);

#ifdef __cplusplus
}
#endif

#endif
