// The text services' second half: the normaliser (slot 99 and its slots 0
// and 1), the character property (slot 136) and the "qvnlsudb" extension
// that the property needs.
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <string>

#include "internal.h"

namespace qvh {

namespace {

constexpr int32_t kCombiningProperty = 56;

// Forms of the normaliser: 0 NFC, 1 NFD, 2 NFKC, 3 NFKD.
const icu::Normalizer2 *normalizerForm(int32_t form) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2 *n = nullptr;
    switch (form) {
        case 0: n = icu::Normalizer2::getNFCInstance(status); break;
        case 1: n = icu::Normalizer2::getNFDInstance(status); break;
        case 2: n = icu::Normalizer2::getNFKCInstance(status); break;
        case 3: n = icu::Normalizer2::getNFKDInstance(status); break;
        default: return nullptr;
    }
    return U_SUCCESS(status) ? n : nullptr;
}

// UTF-8 text (ill-formed sequences read as U+FFFD) in normal form `form`.
bool normalized(const icu::Normalizer2 *n, const void *text, int64_t length,
                icu::UnicodeString &out) {
    if (!text || length < 0) length = 0;
    auto in = icu::UnicodeString::fromUTF8(
        icu::StringPiece(static_cast<const char *>(text ? text : ""), static_cast<int32_t>(length)));
    UErrorCode status = U_ZERO_ERROR;
    out = n->normalize(in, status);
    return U_SUCCESS(status);
}

template <int K>
Host *hostOfObject(QVWord *self) {
    return reinterpret_cast<Head<kWords[K]> *>(self)->host;
}

// Slot 0: src, srcLength (bytes of UTF-8), dst, capacity, written, form,
// options (must be 0). The whole normalised text is written, or nothing:
// *written receives its length either way, and a text longer than the
// capacity gives OMBRIX_E_BUFFER_TOO_SMALL. An unknown form gives OMBRIX_E_UNSUPPORTED.
QVStatus normalize(QVWord *self, const void *src, int64_t srcLength, void *dst, int64_t capacity,
                   int64_t *written, int32_t form, int32_t options) {
    if (options != 0)
        unexpected(hostOfObject<kNormalizer>(self), "normaliser", QV_NORMALIZER_NORMALIZE, "options not 0");
    if (written) *written = 0;
    const icu::Normalizer2 *n = normalizerForm(form);
    if (!n) return OMBRIX_E_UNSUPPORTED;
    icu::UnicodeString text;
    if (!normalized(n, src, srcLength, text)) return OMBRIX_E_NO_MEMORY;
    std::string utf8;
    text.toUTF8String(utf8);
    auto length = static_cast<int64_t>(utf8.size());
    if (written) *written = length;
    if (!dst || capacity < length) return OMBRIX_E_BUFFER_TOO_SMALL;
    utf8.copy(static_cast<char *>(dst), utf8.size());
    return 0;
}

// Slot 1: a, aLength, b, bLength, form, result. Both texts normalised to the
// form and compared by code point: *result is -1, 0 or 1.
QVStatus compare(QVWord *, const void *a, int64_t aLength, const void *b, int64_t bLength,
                 int32_t form, int32_t *result) {
    if (result) *result = 0;
    const icu::Normalizer2 *n = normalizerForm(form);
    if (!n) return OMBRIX_E_UNSUPPORTED;
    icu::UnicodeString na, nb;
    if (!normalized(n, a, aLength, na) || !normalized(n, b, bLength, nb)) return OMBRIX_E_NO_MEMORY;
    int8_t order = na.compareCodePointOrder(nb);
    if (result) *result = order < 0 ? -1 : (order > 0 ? 1 : 0);
    return 0;
}

// Slot 99: the handle's one normaliser, which becomes the current one
// (word 138).
QVWord *createNormalizer(QVWord *services) {
    Host *host = hostOfObject<kTextServices>(services);
    services[QV_TEXT_CURRENT_NORMALIZER] = host->normalizer.head.slots;
    return host->normalizer.head.slots;
}

// Slot 136: (code point, property). Property 56 tells whether the code
// point is a mark (general category Mn, Mc or Me), which combines with the
// character before it; it is answered only once word 179 holds the
// "qvnlsudb" extension. Any other property, or 56 asked too early, is a
// call outside the interface.
int32_t charProperty(QVWord *services, QVChar c, int32_t property) {
    Host *host = hostOfObject<kTextServices>(services);
    if (property != kCombiningProperty) {
        unexpected(host, "text services", QV_TEXT_CHAR_PROPERTY, "property other than 56");
        return 0;
    }
    if (services[QV_TEXT_NLSUDB_EXTENSION] != host->nlsData.head.slots) {
        unexpected(host, "text services", QV_TEXT_CHAR_PROPERTY, "\"qvnlsudb\" not loaded");
        return 0;
    }
    auto mask = static_cast<uint32_t>(u_getIntPropertyValue(static_cast<UChar32>(c), UCHAR_GENERAL_CATEGORY_MASK));
    return (mask & U_GC_M_MASK) ? 1 : 0;
}

void *makeNlsData(QVWord *handle, void *) { return hostOf(handle)->nlsData.head.slots; }

}  // namespace

void installNormalizerServices(Host *host) {
    initHead<kNormalizer>(host->normalizer.head, &host->normalizer, host);
    host->normalizer.head.slots[QV_NORMALIZER_NORMALIZE] = slotOf(&normalize);
    host->normalizer.head.slots[QV_NORMALIZER_COMPARE] = slotOf(&compare);
    initHead<kNlsData>(host->nlsData.head, &host->nlsData, host);

    host->text.head.slots[QV_TEXT_CREATE_NORMALIZER] = slotOf(&createNormalizer);
    host->text.head.slots[QV_TEXT_CHAR_PROPERTY] = slotOf(&charProperty);
    std::lock_guard<std::recursive_mutex> guard(host->extensionMutex);
    host->extensions["qvnlsudb"] = Extension{&makeNlsData, nullptr, nullptr};
}

}  // namespace qvh
