// Shared by the demo's family tours: each tour binds the exported names it
// needs and prints a few lines about what they did.
#pragma once

#include <dlfcn.h>

#include <cstdio>

#include "ombrix/extension.h"

template <typename T>
inline bool bind(void *library, const char *name, T *out) {
    *out = reinterpret_cast<T>(dlsym(library, name));
    if (!*out) std::fprintf(stderr, "ombrix-demo: %s is not exported\n", name);
    return *out != nullptr;
}

// One tour per family, called in this order by main. Container tours also
// get the extension record, whose factory table creates their containers,
// and create their own pools from the host handle.
void textTour(void *library);
void utf8Tour(void *library);
void stringBufferTour(QVWord *host, const OmbrixExtension *ext);
// The array list, linked list, storage and thin array list, made through the
// factory and thin array list tables.
void listsTour(OmbrixExtension *ext, QVWord *host);
void treeTour(void *library, OmbrixExtension *ext);
// A chained hash map of integer keys and copied values, made through the
// factory table.
void hashMapTour(OmbrixExtension *ext);
