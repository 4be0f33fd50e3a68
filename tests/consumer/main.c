/* Links against the installed library and reads its version record. */
#include <stdio.h>
#include <string.h>

#include "ombrix/ombrix.h"

int main(void) {
    OmbrixVersionRecord record;
    if (qvvercn1(&record) != 0) return 1;
    const char *name = (const char *)(uintptr_t)record.words[0];
    if (strcmp(name, "ombrix") != 0) return 1;
    /* i32div(7, -2): quotient -3 low, remainder 1 high. */
    if ((uint64_t)i32div(7, -2) != 0x00000001fffffffdull) return 1;
    printf("consumer: %s %s\n", name, (const char *)(uintptr_t)record.words[1]);
    return 0;
}
