// The string buffer, made through the factory table as a host would: text,
// integers and doubles appended through the object, one status for the
// whole chain.
#include <cinttypes>
#include <cstdio>

#include "demo.h"
#include "ombrix/string_buffer.h"
#include "qvhost.h"

void stringBufferTour(QVWord *host, const OmbrixExtension *ext) {
    auto make = reinterpret_cast<OmbrixStringBuffer *(*)(QVWord *, uint64_t)>(
        ext->factoryTable[OMBRIX_FACTORY_STRING_BUFFER_NEW]);
    if (!make) {
        std::printf("string buffer: not in the factory table\n");
        return;
    }
    QVPoolOptions options{};
    auto createPool = reinterpret_cast<QVCreatePoolFn>(host[QV_HOST_CREATE_POOL]);
    auto *pool = static_cast<QVWord *>(createPool(host, &options, nullptr, "demo strings"));
    if (!pool) return;

    OmbrixStringBuffer *b = make(pool, 0);
    if (!b) {
        reinterpret_cast<QVPoolDestroyFn>(pool[QV_POOL_DESTROY])(pool);
        return;
    }
    int32_t status = 0;
    const QVChar twoPlaces[] = {'%', '.', '2', 'f', ' ', 0x20AC};
    b->addString(b, "order ", 0, &status)
        ->addInt(b, -42, &status)
        ->addString(b, ": ", 0, &status)
        ->addDouble(b, twoPlaces, 6, &status, 1234.5)
        ->addString(b, ", default format ", 0, &status)
        ->addDouble(b, nullptr, 0, &status, 0.125);
    std::printf("string buffer: \"%s\" (%" PRIu64 " bytes, capacity %" PRIu64 ", status 0x%08x)\n",
                b->text, b->length, b->capacity, static_cast<unsigned>(status));

    // A number longer than the 30-unit formatting buffer fails once and
    // stops the rest of the chain.
    b->addDouble(b, nullptr, 0, &status, 1e300)->addString(b, " never appended", 0, &status);
    const char *meaning = qvhostStatusMeaning(static_cast<QVStatus>(status));
    std::printf("string buffer: 1e300 with \"%%f\" gives status 0x%08x (%s); still %" PRIu64
                " bytes\n",
                static_cast<unsigned>(status), meaning ? meaning : "?", b->length);
    b->destroy(b, 1);
    reinterpret_cast<QVPoolDestroyFn>(pool[QV_POOL_DESTROY])(pool);
}
