/* Marks the functions the shared library exports. Everything else is
 * hidden, and the linker's version script keeps the list exact. */
#ifndef OMBRIX_EXPORT_H
#define OMBRIX_EXPORT_H

#if defined(OMBRIX_BUILDING)
#define OMBRIX_API __attribute__((visibility("default")))
#else
#define OMBRIX_API
#endif

#endif
