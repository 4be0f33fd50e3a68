// Message services of the handle (slots 229 .. 233): the buffer formatter
// over QVChar text, status texts, and the record of the last call that
// tests read back through qvhostLastMessageCall.
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

#include "internal.h"

namespace qvh {

namespace {

// The context a service works in: the first word of what it was given (a
// {context, 0} record or a holder), else the handle's default context.
void *resolveContext(Host *host, void *argument, void **seen) {
    *seen = nullptr;
    if (!argument) return nullptr;
    void *context = *static_cast<void **>(argument);
    *seen = context;
    if (context) return context;
    auto *word = static_cast<void **>(host->head.slots[QV_HOST_DEFAULT_MSG_CONTEXT]);
    return word ? *word : nullptr;
}

QVStatus finish(Host *host, const QVHostMessageCall &call, QVStatus result) {
    std::lock_guard<std::mutex> guard(host->messageMutex);
    host->lastMessage = call;
    host->lastMessage.result = result;
    ++host->messageCalls;
    return result;
}

// Output of the formatter: at most `capacity` units; once one does not fit,
// nothing more is written.
class Units {
  public:
    Units(QVChar *out, int32_t capacity) : out_(out), capacity_(out && capacity > 0 ? capacity : 0) {}
    void put(QVChar c) {
        if (n_ < capacity_)
            out_[n_++] = c;
        else
            full_ = true;
    }
    void pad(int count, QVChar c) {
        for (int i = 0; i < count && !full_; ++i) put(c);
    }
    void bytes(const char *s, size_t n) {
        for (size_t i = 0; i < n && !full_; ++i) put(static_cast<unsigned char>(s[i]));
    }
    bool full() const { return full_; }
    int32_t written() const { return n_; }

  private:
    QVChar *out_;
    int32_t capacity_;
    int32_t n_ = 0;
    bool full_ = false;
};

enum class Length { None, Char, Short, Long, LongLong, Max, Size, Diff, LongDouble };

struct Directive {
    bool left = false;
    std::string flags;  // as written, for the numeric conversions
    int width = -1;
    int precision = -1;
    Length length = Length::None;
    char conversion = 0;
};

bool isAscii(QVChar c) { return c < 0x80; }

// Parses the directive after a '%' at format[i]; returns the index after it,
// or 0 when the text there is no directive.
size_t parseDirective(const QVChar *format, size_t n, size_t i, Directive &d, va_list &ap) {
    auto at = [&](size_t k) -> char { return k < n && isAscii(format[k]) ? static_cast<char>(format[k]) : 0; };
    for (char c; (c = at(i)) && std::strchr("-+ #0", c); ++i) {
        if (c == '-') d.left = true;
        d.flags += c;
    }
    if (at(i) == '*') {
        int w = va_arg(ap, int);
        if (w < 0) {
            d.left = true;
            d.flags += '-';
            w = -w;
        }
        d.width = w;
        ++i;
    } else if (at(i) >= '0' && at(i) <= '9') {
        d.width = 0;
        for (; at(i) >= '0' && at(i) <= '9'; ++i) d.width = d.width * 10 + (at(i) - '0');
    }
    if (at(i) == '.') {
        ++i;
        d.precision = 0;
        if (at(i) == '*') {
            int p = va_arg(ap, int);
            d.precision = p < 0 ? -1 : p;
            ++i;
        } else {
            for (; at(i) >= '0' && at(i) <= '9'; ++i) d.precision = d.precision * 10 + (at(i) - '0');
        }
    }
    switch (at(i)) {
    case 'h':
        d.length = at(i + 1) == 'h' ? (++i, Length::Char) : Length::Short;
        ++i;
        break;
    case 'l':
        d.length = at(i + 1) == 'l' ? (++i, Length::LongLong) : Length::Long;
        ++i;
        break;
    case 'q': d.length = Length::LongLong; ++i; break;
    case 'j': d.length = Length::Max; ++i; break;
    case 'z': d.length = Length::Size; ++i; break;
    case 't': d.length = Length::Diff; ++i; break;
    case 'L': d.length = Length::LongDouble; ++i; break;
    default: break;
    }
    char c = at(i);
    if (!c || !std::strchr("diuoxXcsSfFeEgGaAp%", c)) return 0;
    d.conversion = c;
    return i + 1;
}

long long signedArgument(Length length, va_list &ap) {
    switch (length) {
    case Length::Char: return static_cast<signed char>(va_arg(ap, int));
    case Length::Short: return static_cast<short>(va_arg(ap, int));
    case Length::Long: return va_arg(ap, long);
    case Length::LongLong: return va_arg(ap, long long);
    case Length::Max: return va_arg(ap, intmax_t);
    case Length::Size: return va_arg(ap, ptrdiff_t);
    case Length::Diff: return va_arg(ap, ptrdiff_t);
    default: return va_arg(ap, int);
    }
}

unsigned long long unsignedArgument(Length length, va_list &ap) {
    switch (length) {
    case Length::Char: return static_cast<unsigned char>(va_arg(ap, unsigned));
    case Length::Short: return static_cast<unsigned short>(va_arg(ap, unsigned));
    case Length::Long: return va_arg(ap, unsigned long);
    case Length::LongLong: return va_arg(ap, unsigned long long);
    case Length::Max: return va_arg(ap, uintmax_t);
    case Length::Size: return va_arg(ap, size_t);
    case Length::Diff: return static_cast<unsigned long long>(va_arg(ap, ptrdiff_t));
    default: return va_arg(ap, unsigned);
    }
}

// The directives numbers are most often formatted with ("%d", "%ld", "%u",
// "%f", "%.2f": no flags, no width) come from std::to_chars, which writes
// the C library's text (for doubles the exact value, rounded as printf
// rounds) without building and parsing a format again. False: the
// directive needs the C library.
template <typename T>
bool printPlain(Units &out, const Directive &d, T value) {
    if (!d.flags.empty() || d.width >= 0) return false;
    char text[64];
    std::to_chars_result r{};
    if constexpr (std::is_integral_v<T>) {
        bool decimal = d.conversion == 'd' || d.conversion == 'i' || d.conversion == 'u';
        if (d.precision >= 0 || !decimal) return false;
        r = std::to_chars(text, text + sizeof text, value);
    } else if constexpr (std::is_same_v<T, double>) {
        if (d.conversion != 'f' || !std::isfinite(value)) return false;
        r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed,
                          d.precision < 0 ? 6 : d.precision);
    } else {
        return false;
    }
    if (r.ec != std::errc()) return false;  // longer than the stack buffer
    out.bytes(text, static_cast<size_t>(r.ptr - text));
    return true;
}

// The numeric conversions go through the C library's formatting with the
// directive rebuilt in 8-bit form, the length normalised.
template <typename T>
void printNumber(Units &out, const Directive &d, const char *length, T value) {
    if (printPlain(out, d, value)) return;
    std::string cFormat(1, '%');
    cFormat += d.flags;
    if (d.width >= 0) cFormat += std::to_string(d.width);
    if (d.precision >= 0) {
        cFormat += '.';
        cFormat += std::to_string(d.precision);
    }
    cFormat += length;
    cFormat += d.conversion;
    char small[128];
    int n = std::snprintf(small, sizeof small, cFormat.c_str(), value);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof small) {
        out.bytes(small, static_cast<size_t>(n));
        return;
    }
    std::string big(static_cast<size_t>(n), '\0');
    std::snprintf(big.data(), big.size() + 1, cFormat.c_str(), value);
    out.bytes(big.data(), big.size());
}

// %s, %S and %c: the units of the text, cut at the precision, padded with
// blanks to the width.
template <typename Unit>
void printText(Units &out, const Directive &d, const Unit *text, size_t n) {
    if (d.precision >= 0 && static_cast<size_t>(d.precision) < n) n = static_cast<size_t>(d.precision);
    int padding = d.width > static_cast<int>(n) ? d.width - static_cast<int>(n) : 0;
    if (!d.left) out.pad(padding, ' ');
    for (size_t i = 0; i < n && !out.full(); ++i) {
        if constexpr (sizeof(Unit) == 1)
            out.put(static_cast<unsigned char>(text[i]));
        else
            out.put(text[i]);
    }
    if (d.left) out.pad(padding, ' ');
}

size_t unitLength(const QVChar *s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

void printDirective(Units &out, const Directive &d, va_list &ap) {
    static const char kNull[] = "(null)";
    switch (d.conversion) {
    case '%': out.put('%'); break;
    case 'd':
    case 'i': printNumber(out, d, "ll", signedArgument(d.length, ap)); break;
    case 'u':
    case 'o':
    case 'x':
    case 'X': printNumber(out, d, "ll", unsignedArgument(d.length, ap)); break;
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
        if (d.length == Length::LongDouble)
            printNumber(out, d, "L", va_arg(ap, long double));
        else
            printNumber(out, d, "", va_arg(ap, double));
        break;
    case 'p': printNumber(out, d, "", va_arg(ap, void *)); break;
    case 'c': {
        QVChar c = static_cast<QVChar>(va_arg(ap, int));
        Directive plain = d;
        plain.precision = -1;
        printText(out, plain, &c, 1);
        break;
    }
    case 's':
        if (d.length == Length::Long) {
            const QVChar *s = va_arg(ap, const QVChar *);
            if (s)
                printText(out, d, s, unitLength(s));
            else
                printText(out, d, kNull, sizeof kNull - 1);
        } else {
            const char *s = va_arg(ap, const char *);
            if (!s) s = kNull;
            printText(out, d, s, std::strlen(s));
        }
        break;
    case 'S': {
        const QVChar *s = va_arg(ap, const QVChar *);
        if (s)
            printText(out, d, s, unitLength(s));
        else
            printText(out, d, kNull, sizeof kNull - 1);
        break;
    }
    default: break;
    }
}

QVStatus format(const QVChar *fmt, int32_t formatLength, Units &out, va_list &ap) {
    size_t n = 0;
    if (fmt) n = formatLength < 0 ? unitLength(fmt) : static_cast<size_t>(formatLength);
    for (size_t i = 0; i < n && !out.full();) {
        if (fmt[i] != '%') {
            out.put(fmt[i++]);
            continue;
        }
        Directive d;
        size_t after = parseDirective(fmt, n, i + 1, d, ap);
        if (after == 0) {
            // Not a directive this formatter knows: its text is copied.
            out.put(fmt[i++]);
            continue;
        }
        printDirective(out, d, ap);
        i = after;
    }
    return out.full() ? OMBRIX_E_BUFFER_TOO_SMALL : 0;
}

QVStatus capture(QVWord *handle, uintptr_t v1, uintptr_t v2, va_list) {
    Host *host = hostOf(handle);
    QVHostMessageCall call{};
    call.slot = QV_HOST_CAPTURE;
    call.values[0] = v1;
    call.values[1] = v2;
    return finish(host, call, 0);
}

QVStatus formatBuff(QVWord *handle, void *argument, const QVChar *fmt, int32_t formatLength,
                    QVChar *outUnits, int32_t capacity, int32_t *outLength, uintptr_t zero,
                    va_list ap) {
    Host *host = hostOf(handle);
    QVHostMessageCall call{};
    call.slot = QV_HOST_FORMAT_BUFF;
    call.argument = argument;
    call.values[0] = reinterpret_cast<uintptr_t>(fmt);
    call.values[1] = static_cast<uintptr_t>(static_cast<intptr_t>(formatLength));
    call.values[2] = reinterpret_cast<uintptr_t>(outUnits);
    call.values[3] = static_cast<uintptr_t>(static_cast<intptr_t>(capacity));
    call.values[4] = reinterpret_cast<uintptr_t>(outLength);
    call.values[5] = zero;
    if (outLength) *outLength = 0;
    if (!resolveContext(host, argument, &call.context))
        return finish(host, call, OMBRIX_E_NO_CONTEXT);
    Units out(outUnits, capacity);
    va_list copy;
    va_copy(copy, ap);
    QVStatus status = format(fmt, formatLength, out, copy);
    va_end(copy);
    if (outLength) *outLength = out.written();
    return finish(host, call, status);
}

QVStatus render(QVWord *handle, void *argument, uintptr_t v1, uintptr_t v2) {
    Host *host = hostOf(handle);
    QVHostMessageCall call{};
    call.slot = QV_HOST_RENDER;
    call.argument = argument;
    call.values[0] = v1;
    call.values[1] = v2;
    if (!resolveContext(host, argument, &call.context))
        return finish(host, call, OMBRIX_E_NO_CONTEXT);
    return finish(host, call, 0);
}


QVStatus renderFmt(QVWord *handle, void *argument, uintptr_t buffer, uintptr_t capacity,
                   uintptr_t fmt, va_list ap) {
    Host *host = hostOf(handle);
    QVHostMessageCall call{};
    call.slot = QV_HOST_RENDER_FMT;
    call.argument = argument;
    call.values[0] = buffer;
    call.values[1] = capacity;
    call.values[2] = fmt;
    if (!resolveContext(host, argument, &call.context))
        return finish(host, call, OMBRIX_E_NO_CONTEXT);
    std::string text = fmt ? formatText(reinterpret_cast<const char *>(fmt), ap) : std::string();
    return finish(host, call, copyToBuffer(text, buffer, capacity));
}

QVStatus statusBuff(QVWord *handle, void *argument, QVStatus status, uintptr_t buffer,
                    uintptr_t capacity, uintptr_t v3, va_list) {
    Host *host = hostOf(handle);
    QVHostMessageCall call{};
    call.slot = QV_HOST_STATUS_BUFF;
    call.argument = argument;
    call.values[0] = status;
    call.values[1] = buffer;
    call.values[2] = capacity;
    call.values[3] = v3;
    if (!resolveContext(host, argument, &call.context))
        return finish(host, call, OMBRIX_E_NO_CONTEXT);
    const char *meaning = qvhostStatusMeaning(status);
    char text[96];
    int n = std::snprintf(text, sizeof text, "0x%08" PRIx32 ": %s", status,
                          meaning ? meaning : "unknown status");
    return finish(host, call, copyToBuffer(std::string(text, static_cast<size_t>(n)), buffer, capacity));
}

}  // namespace

void installMessageServices(Host *host) {
    host->head.slots[QV_HOST_CAPTURE] = slotOf(&capture);
    host->head.slots[QV_HOST_FORMAT_BUFF] = slotOf(&formatBuff);
    host->head.slots[QV_HOST_RENDER] = slotOf(&render);
    host->head.slots[QV_HOST_RENDER_FMT] = slotOf(&renderFmt);
    host->head.slots[QV_HOST_STATUS_BUFF] = slotOf(&statusBuff);
}

}  // namespace qvh

extern "C" {

const char *qvhostStatusMeaning(QVStatus status) {
    switch (status) {
    case 0: return "success";
    case OMBRIX_E_NO_MEMORY: return "out of memory";
    case OMBRIX_E_UNSUPPORTED: return "unsupported operation";
    case OMBRIX_E_NO_CONTEXT: return "no message context";
    case OMBRIX_E_BUFFER_TOO_SMALL: return "buffer too small";
    case OMBRIX_E_INVALID_SEQUENCE: return "invalid character sequence";
    case OMBRIX_E_TRUNCATED: return "truncated character sequence";
    default: return nullptr;
    }
}

void qvhostLastMessageCall(QVWord *handle, QVHostMessageCall *out) {
    qvh::Host *host = qvh::hostOf(handle);
    if (!out) return;
    *out = QVHostMessageCall{};
    if (!host) return;
    std::lock_guard<std::mutex> guard(host->messageMutex);
    *out = host->lastMessage;
}

uint64_t qvhostMessageCallCount(QVWord *handle) {
    qvh::Host *host = qvh::hostOf(handle);
    if (!host) return 0;
    std::lock_guard<std::mutex> guard(host->messageMutex);
    return host->messageCalls;
}

}  // extern "C"
