// The text routines, reached by name like everything else.
#include <cstdint>
#include <cstdio>

#include "demo.h"

void textTour(void *library) {
    void (*strUp)(char *, uint64_t) = nullptr;
    void (*toLower)(QVChar *, int64_t) = nullptr;
    void (*toMin)(QVChar *, int64_t) = nullptr;
    int32_t (*compare)(const QVChar *, int64_t, const QVChar *, int64_t) = nullptr;
    if (!bind(library, "ybStrUp", &strUp) || !bind(library, "qvzstlo", &toLower) ||
        !bind(library, "qvzstmin", &toMin) || !bind(library, "qvzsncmp", &compare))
        return;
    char ascii[] = "hello, qv host";
    strUp(ascii, sizeof ascii - 1);
    std::printf("ybStrUp: \"%s\"\n", ascii);
    QVChar greek[] = {0x0391, 0x0392, 0x0393, 0x00C0, 0x0130};
    toLower(greek, 5);
    std::printf("qvzstlo: U+0391 U+0392 U+0393 U+00C0 U+0130 -> U+%04X U+%04X U+%04X U+%04X U+%04X\n",
                greek[0], greek[1], greek[2], greek[3], greek[4]);
    QVChar classes[] = {0x0131, 0x017F, 0x212A};
    toMin(classes, 3);
    std::printf("qvzstmin: U+0131 U+017F U+212A -> U+%04X U+%04X U+%04X\n", classes[0], classes[1],
                classes[2]);
    const QVChar a[] = {'a', 'b', 'c'}, b[] = {'A', 'B', 'C', ' ', ' '};
    std::printf("qvzsncmp(\"abc\", \"ABC  \") = %d (equal apart from case)\n", compare(a, 3, b, 5));
}

