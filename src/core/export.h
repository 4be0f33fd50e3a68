/* Marks the functions the shared library exports. Everything else is
 * hidden, and the linker's version script keeps the list exact. */
#ifndef OMBRIX_EXPORT_H
#define OMBRIX_EXPORT_H

#if defined(OMBRIX_BUILDING)
#define OMBRIX_API __attribute__((visibility("default")))
#else
#define OMBRIX_API
#endif

/* Starts a hot entry on a 64-byte line of its own. A host calls such an
 * entry once per element or per run, so its speed must not depend on where
 * the linker places it: the same machine code of linkedListAddLast ran 11%
 * slower, and the UTF-32 to UTF-8 loop lost a fifth of its ASCII rate, when
 * their first bytes moved from the start of a line to its middle. */
#define OMBRIX_LINE_START __attribute__((aligned(64)))

#endif
