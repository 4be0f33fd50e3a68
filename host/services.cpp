// Extension lookup (handle slot 9 and the text services' loader), the text
// services object (slot 27) and the conversion services with their
// transcoder (slot 43).
#include <unicode/uchar.h>
#include <cstring>
#include <string>

#include "internal.h"

namespace qvh {

namespace {

// A QVChar name as the 8-bit name it was registered under; false when a
// unit is outside ASCII (no registered name can match it).
bool asciiName(const QVChar *name, int32_t length, std::string &out) {
    if (!name) return false;
    size_t n = 0;
    if (length < 0)
        while (name[n]) ++n;
    else
        n = static_cast<size_t>(length);
    out.clear();
    for (size_t i = 0; i < n; ++i) {
        if (name[i] == 0 || name[i] >= 0x80) return false;
        out += static_cast<char>(name[i]);
    }
    return true;
}

void *handleFindExtension(QVWord *handle, const QVChar *name, int32_t length, int32_t zero) {
    Host *host = hostOf(handle);
    if (zero != 0) unexpected(host, "handle", QV_HOST_FIND_EXTENSION, "fourth argument is not 0");
    return findExtension(host, name, length);
}

void *loaderLoad(QVWord *self, const QVChar *name, int32_t length, int32_t zero) {
    Host *host = objectOf<Loader, kWords[kLoader]>(self)->head.host;
    if (zero != 0) unexpected(host, "extension loader", QV_LOADER_LOAD, "fourth argument is not 0");
    return findExtension(host, name, length);
}

// Simple (one code point to one) case mapping, from ICU's character data.
// Mode 1 maps; mode 0 asks the lower-case slot for the case fold, which
// differs from the lower case only for a few characters (U+0130, U+03C2,
// U+1E9E ...). Upper-casing has no fold, so its mode makes no difference.
QVChar toUpper(QVWord *, QVChar c, int32_t) { return static_cast<QVChar>(u_toupper(static_cast<UChar32>(c))); }
QVChar toLower(QVWord *, QVChar c, int32_t mode) {
    auto cp = static_cast<UChar32>(c);
    return static_cast<QVChar>(mode == 0 ? u_foldCase(cp, U_FOLD_CASE_DEFAULT) : u_tolower(cp));
}

// Transcoder slot 4: UTF-32 units (host byte order) into UTF-8. Whole
// characters only: one that does not fit ends the conversion with
// OMBRIX_E_BUFFER_TOO_SMALL, an invalid code point (a surrogate or above U+10FFFF)
// with OMBRIX_E_INVALID_SEQUENCE, a source length that is not a whole number of
// units with OMBRIX_E_TRUNCATED once the whole units are converted. *outBytes
// is the number of bytes written in every case. The options record is not
// read.
QVStatus transcode(QVWord *, const void *source, int64_t sourceBytes, void *destination,
                   int64_t capacity, int64_t *outBytes, const void *) {
    auto *in = static_cast<const unsigned char *>(source);
    auto *out = static_cast<unsigned char *>(destination);
    int64_t written = 0;
    QVStatus status = 0;
    if (!in || sourceBytes < 0) sourceBytes = 0;
    if (!out || capacity < 0) capacity = 0;
    int64_t units = sourceBytes / 4;
    for (int64_t i = 0; i < units; ++i) {
        QVChar c;
        std::memcpy(&c, in + 4 * i, 4);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            status = OMBRIX_E_INVALID_SEQUENCE;
            break;
        }
        unsigned char bytes[4];
        int n;
        if (c < 0x80) {
            bytes[0] = static_cast<unsigned char>(c);
            n = 1;
        } else if (c < 0x800) {
            bytes[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
            bytes[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            n = 2;
        } else if (c < 0x10000) {
            bytes[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
            bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            bytes[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            n = 3;
        } else {
            bytes[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
            bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
            bytes[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            bytes[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            n = 4;
        }
        if (capacity - written < n) {
            status = OMBRIX_E_BUFFER_TOO_SMALL;
            break;
        }
        std::memcpy(out + written, bytes, static_cast<size_t>(n));
        written += n;
    }
    if (status == 0 && sourceBytes % 4 != 0) status = OMBRIX_E_TRUNCATED;
    if (outBytes) *outBytes = written;
    return status;
}

}  // namespace

void *findExtension(Host *host, const QVChar *name, int32_t length) {
    std::string key;
    if (!asciiName(name, length, key)) return nullptr;
    std::lock_guard<std::recursive_mutex> guard(host->extensionMutex);
    auto found = host->extensions.find(key);
    if (found == host->extensions.end()) return nullptr;
    Extension &extension = found->second;
    if (!extension.made) extension.made = extension.factory(host->head.slots, extension.data);
    return extension.made;
}

void installTextServices(Host *host) {
    host->head.slots[QV_HOST_FIND_EXTENSION] = slotOf(&handleFindExtension);

    initHead<kLoader>(host->loader.head, &host->loader, host);
    host->loader.head.slots[QV_LOADER_LOAD] = slotOf(&loaderLoad);

    initHead<kTextServices>(host->text.head, &host->text, host);
    host->text.head.slots[QV_TEXT_EXTENSION_LOADER] = host->loader.head.slots;
    host->text.head.slots[QV_TEXT_TO_UPPER] = slotOf(&toUpper);
    host->text.head.slots[QV_TEXT_TO_LOWER] = slotOf(&toLower);
    host->text.head.slots[QV_TEXT_CURRENT_NORMALIZER] = nullptr;
    host->text.head.slots[QV_TEXT_NLSUDB_EXTENSION] = nullptr;
    host->head.slots[QV_HOST_TEXT_SERVICES] = host->text.head.slots;
    installNormalizerServices(host);

    initHead<kTranscoder>(host->transcoder.head, &host->transcoder, host);
    host->transcoder.head.slots[QV_TRANSCODER_CONVERT] = slotOf(&transcode);
    initHead<kConversionServices>(host->conversion.head, &host->conversion, host);
    host->conversion.head.slots[QV_CONVERSION_TRANSCODER] = host->transcoder.head.slots;
    host->head.slots[QV_HOST_CONVERSION_SERVICES] = host->conversion.head.slots;
}

}  // namespace qvh

extern "C" {

int qvhostRegisterExtension(QVWord *handle, const char *name, QVHostExtensionFactory factory,
                            void *data) {
    qvh::Host *host = qvh::hostOf(handle);
    if (!host || !name || !*name || !factory) return -1;
    for (const char *p = name; *p; ++p)
        if (static_cast<unsigned char>(*p) >= 0x80) return -1;
    std::lock_guard<std::recursive_mutex> guard(host->extensionMutex);
    host->extensions[name] = qvh::Extension{factory, data, nullptr};
    return 0;
}

}  // extern "C"
